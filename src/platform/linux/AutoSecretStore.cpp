#include "platform/linux/AutoSecretStore.h"

namespace corvane::platform::linux_ {

AutoSecretStore::AutoSecretStore(Notice notice, std::chrono::milliseconds timeout, const QString& fallbackPath)
    : m_service(std::make_unique<SecretServiceStore>(timeout)), m_file(fallbackPath, notice), m_notice(notice) {
    const SecretServiceStore::Availability availability = m_service->probe();
    if (availability.available) {
        m_useService = true;
        return;
    }
    m_reason = availability.reason;
    // A keyring that answers but is locked is unlocked later by the user (or their login); a
    // service that is missing or stalls is not worth the wait on every lookup.
    m_lookAgain = availability.answered;
    if (m_notice)
        m_notice(QStringLiteral("Keychain: no Secret Service available (%1); keeping secrets in %2 (readable only by you)")
                     .arg(m_reason, m_file.filePath()));
}

QString AutoSecretStore::fallbackReason() const {
    std::lock_guard lock(m_stateMutex);
    return m_useService ? QString() : m_reason;
}

bool AutoSecretStore::keyringUsableNow() {
    if (m_useService)
        return true;
    std::lock_guard lock(m_stateMutex);
    if (m_useService)
        return true;
    if (!m_lookAgain)
        return false;
    const SecretServiceStore::Availability availability = m_service->probe();
    if (!availability.available) {
        m_lookAgain = availability.answered;
        return false;
    }
    m_useService = true;
    m_reason.clear();
    if (m_notice)
        m_notice(QStringLiteral("Keychain: the Secret Service's default keyring is unlocked now; using it"));
    // Items removed while the keyring was locked must not come back from it.
    for (const auto& [service, account] : std::as_const(m_removedWhileLocked))
        m_service->remove(service, account);
    m_removedWhileLocked.clear();
    return true;
}

std::optional<QString> AutoSecretStore::load(const QString& service, const QString& account) {
    if (m_file.exists()) {
        if (std::optional<QString> secret = m_file.load(service, account))
            return secret;
    }
    if (!keyringUsableNow())
        return std::nullopt;
    return m_service->load(service, account);
}

SecretResult AutoSecretStore::save(const QString& service, const QString& account, const QString& secret) {
    if (!keyringUsableNow()) {
        {
            std::lock_guard lock(m_stateMutex);
            m_removedWhileLocked.removeAll(std::pair(service, account));
        }
        return m_file.save(service, account, secret);
    }
    SecretResult result = m_service->save(service, account, secret);
    // The keyring holds the newer value now; an older copy in the file must not resurface.
    if (result.ok && m_file.exists())
        m_file.remove(service, account);
    return result;
}

SecretResult AutoSecretStore::remove(const QString& service, const QString& account) {
    if (!keyringUsableNow()) {
        {
            std::lock_guard lock(m_stateMutex);
            if (m_lookAgain && !m_removedWhileLocked.contains(std::pair(service, account)))
                m_removedWhileLocked.append(std::pair(service, account));
        }
        return m_file.remove(service, account);
    }
    SecretResult result = m_service->remove(service, account);
    if (result.ok && m_file.exists())
        result = m_file.remove(service, account);
    return result;
}

} // namespace corvane::platform::linux_
