#include "platform/linux/SettingsPreferences.h"
#include "platform/PrivateFiles.h"
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform::linux_ {

namespace {

// QSettings pushes its changes from an update event that it posts to itself once per turn; the
// push is taken over here so that its outcome is checked.
class CheckedSettings final : public QSettings {
public:
    CheckedSettings(const QString& path, std::function<void()> push)
        : QSettings(path, QSettings::IniFormat), m_push(std::move(push)) {}

protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::UpdateRequest)
            return QSettings::event(e);
        m_push();
        return true;
    }

private:
    std::function<void()> m_push;
};

SettingsPreferences::Stamp stampOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Why a file of about `bytes` bytes cannot be written in `folder` next to `path`, in the system's
// words for the first step that fails; nothing when every step works. QSettings itself only says
// that access failed.
std::optional<QString> probeReason(const QString& folder, const QString& path, qint64 bytes) {
    const QByteArray dir = QFile::encodeName(folder);
    struct stat st {};
    if (::stat(dir.constData(), &st) != 0)
        return systemReason(errno);
    QByteArray probe = dir + "/.corvane-write-check-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return systemReason(errno);
    int error = 0;
    const QByteArray block(4096, '\n');
    for (qint64 left = qMax<qint64>(bytes, 1); left > 0 && !error;) {
        const ssize_t n = ::write(fd, block.constData(), size_t(qMin<qint64>(left, block.size())));
        if (n < 0 && errno != EINTR)
            error = errno;
        else if (n > 0)
            left -= n;
    }
    if (::close(fd) != 0 && !error)
        error = errno;
    ::unlink(probe.constData());
    if (error)
        return systemReason(error);
    // The folder takes files: the file itself may be what refuses.
    const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (file < 0 && errno != ENOENT)
        return systemReason(errno);
    if (file >= 0)
        ::close(file);
    return std::nullopt;
}

} // namespace

QString SettingsPreferences::defaultPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/corvane/corvane.conf");
}

SettingsPreferences::SettingsPreferences(const QString& filePath) {
    // The file holds previews of the user's texts: made owner-only before anything is written to it
    // (a rewrite keeps the rights of the file it replaces).
    privatefiles::ensureFile(filePath);
    m_settings = std::make_unique<CheckedSettings>(filePath, [this] { sync(); });
    // Never written in place: a failed write leaves the old file whole.
    m_settings->setAtomicSyncRequired(true);
    judgeFile();
}

SettingsPreferences::~SettingsPreferences() {
    // Whatever is still unsaved gets one more try; nobody is told any more.
    setPushObserver({});
    sync();
    // QSettings pushes what it holds when it goes: over a damaged file of which no copy exists, it
    // is left to the end of the process instead.
    if (m_damaged && m_damaged->keptAs.isEmpty() && !m_unsaved.isEmpty())
        (void)m_settings.release();
}

void SettingsPreferences::judgeFile() {
    QFile file(m_settings->fileName());
    if (!file.open(QIODevice::ReadOnly))
        return; // missing or not ours to read: nothing to judge
    const QByteArray raw = file.readAll();
    const bool parsed = !m_settings->allKeys().isEmpty(); // parses every section
    QString reason;
    if (raw.contains('\0'))
        reason = QStringLiteral("it holds NUL bytes");
    else if (!QUtf8StringView(raw).isValidUtf8())
        reason = QStringLiteral("it holds bytes that are no text");
    else if (m_settings->status() == QSettings::FormatError)
        reason = QStringLiteral("it is not in the settings format");
    else if (!parsed && !raw.trimmed().isEmpty())
        reason = QStringLiteral("no setting could be read from it");
    else
        return;
    m_damaged = DamagedFile{m_settings->fileName(), reason, {}};
    m_damagedBytes = raw;
    keepDamagedAside();
}

bool SettingsPreferences::keepDamagedAside() {
    if (!m_damaged || !m_damaged->keptAs.isEmpty())
        return true;
    m_damaged->keptAs =
        privatefiles::keepCopyBeside(m_damaged->path, QStringLiteral("damaged"), m_damagedBytes, &m_keepFailure);
    if (m_damaged->keptAs.isEmpty())
        return false;
    m_damagedBytes.clear();
    return true;
}

bool SettingsPreferences::contains(const QString& key) const { return m_settings->contains(key); }

std::optional<QVariant> SettingsPreferences::value(const QString& key) const {
    if (!m_settings->contains(key))
        return std::nullopt;
    return m_settings->value(key);
}

void SettingsPreferences::noteWrite(const QString& key) {
    if (m_unsaved.isEmpty())
        m_before = stampOf(m_settings->fileName());
    m_unsaved.insert(key);
}

void SettingsPreferences::setValue(const QString& key, const QVariant& value) {
    noteWrite(key);
    m_settings->setValue(key, value);
}

void SettingsPreferences::remove(const QString& key) {
    // Removing what is not there rewrites nothing.
    if (!m_settings->contains(key))
        return;
    noteWrite(key);
    m_settings->remove(key);
}

// More than the unsaved values take in the file (INI escapes grow them).
qint64 SettingsPreferences::pendingBytes() const {
    qint64 bytes = 4096;
    for (const QString& key : m_unsaved) {
        const QVariant v = m_settings->value(key);
        bytes += 2 * (key.size() + (v.typeId() == QMetaType::QByteArray ? v.toByteArray().size()
                                                                          : v.toString().toUtf8().size()));
    }
    return bytes;
}

QStringList SettingsPreferences::keys() const { return m_settings->allKeys(); }

void SettingsPreferences::sync() {
    const QString path = m_settings->fileName();
    if (!m_unsaved.isEmpty() && !keepDamagedAside()) {
        m_failure = SaveFailure{QFileInfo(path).absolutePath(), m_keepFailure};
        notifyPushed();
        return;
    }
    m_settings->sync();
    if (m_unsaved.isEmpty())
        return;
    // QSettings keeps the first error it met for good, so its status cannot tell a later push that
    // landed; the file on disk can. A file left as it was is a failure when the folder does not take
    // a file of the new one's size either (otherwise the writes cancelled out: nothing to store).
    const Stamp after = stampOf(path);
    std::optional<QString> reason;
    if (after.size < 0 || after == m_before)
        reason = probeReason(QFileInfo(path).absolutePath(), path, qMax<qint64>(after.size, 0) + pendingBytes());
    if (reason) {
        m_failure = SaveFailure{QFileInfo(path).absolutePath(), *reason};
    } else {
        privatefiles::narrowFile(path);
        m_unsaved.clear();
        m_failure.reset();
    }
    notifyPushed();
}

QString SettingsPreferences::filePath() const { return m_settings->fileName(); }

} // namespace corvane::platform::linux_
