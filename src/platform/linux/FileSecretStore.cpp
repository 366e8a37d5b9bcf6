#include "platform/linux/FileSecretStore.h"

#include "platform/PrivateFiles.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace corvane::platform::linux_ {

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

SecretResult failure(const QString& sentence) { return {false, sentence}; }

} // namespace

FileSecretStore::FileSecretStore(QString filePath, Notice notice)
    : m_path(std::move(filePath)), m_notice(std::move(notice)) {}

QString FileSecretStore::defaultPath() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/corvane/secrets.json");
}

bool FileSecretStore::exists() const { return QFileInfo::exists(m_path); }

void FileSecretStore::notice(const QString& message) const {
    if (m_notice)
        m_notice(message);
}

FileSecretStore::Snapshot FileSecretStore::read() const {
    Snapshot snapshot;
    QFile file(m_path);
    if (!file.exists())
        return snapshot;
    snapshot.exists = true;
    // A copy made by hand may have looser rights; secrets stay the owner's alone.
    privatefiles::narrowFile(m_path);
    privatefiles::ensureFolder(QFileInfo(m_path).absolutePath());
    if (!file.open(QIODevice::ReadOnly)) {
        snapshot.readable = false;
        snapshot.problem = file.errorString();
        return snapshot;
    }
    snapshot.raw = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        snapshot.readable = false;
        snapshot.raw.clear();
        snapshot.problem = file.errorString();
        return snapshot;
    }
    if (snapshot.raw.trimmed().isEmpty())
        return snapshot; // an empty file holds no secrets

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(snapshot.raw, &error);
    if (error.error != QJsonParseError::NoError) {
        snapshot.problem = QStringLiteral("%1 at byte %2").arg(error.errorString()).arg(error.offset);
    } else if (!document.isObject()) {
        snapshot.problem = QStringLiteral("not a JSON object");
    } else {
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!it.value().isObject())
                snapshot.problem = QStringLiteral("the entry \"%1\" is not an object").arg(it.key());
    }
    if (!snapshot.problem.isEmpty()) {
        snapshot.readable = false;
        return snapshot;
    }
    snapshot.root = document.object();
    return snapshot;
}

std::optional<QString> FileSecretStore::load(const QString& service, const QString& account) {
    return entry(service, account).secret;
}

FileSecretStore::Entry FileSecretStore::entry(const QString& service, const QString& account) {
    std::lock_guard lock(m_mutex);
    const Snapshot snapshot = read();
    if (!snapshot.readable) {
        if (!m_reportedUnreadable)
            notice(QStringLiteral("Keychain: %1 cannot be read (%2); its secrets are ignored until it is replaced")
                       .arg(m_path, snapshot.problem));
        m_reportedUnreadable = true;
        return {};
    }
    const QJsonObject items = snapshot.root.value(service).toObject();
    const QJsonValue value = items.value(account);
    if (value.isString())
        return {value.toString(), false};
    return {std::nullopt, items.contains(account) && value.isNull()};
}

SecretResult FileSecretStore::updateItems(const QString& service, const std::function<bool(QJsonObject&)>& edit) {
    std::lock_guard lock(m_mutex);
    return update([&](QJsonObject& root) {
        QJsonObject items = root.value(service).toObject();
        if (!edit(items))
            return false;
        // A service without items leaves the file.
        if (items.isEmpty())
            root.remove(service);
        else
            root.insert(service, items);
        return true;
    });
}

SecretResult FileSecretStore::save(const QString& service, const QString& account, const QString& secret) {
    return updateItems(service, [&](QJsonObject& items) {
        if (items.value(account) == QJsonValue(secret))
            return false;
        items.insert(account, secret);
        return true;
    });
}

SecretResult FileSecretStore::remove(const QString& service, const QString& account) {
    return updateItems(service, [&](QJsonObject& items) {
        if (!items.contains(account))
            return false;
        items.remove(account);
        return true;
    });
}

SecretResult FileSecretStore::markRemoved(const QString& service, const QString& account) {
    return updateItems(service, [&](QJsonObject& items) {
        if (items.contains(account) && items.value(account).isNull())
            return false;
        items.insert(account, QJsonValue::Null);
        return true;
    });
}

