#pragma once
#include "platform/SecretStore.h"
#include <QObject>
#include <chrono>
#include <mutex>
#include <optional>

class QDBusConnection;

namespace corvane::platform::linux_ {

// Secrets in the desktop keyring, spoken to over the session bus (org.freedesktop.Secret.Service):
// items of the schema "com.corvane.app.Password" (the "xdg:schema" attribute) with the attributes
// "service" and "account", stored in the default collection. Each store has its own bus connection,
// opened on first use. Every call is bounded by the timeout. Only unlock() ever shows a password
// prompt; otherwise a locked keyring's items read as locked (load: as missing) and writes are refused.
// It hears of a new owner of the service's name through the main thread's event loop.
class SecretServiceStore final : public QObject, public SecretStore {
    Q_OBJECT
public:
    static constexpr const char* schemaName = "com.corvane.app.Password";

    explicit SecretServiceStore(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~SecretServiceStore() override;
    SecretServiceStore(const SecretServiceStore&) = delete;
    SecretServiceStore& operator=(const SecretServiceStore&) = delete;

    struct Availability {
        bool available = false;
        QString reason; // why not, as a plain phrase
        bool answered = false; // a Secret Service answered (its keyring may still be locked)
    };
    // Whether a Secret Service answers and its default keyring is unlocked.
    Availability probe();

    std::optional<QString> load(const QString& service, const QString& account) override;
    SecretLookup lookup(const QString& service, const QString& account) override;
    // Unlock on the service, then the desktop's own prompt; waits for its answer up to promptWait.
    QCoro::Task<bool> unlock(const QString& service, const QString& account) override;
    // Replaces the item in place: the old value stays when the keyring refuses the new one.
    SecretResult save(const QString& service, const QString& account, const QString& secret) override;
    SecretResult remove(const QString& service, const QString& account) override;

    std::chrono::milliseconds timeout() const { return m_timeout; }
    // The unique bus name that provides the Secret Service now, or "" when none does. A new name
    // means the keyring daemon was restarted. Asked once (bounded by the timeout), then kept until
    // the bus announces a change.
    QString owner();

    static constexpr std::chrono::minutes promptWait{3};

private Q_SLOTS:
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    QDBusConnection bus(); // under m_mutex

    const std::chrono::milliseconds m_timeout;
    const QString m_connectionName;
    bool m_connected = false; // m_connectionName names a connection made by this store
    std::mutex m_mutex; // one keyring conversation at a time
    std::mutex m_ownerMutex;
    std::optional<QString> m_owner; // as last heard from the bus; nothing: ask
};

} // namespace corvane::platform::linux_
