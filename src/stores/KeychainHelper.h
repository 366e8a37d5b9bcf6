#pragma once
// Short secrets (API keys, the device id) as items of the user's secret store, keyed by account
// under the service "com.corvane.app".
#include <QString>
#include <optional>

namespace corvane::platform {
class SecretStore;
}

namespace corvane::stores {

class KeychainHelper {
public:
    static constexpr const char* service = "com.corvane.app";

    explicit KeychainHelper(platform::SecretStore& store);

    // Replaces the item's value in one write: the old value stays when the write fails.
    // Returns whether the store took the value (callers that don't care may ignore it).
    bool save(const QString& key, const QString& value);
    // The item's text, or nothing when it is missing or cannot be read.
    std::optional<QString> load(const QString& key) const;
    // Deletes the item; deleting a missing item is silent.
    void remove(const QString& key);

private:
    platform::SecretStore& m_store;
};

} // namespace corvane::stores
