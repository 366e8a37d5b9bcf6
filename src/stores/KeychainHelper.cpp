#include "stores/KeychainHelper.h"

namespace corvane::stores {

namespace {
QString serviceName() { return QString::fromLatin1(KeychainHelper::service); }
} // namespace

KeychainHelper::KeychainHelper(platform::SecretStore& store) : m_store(store) {}

// The secret store replaces an existing item's value itself; deleting first would leave the account
// empty whenever the following write fails.
platform::SecretResult KeychainHelper::save(const QString& key, const QString& value) {
    return m_store.save(serviceName(), key, value);
}

std::optional<QString> KeychainHelper::load(const QString& key) const { return m_store.load(serviceName(), key); }

platform::SecretLookup KeychainHelper::lookup(const QString& key) const { return m_store.lookup(serviceName(), key); }

QCoro::Task<bool> KeychainHelper::unlock(const QString& key) { return m_store.unlock(serviceName(), key); }

platform::SecretResult KeychainHelper::remove(const QString& key) { return m_store.remove(serviceName(), key); }

} // namespace corvane::stores
