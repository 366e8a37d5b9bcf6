#include "platform/linux/SettingsPreferences.h"
#include "platform/PrivateFiles.h"
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <functional>

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

// Where a write of path lands: the end of its chain of symbolic links.
QString writtenPath(const QString& path) {
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.absoluteFilePath();
}

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// Why these bytes cannot be read as settings; nothing when they can. parsed: the settings library's
// reading of the same bytes (asked for only when they are text; null when it cannot be had).
std::optional<QString> damageIn(const QByteArray& raw, const std::function<QSettings*()>& parsed) {
    if (raw.contains('\0'))
        return QStringLiteral("it holds NUL bytes");
    if (!QUtf8StringView(raw).isValidUtf8())
        return QStringLiteral("it holds bytes that are no text");
    if (raw.trimmed().isEmpty())
        return std::nullopt;
    QSettings* settings = parsed();
    if (!settings)
        return std::nullopt;
    const bool anySetting = !settings->allKeys().isEmpty(); // parses every section
    if (settings->status() == QSettings::FormatError)
        return QStringLiteral("it is not in the settings format");
    if (!anySetting)
        return QStringLiteral("no setting could be read from it");
    return std::nullopt;
}

// Text as Corvane writes it: no control characters but tab, CR and LF, and none of the marks the
// settings library leaves for bytes that were no text (a replacement character, a lone surrogate).
bool isWholeText(const QString& text) {
    return text.isValidUtf16() && std::none_of(text.begin(), text.end(), [](QChar c) {
        return c == QChar::ReplacementCharacter ||
               (c.category() == QChar::Other_Control && c != u'\t' && c != u'\r' && c != u'\n');
    });
}

// Whether a value read from a file is whole text (a string, or bytes that are UTF-8) of at most
// `most` bytes.
bool isKeepable(const QVariant& value, qsizetype most) {
    if (value.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = value.toByteArray();
        return bytes.size() <= most && QUtf8StringView(bytes).isValidUtf8() && isWholeText(QString::fromUtf8(bytes));
    }
    if (value.typeId() != QMetaType::QString)
        return false; // lists and serialised objects are nothing Corvane writes
    const QString text = value.toString();
    return text.size() <= most && text.toUtf8().size() <= most && isWholeText(text);
}

// Of the values the settings library read from a damaged file, those under keys Corvane knows that
// are whole text within the key's limit and read back the same from a file they were written to.
QVariantMap keptValues(QSettings& parsed, const SettingsPreferences::KeyLimit& limit) {
    QVariantMap kept;
    for (const QString& key : parsed.allKeys())
        if (const qsizetype most = limit ? limit(key) : 0; most > 0)
            if (const QVariant value = parsed.value(key); isKeepable(value, most))
                kept.insert(key, value);
    if (kept.isEmpty())
        return kept;
    // The settings library keeps what it wrote for the next reader of the same file name: the
    // written bytes are read back under another name.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return {};
    const QString written = scratch.filePath(QStringLiteral("written.conf"));
    const QString reread = scratch.filePath(QStringLiteral("reread.conf"));
    {
        QSettings out(written, QSettings::IniFormat);
        for (auto it = kept.cbegin(); it != kept.cend(); ++it)
            out.setValue(it.key(), it.value());
    }
    if (!QFile::copy(written, reread))
        return {};
    const QSettings back(reread, QSettings::IniFormat);
    QVariantMap same;
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        if (back.value(it.key()) == it.value())
            same.insert(it.key(), it.value());
    return same;
}

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

SettingsPreferences::SettingsPreferences(const QString& filePath, KeyLimit knownKeys)
    : m_knownKeys(std::move(knownKeys)) {
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
    // QSettings pushes what it holds when it goes, after reading the file again: over a damaged file
    // it is left to the end of the process instead.
    if (m_rewrite)
        (void)m_settings.release();
}

