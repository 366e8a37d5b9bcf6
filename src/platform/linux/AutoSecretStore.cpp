#include "platform/linux/AutoSecretStore.h"

namespace corvane::platform::linux_ {

AutoSecretStore::AutoSecretStore(Notice notice, std::chrono::milliseconds timeout, const QString& fallbackPath)
    : m_service(std::make_unique<SecretServiceStore>(timeout)), m_file(fallbackPath, notice), m_notice(notice) {
    const SecretServiceStore::Availability availability = m_service->probe();
    m_owner = m_service->owner();
    if (availability.available) {
        m_useService = true;
        m_seenKeyring = true;
        settleRemovals();
        return;
    }
    m_reason = availability.reason;
    // A keyring that answers but is locked is unlocked later by the user (or their login); a
    // service that is missing or stalls is not worth the wait on every lookup, until its daemon
    // changes.
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
    std::lock_guard lock(m_stateMutex);
    // A new owner of the service's name is a restarted daemon: whatever was known of it is stale.
    const bool newDaemon = m_service->owner() != m_owner;
    if (!newDaemon && (m_useService || !m_lookAgain))
        return m_useService;
    const SecretServiceStore::Availability availability = m_service->probe();
    m_owner = m_service->owner();
    if (!availability.available) {
        m_lookAgain = availability.answered;
        if (m_useService) {
            m_useService = false;
            m_reason = availability.reason;
            if (m_notice)
                m_notice(QStringLiteral("Keychain: the Secret Service is not usable now (%1); keeping secrets in %2 "
                                        "(readable only by you)")
                             .arg(m_reason, m_file.filePath()));
        }
        return false;
    }
    if (!m_useService) {
        m_useService = true;
        m_seenKeyring = true;
        m_reason.clear();
        if (m_notice)
            m_notice(QStringLiteral("Keychain: the Secret Service's default keyring is unlocked now; using it"));
    }
    settleRemovals();
    return true;
}

void AutoSecretStore::settleRemovals() {
    if (!m_file.exists())
        return;
    for (const auto& [service, account] : m_file.markedRemoved()) {
        if (m_service->remove(service, account).ok)
            m_file.dropRemovalMark(service, account);
    }
}

std::optional<QString> AutoSecretStore::load(const QString& service, const QString& account) {
    return lookup(service, account).secret;
}

SecretLookup AutoSecretStore::lookup(const QString& service, const QString& account) {
    if (m_file.exists()) {
        const FileSecretStore::Entry entry = m_file.entry(service, account);
        if (entry.secret)
            return {entry.secret};
        if (entry.markedRemoved) {
            // Removed here: whatever the keyring still holds stays hidden until it is deleted there.
            if (keyringUsableNow())
                settleRemovals();
            return {};
        }
    }
    if (keyringUsableNow())
        return m_service->lookup(service, account);
    bool answered = false, expected = false;
    {
        std::lock_guard lock(m_stateMutex);
        answered = m_lookAgain;
        // A keyring used before, or one that owns the service's name but does not answer, may hold
        // the item: the file's silence does not mean it is missing.
        expected = m_seenKeyring || !m_owner.isEmpty();
    }
    // The keyring answers but is locked: an item there is stored, only unreadable for now.
    if (answered) {
        const SecretLookup inKeyring = m_service->lookup(service, account);
        return {std::nullopt, inKeyring.locked, inKeyring.unavailable};
    }
    return {std::nullopt, false, expected};
}

SecretResult AutoSecretStore::save(const QString& service, const QString& account, const QString& secret) {
    if (!keyringUsableNow())
        return m_file.save(service, account, secret); // replaces a removal mark too
    SecretResult result = m_service->save(service, account, secret);
    // The keyring holds the newer value now; an older copy or a removal mark in the file must not
    // hide it.
    if (result.ok && m_file.exists())
        result = m_file.remove(service, account);
    return result;
}

SecretResult AutoSecretStore::remove(const QString& service, const QString& account) {
    if (keyringUsableNow()) {
        SecretResult result = m_service->remove(service, account);
        if (result.ok)
            return m_file.exists() ? m_file.remove(service, account) : result;
    }
    // The keyring cannot delete it now (locked, or away): the mark keeps it removed, across
    // restarts, until it can. Reported as done only once the mark is written.
    return m_file.markRemoved(service, account);
}

QCoro::Task<bool> AutoSecretStore::unlock(const QString& service, const QString& account) {
    // Copied before the first wait: the caller's strings need not outlive it.
    const QString itemService = service, itemAccount = account;
    // Awaited on a line of its own, as every await here: GCC 12 may lay out the frame of a coroutine
    // wrongly for an await inside an if condition.
    const bool unlocked = co_await m_service->unlock(itemService, itemAccount);
    if (unlocked)
        keyringUsableNow();
    co_return !lookup(itemService, itemAccount).locked;
}

} // namespace corvane::platform::linux_
