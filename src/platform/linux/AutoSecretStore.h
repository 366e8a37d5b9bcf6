#pragma once
#include "platform/SecretStore.h"
#include "platform/SecretStoreLocation.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/SecretServiceStore.h"
#include <memory>

namespace corvane::platform::linux_ {

// The process's secret store, chosen once at construction: the desktop keyring when a Secret
// Service answers with an unlocked default keyring, else the owner-only file. Without a keyring it
// says so once through notice (the diagnostics log). With a keyring, secrets that an earlier run
// kept in the file stay readable until they are saved again or removed.
class AutoSecretStore final : public SecretStore, public SecretStoreLocation {
public:
    using Notice = FileSecretStore::Notice;

    explicit AutoSecretStore(Notice notice = {}, std::chrono::milliseconds timeout = std::chrono::seconds(5),
                             const QString& fallbackPath = FileSecretStore::defaultPath());

    bool usesSecretService() const override { return m_service != nullptr; }
    QString fallbackReason() const override { return m_reason; }
    QString fallbackPath() const override { return m_file.filePath(); }

    std::optional<QString> load(const QString& service, const QString& account) override;
    SecretResult save(const QString& service, const QString& account, const QString& secret) override;
    SecretResult remove(const QString& service, const QString& account) override;

private:
    std::unique_ptr<SecretServiceStore> m_service; // null: no usable Secret Service at start
    FileSecretStore m_file;
    QString m_reason;
};

} // namespace corvane::platform::linux_