void SettingsPreferences::judgeFile() {
    m_known = stampOf(filePath());
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return; // missing or not ours to read: nothing to judge
    const QByteArray raw = file.readAll();
    const std::optional<QString> reason = damageIn(raw, [this] { return m_settings.get(); });
    if (!reason)
        return;
    noteDamage(*reason, raw, false);
    const QVariantMap kept = keptValues(*m_settings, m_knownKeys);
    m_settings->clear(); // nothing else the settings library made of it is used
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        setValue(it.key(), it.value());
    // Written at once: the next start finds the file whole, not damaged again.
    sync();
}

// A file that changed on disk since it was last read or written is judged before the settings
// library reads it again.
void SettingsPreferences::readChangedFile() {
    const Stamp now = stampOf(filePath());
    if (now == m_known)
        return;
    m_known = now;
    m_rewrite = false;
    QByteArray raw;
    if (QFile file(filePath()); now.size > 0 && file.open(QIODevice::ReadOnly))
        raw = file.readAll();
    // The settings library reads only files: the bytes are judged from a private scratch copy.
    QTemporaryFile scratch;
    std::unique_ptr<QSettings> parsed;
    const std::optional<QString> reason = damageIn(raw, [&]() -> QSettings* {
        if (!scratch.open() || scratch.write(raw) != raw.size() || !scratch.flush())
            return nullptr;
        parsed = std::make_unique<QSettings>(scratch.fileName(), QSettings::IniFormat);
        return parsed.get();
    });
    if (reason)
        noteDamage(*reason, raw, true);
    else if (!raw.trimmed().isEmpty())
        return; // another writer's settings: merged by the next push, as the settings library does
    holdWhole();
}

void SettingsPreferences::noteDamage(const QString& reason, const QByteArray& raw, bool whileRunning) {
    // While no copy of an earlier damage exists, the bytes now on disk are the ones to keep.
    m_damaged = DamagedFile{filePath(), reason, {}, whileRunning};
    m_damagedBytes = raw;
    m_rewrite = true;
}

// Every value held counts as written: a push stores all of them, whatever the file holds by then.
void SettingsPreferences::holdWhole() {
    for (const QString& key : m_settings->allKeys()) {
        noteWrite(key);
        m_settings->setValue(key, m_settings->value(key));
    }
}

// The settings library reads the changed file again before it writes and keeps what it read: it
// is emptied first (its copy is kept), in place, so that its rights and any link to it stay.
bool SettingsPreferences::emptyDamagedFile() {
    if (::truncate(QFile::encodeName(filePath()).constData(), 0) != 0 && errno != ENOENT)
        return false;
    m_rewrite = false;
    m_known = m_before = stampOf(filePath());
    return true;
}

void SettingsPreferences::failPush(const QString& folder, const QString& reason) {
    m_failure = SaveFailure{folder, reason};
    notifyPushed();
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
    const QString path = filePath();
    readChangedFile();
    if ((m_rewrite || !m_unsaved.isEmpty()) && !keepDamagedAside())
        return failPush(folderOf(path), m_keepFailure);
    if (m_rewrite && !emptyDamagedFile()) {
        const QString reason = systemReason(errno);
        return failPush(folderOf(writtenPath(path)), reason);
    }
    m_settings->sync();
    if (m_unsaved.isEmpty()) {
        m_known = stampOf(path);
        return;
    }
    // QSettings keeps the first error it met for good, so its status cannot tell a later push that
    // landed; the file on disk can. No file at all is a failure (a link into a folder that is
    // missing); a file left as it was is one when the folder does not take a file of the new one's
    // size either (otherwise the writes cancelled out: nothing to store).
    const Stamp after = stampOf(path);
    const QString target = writtenPath(path);
    std::optional<QString> reason;
    if (after.size < 0)
        reason = probeReason(folderOf(target), target, pendingBytes()).value_or(systemReason(ENOENT));
    else if (after == m_before)
        reason = probeReason(folderOf(target), target, after.size + pendingBytes());
    if (reason)
        return failPush(folderOf(target), *reason);
    privatefiles::narrowFile(path);
    m_unsaved.clear();
    m_failure.reset();
    m_known = after;
    notifyPushed();
}

QString SettingsPreferences::filePath() const { return m_settings->fileName(); }

} // namespace corvane::platform::linux_