SecretResult FileSecretStore::dropRemovalMark(const QString& service, const QString& account) {
    return updateItems(service, [&](QJsonObject& items) {
        if (!items.contains(account) || !items.value(account).isNull())
            return false;
        items.remove(account);
        return true;
    });
}

QList<std::pair<QString, QString>> FileSecretStore::markedRemoved() {
    std::lock_guard lock(m_mutex);
    QList<std::pair<QString, QString>> out;
    const QJsonObject root = read().root;
    for (auto service = root.begin(); service != root.end(); ++service) {
        const QJsonObject items = service.value().toObject();
        for (auto item = items.begin(); item != items.end(); ++item)
            if (item.value().isNull())
                out.append({service.key(), item.key()});
    }
    return out;
}

SecretResult FileSecretStore::update(const std::function<bool(QJsonObject&)>& change) {
    const Snapshot snapshot = read();
    QJsonObject root = snapshot.root;
    if (!snapshot.readable) {
        if (snapshot.raw.isEmpty())
            return failure(QStringLiteral("The secrets file %1 cannot be read (%2).").arg(m_path, snapshot.problem));
        // Keep the undecodable bytes before anything replaces them.
        if (SecretResult kept = setAside(snapshot); !kept.ok)
            return kept;
        change(root);
        return write(root);
    }
    if (!change(root))
        return {true, {}};
    return write(root);
}

SecretResult FileSecretStore::setAside(const Snapshot& snapshot) {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString aside = m_path + QStringLiteral(".unreadable-") + stamp;
        if (attempt > 0)
            aside += QLatin1Char('-') + QString::number(attempt);
        QFile copy(aside);
        if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly)) {
            if (copy.exists())
                continue;
            return failure(QStringLiteral("The unreadable secrets file %1 could not be kept aside (%2).")
                               .arg(m_path, copy.errorString()));
        }
        if (copy.write(snapshot.raw) != snapshot.raw.size() || !copy.flush()) {
            copy.remove();
            return failure(QStringLiteral("The unreadable secrets file %1 could not be kept aside.").arg(m_path));
        }
        notice(QStringLiteral("Keychain: %1 could not be read (%2); kept it as %3 and started a new one")
                   .arg(m_path, snapshot.problem, aside));
        return {true, {}};
    }
    return failure(QStringLiteral("The unreadable secrets file %1 could not be kept aside.").arg(m_path));
}

SecretResult FileSecretStore::write(const QJsonObject& root) {
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!privatefiles::ensureFolder(folder)) {
        const int cause = errno;
        if (!QFileInfo(folder).isDir())
            return failure(QStringLiteral("The folder %1 cannot be created (%2).")
                               .arg(folder, QString::fromLocal8Bit(std::strerror(cause))));
    }
    // Create the file owner-only first: a new file written by QSaveFile would get the umask's
    // rights, while an existing one lends its rights to the replacement from the first byte.
    if (!QFileInfo::exists(m_path)) {
        QFile placeholder(m_path);
        if (!placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly) && !placeholder.exists())
            return failure(QStringLiteral("The secrets file %1 cannot be created (%2).")
                               .arg(m_path, placeholder.errorString()));
    }

    // Unbuffered, so that a short write (full disk, size limit) shows in write()'s result before
    // the commit could put a truncated file in place.
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(QStringLiteral("The secrets file %1 cannot be written (%2).").arg(m_path, out.errorString()));
    out.setPermissions(kOwnerOnly);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    errno = 0;
    const qint64 written = out.write(bytes);
    const int writeErrno = errno;
    if (written != bytes.size() || out.error() != QFileDevice::NoError) {
        // The system's own cause (a full disk, a size limit): a short write leaves the file's error
        // unset, and cancelling puts a text of its own there.
        const QString cause = writeErrno != 0 ? QString::fromLocal8Bit(std::strerror(writeErrno)) : out.errorString();
        out.cancelWriting();
        return failure(QStringLiteral("The secrets file %1 cannot be written (%2).").arg(m_path, cause));
    }
    if (!out.commit())
        return failure(QStringLiteral("The secrets file %1 cannot be written (%2).").arg(m_path, out.errorString()));
    return {true, {}};
}

} // namespace corvane::platform::linux_
