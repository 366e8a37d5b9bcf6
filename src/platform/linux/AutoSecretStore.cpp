#include "platform/linux/AutoSecretStore.h"

namespace corvane::platform::linux_ {

AutoSecretStore::AutoSecretStore(Notice notice, std::chrono::milliseconds timeout, const QString& fallbackPath)
    : m_service(std::make_unique<SecretServiceStore>(timeout)), m_file(fallbackPath, notice) {
    const SecretServiceStore::Availability availability = m_service->probe();
    if (availability.available)
        return;
    m_service.reset();
    m_reason = availability.reason;
    if (notice)
        notice(QStringLiteral("Keychain: no Secret Service available (%1); keeping secrets in %2 (readable only by you)")
                   .arg(m_reason, m_file.filePath()));
}

std::optional<QString> AutoSecretStore::load(const QString& service, const QString& account) {
    if (!m_service)
        return m_file.load(service, account);
    if (std::optional<QString> secret = m_service->load(service, account))
        return secret;
    return m_file.exists() ? m_file.load(service, account) : std::nullopt;
}

SecretResult AutoSecretStore::save(const QString& service, const QString& account, const QString& secret) {
    if (!m_service)
        return m_file.save(service, account, secret);
    SecretResult result = m_service->save(service, account, secret);
    // The keyring holds the newer value now; an older copy in the file must not resurface.
    if (result.ok && m_file.exists())
        m_file.remove(service, account);
    return result;
}

SecretResult AutoSecretStore::remove(const QString& service, const QString& account) {
    if (!m_service)
        return m_file.remove(service, account);
    SecretResult result = m_service->remove(service, account);
    if (result.ok && m_file.exists())
        result = m_file.remove(service, account);
    return result;
}

} // namespace corvane::platform::linux_
