#pragma once
#include "platform/SecretStore.h"
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <functional>
#include <mutex>

namespace corvane::platform::linux_ {

// Secrets in a JSON file readable only by the user, for desktops without a Secret Service:
// {"<service>": {"<account>": "<secret>"}}. An account set to null is a removal the keyring has not
// confirmed yet (it was locked or away): it reads as missing here, and AutoSecretStore lets it hide
// the keyring's copy until that is deleted too. The file (mode 0600, in a 0700 folder) is replaced
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
    struct Entry {
        std::optional<QString> secret;
        bool markedRemoved = false;
    };
    // One read of the account's entry: its secret, or whether it is marked as removed.
    Entry entry(const QString& service, const QString& account);
    SecretResult save(const QString& service, const QString& account, const QString& secret) override;
    // Drops the account's entry, secret or removal mark alike.
    SecretResult remove(const QString& service, const QString& account) override;

    // Marks the account as removed (null), replacing any secret it held.
    SecretResult markRemoved(const QString& service, const QString& account);
    // Drops the account's removal mark; a secret saved there since stays.
    SecretResult dropRemovalMark(const QString& service, const QString& account);
    // Every (service, account) marked as removed.
    QList<std::pair<QString, QString>> markedRemoved();

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
    // Edits one service's items under the lock; written back when edit says it changed them.
    SecretResult updateItems(const QString& service, const std::function<bool(QJsonObject&)>& edit);
    SecretResult setAside(const Snapshot& snapshot);
    SecretResult write(const QJsonObject& root);
    void notice(const QString& message) const;

    const QString m_path;
    const Notice m_notice;
    mutable std::mutex m_mutex;
    bool m_reportedUnreadable = false;
};

} // namespace corvane::platform::linux_
