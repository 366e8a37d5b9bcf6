#pragma once
#include "platform/SecretStore.h"
#include "platform/SecretStoreLocation.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/SecretServiceStore.h"
#include <atomic>
#include <memory>
#include <mutex>

namespace corvane::platform::linux_ {

// The process's secret store: the desktop keyring when a Secret Service answers with an unlocked
// default keyring, else the owner-only file. Without a keyring it says so once through notice (the
// diagnostics log). A keyring that was locked at start is looked at again on lookups and before
// every write, and is used from the moment it is unlocked; a keyring daemon that was restarted (or
// came back) is looked at afresh. Secrets kept in the file (by an earlier run, or while the keyring
// was locked) are newer than the keyring's copy: they are read first and stay until they are saved
// again or removed. A removal the keyring cannot carry out now is marked in the file, so the
// keyring's copy reads as gone, across restarts, until the unlocked keyring has deleted it too.
// An item the file does not hold, while a keyring that was used (or owns the service's name) does
// not answer, reads as unavailable rather than missing.
class AutoSecretStore final : public SecretStore, public SecretStoreLocation {
public:
    using Notice = FileSecretStore::Notice;

    explicit AutoSecretStore(Notice notice = {}, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                             const QString& fallbackPath = FileSecretStore::defaultPath());

    bool usesSecretService() const override { return m_useService.load(); }
    QString fallbackReason() const override;
    QString fallbackPath() const override { return m_file.filePath(); }

    std::optional<QString> load(const QString& service, const QString& account) override;
    SecretLookup lookup(const QString& service, const QString& account) override;
    SecretResult save(const QString& service, const QString& account, const QString& secret) override;
    SecretResult remove(const QString& service, const QString& account) override;
    QCoro::Task<bool> unlock(const QString& service, const QString& account) override;

private:
    // Looks again at a keyring that answered but was locked, or whose daemon changed; true when it
    // is usable now.
    bool keyringUsableNow();
    // Deletes from the keyring what the file marks as removed, and drops the marks it confirmed.
    void settleRemovals();

    std::unique_ptr<SecretServiceStore> m_service;
    FileSecretStore m_file;
    Notice m_notice;
    std::atomic<bool> m_useService{false};
    mutable std::mutex m_stateMutex;
    bool m_lookAgain = false; // the service answered at the last look, with its keyring locked
    bool m_seenKeyring = false; // the keyring was usable at some point: its secrets may be there
    QString m_owner;          // the bus name that provided the service at the last look
    QString m_reason;
};

} // namespace corvane::platform::linux_
