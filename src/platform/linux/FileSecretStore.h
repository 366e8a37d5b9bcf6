#pragma once
#include "platform/SecretStore.h"
#include <QByteArray>
#include <QJsonObject>
#include <functional>
#include <mutex>

namespace corvane::platform::linux_ {

// Secrets in a JSON file readable only by the user, for desktops without a Secret Service:
// {"<service>": {"<account>": "<secret>"}}. The file (mode 0600, in a 0700 folder) is replaced
// atomically on every change, so a failed write leaves the previous secrets in place. A file that
// cannot be decoded is copied aside before it is ever replaced.
class FileSecretStore final : public SecretStore {
public:
    using Notice = std::function<void(const QString&)>;

    explicit FileSecretStore(QString filePath = defaultPath(), Notice notice = {});

    // $XDG_DATA_HOME/corvane/secrets.json ($HOME/.local/share when XDG_DATA_HOME is unset).
    static QString defaultPath();
    QString filePath() const { return m_path; }
    bool exists() const;

    std::optional<QString> load(const QString& service, const QString& account) override;
    SecretResult save(const QString& service, const QString& account, const QString& secret) override;
    SecretResult remove(const QString& service, const QString& account) override;

private:
    struct Snapshot {
        bool exists = false;
        bool readable = true; // false: the file is there but could not be read or decoded
        QByteArray raw;       // the bytes as read, kept to be set aside when undecodable
        QString problem;
        QJsonObject root;
    };
    Snapshot read() const;
    SecretResult update(const std::function<bool(QJsonObject&)>& change);
    SecretResult setAside(const Snapshot& snapshot);
    SecretResult write(const QJsonObject& root);
    void notice(const QString& message) const;

    const QString m_path;
    const Notice m_notice;
    mutable std::mutex m_mutex;
    bool m_reportedUnreadable = false;
};

} // namespace corvane::platform::linux_
