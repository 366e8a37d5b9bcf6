#pragma once
// Generic-password items: (service, account) -> secret text.
#include <QString>
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::platform {

struct SecretResult {
    bool ok = false;      // the operation reached the store and succeeded
    QString error;        // a plain sentence naming the cause when ok is false
    explicit operator bool() const { return ok; }
};

// What a lookup found: the secret, nothing, an item that exists but sits in a locked keyring, or
// no answer at all (the keyring that holds the secrets is gone or does not answer).
struct SecretLookup {
    std::optional<QString> secret;
    bool locked = false;      // stored, but unreadable until the keyring is unlocked
    bool unavailable = false; // the store could not be asked: whether the item exists is unknown
};

class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The stored secret, or nothing when there is none or it cannot be read.
    virtual std::optional<QString> load(const QString& service, const QString& account) = 0;
    virtual SecretResult save(const QString& service, const QString& account, const QString& secret) = 0;
    virtual SecretResult remove(const QString& service, const QString& account) = 0;

    // As load, but tells a missing item from one in a locked keyring.
    virtual SecretLookup lookup(const QString& service, const QString& account) {
        return {load(service, account), false};
    }
    // Asks the desktop to unlock the keyring that holds the item: it shows its own password prompt
    // and the task finishes once the user answered (the event loop runs meanwhile). True when the
    // item is no longer locked.
    virtual QCoro::Task<bool> unlock(const QString& service, const QString& account) {
        co_return !lookup(service, account).locked;
    }
};

} // namespace corvane::platform
