#pragma once
// Short secrets (API keys, the device id) as items of the user's secret store, keyed by account
// under the service "com.corvane.app".
#include "platform/SecretStore.h"
#include <QString>
#include <optional>

namespace corvane::stores {

class KeychainHelper {
public:
    static constexpr const char* service = "com.corvane.app";

    explicit KeychainHelper(platform::SecretStore& store);

    // Replaces the item's value in one write: the old value stays when the write fails.
    // Tells whether the store took the value, and why not (callers that don't care may ignore it).
    platform::SecretResult save(const QString& key, const QString& value);
    // The item's text, or nothing when it is missing or cannot be read.
    std::optional<QString> load(const QString& key) const;
    // As load, and tells a missing item from one in a locked keyring.
    platform::SecretLookup lookup(const QString& key) const;
    // Asks the desktop to unlock the keyring holding the item; true once it can be read.
    QCoro::Task<bool> unlock(const QString& key);
    // Deletes the item; deleting a missing item is silent. Tells whether the removal holds.
    platform::SecretResult remove(const QString& key);

private:
    platform::SecretStore& m_store;
};

} // namespace corvane::stores
