#include "platform/linux/SettingsPreferences.h"
#include "platform/PrivateFiles.h"
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>

namespace corvane::platform::linux_ {

namespace {

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// Why these bytes cannot be read as settings; nothing when they can. parsed: the settings library's
// reading of them.
std::optional<QString> damageIn(const QByteArray& raw, const ini::Parsed& parsed) {
    if (raw.contains('\0'))
        return QStringLiteral("it holds NUL bytes");
    if (!QUtf8StringView(raw).isValidUtf8())
        return QStringLiteral("it holds bytes that are no text");
    if (raw.trimmed().isEmpty())
        return QStringLiteral("it is empty");
    if (parsed.formatError)
        return QStringLiteral("it is not in the settings format");
    if (parsed.values.isEmpty())
        return QStringLiteral("no setting could be read from it");
    return std::nullopt;
}

// Text as Corvane writes it: no control characters but tab, CR and LF, and no replacement character
// (the mark the settings library leaves for bytes that were no text).
bool isWholeText(const QString& text) {
    return std::none_of(text.begin(), text.end(), [](QChar c) {
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

} // namespace

QString SettingsPreferences::defaultPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/corvane/corvane.conf");
}

SettingsPreferences::SettingsPreferences(const QString& filePath, KeyLimit knownKeys)
    : m_path(filePath), m_knownKeys(std::move(knownKeys)) {
    // The file holds previews of the user's texts: its folder is owner-only, every file written is
    // 0600, and one left wider by an earlier version is narrowed now.
    privatefiles::ensureFolder(folderOf(m_path));
    privatefiles::narrowFile(m_path);
    settingsfile::removeLeftovers(m_path);
    judgeFileAtStart();
}

SettingsPreferences::~SettingsPreferences() {
    // Whatever is still unsaved gets one more try; nobody is told any more.
    setPushObserver({});
    sync();
}

void SettingsPreferences::judgeFileAtStart() {
    const settingsfile::Found found = settingsfile::read(m_path);
    if (found.kind == settingsfile::Found::Kind::Missing) {
        m_judged = true;
        return;
    }
    const QString folder = folderOf(settingsfile::writtenPath(m_path));
    if (found.kind == settingsfile::Found::Kind::Refused) {
        m_failure = SaveFailure{folder, found.reason};
        return;
    }
    QString why;
    const std::optional<ini::Parsed> parsed = ini::parse(found.bytes, &why);
    if (!parsed) {
        m_failure = SaveFailure{folder, QStringLiteral("%1 cannot be read here (%2)").arg(m_path, why)};
        return;
    }
    m_known = found.stamp;
    m_judged = true;
    const std::optional<QString> reason = damageIn(found.bytes, *parsed);
    if (!reason) {
        m_values = m_onDisk = parsed->values;
        return;
    }
    noteDamage(*reason, found.bytes, false);
    const ini::Values kept = keptValues(parsed->values);
    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        setValue(it.key(), it.value());
    // Copied aside and written at once: the next start finds the file whole, not damaged again
    // (with nothing kept, the first setting written replaces it).
    if (keepDamagedAside() && !kept.isEmpty())
        sync();
}

// Of the values read from a damaged file, those under keys Corvane knows that are whole text within
// the key's limit and read back the same from the file they are written to (the file's form cannot
// carry every text: a lone surrogate does not come back).
ini::Values SettingsPreferences::keptValues(const ini::Values& found) const {
    ini::Values kept;
    for (auto it = found.cbegin(); it != found.cend(); ++it)
        if (const qsizetype most = m_knownKeys ? m_knownKeys(it.key()) : 0; most > 0 && isKeepable(it.value(), most))
            kept.insert(it.key(), it.value());
    if (kept.isEmpty())
        return kept;
    const std::optional<ini::Parsed> back = ini::parse(ini::write(kept));
    ini::Values same;
    for (auto it = kept.cbegin(); back && it != kept.cend(); ++it)
        if (back->values.value(it.key()) == it.value())
            same.insert(it.key(), it.value());
    return same;
}

// A file changed on disk since it was last read or written is judged before anything is written;
// false when the push must not write (the failure is set).
bool SettingsPreferences::takeChangedFile() {
    if (m_judged && settingsfile::stampOf(m_path) == m_known)
        return true;
    const settingsfile::Found found = settingsfile::read(m_path);
    const QString folder = folderOf(settingsfile::writtenPath(m_path));
    if (found.kind == settingsfile::Found::Kind::Refused) {
        m_judged = false;
        failPush(folder, found.reason);
        return false;
    }
    if (m_judged && found.stamp == m_known)
        return true;
    if (found.kind == settingsfile::Found::Kind::Missing || found.bytes.trimmed().isEmpty()) {
        // Vanished or emptied: nothing to keep, everything held to write back.
        m_known = found.stamp;
        m_judged = true;
        if (!m_onDisk.isEmpty())
            holdWhole();
        return true;
    }
    QString why;
    const std::optional<ini::Parsed> parsed = ini::parse(found.bytes, &why);
    if (!parsed) {
        m_judged = false;
        failPush(folder, QStringLiteral("%1 was changed by another program and cannot be read here (%2)").arg(m_path, why));
        return false;
    }
    m_known = found.stamp;
    m_judged = true;
    std::optional<QString> reason = damageIn(found.bytes, *parsed);
    if (!reason)
        reason = unaccountedIn(parsed->values);
    if (reason) {
        noteDamage(*reason, found.bytes, true);
        holdWhole();
        return true;
    }
    // Another writer's values under keys Corvane holds; what Corvane wrote since its last push wins.
    for (auto it = parsed->values.cbegin(); it != parsed->values.cend(); ++it)
        if (!m_unsaved.contains(it.key()))
            m_values.insert(it.key(), it.value());
    m_onDisk = parsed->values;
    return true;
}

// Why a changed file that reads as settings is no change of Corvane's settings: a setting the file
// held is missing (one Corvane removed since may be), or it holds a key Corvane neither holds nor
// knows, or a known one with a value Corvane never writes.
std::optional<QString> SettingsPreferences::unaccountedIn(const ini::Values& found) const {
    for (auto it = m_onDisk.cbegin(); it != m_onDisk.cend(); ++it)
        if (!found.contains(it.key()) && !(m_unsaved.contains(it.key()) && !m_values.contains(it.key())))
            return QStringLiteral("it lacks settings Corvane holds");
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (m_onDisk.contains(it.key()) || m_values.contains(it.key()))
            continue;
        const qsizetype most = m_knownKeys ? m_knownKeys(it.key()) : 0;
        if (most <= 0 || !isKeepable(it.value(), most))
            return QStringLiteral("it holds lines that are not Corvane's settings");
    }
    return std::nullopt;
}

void SettingsPreferences::noteDamage(const QString& reason, const QByteArray& raw, bool whileRunning) {
    // While no copy of an earlier damage exists, the bytes now on disk are the ones to keep.
    const int count = m_damaged ? m_damaged->count + 1 : 1;
    m_damaged = DamagedFile{m_path, reason, {}, whileRunning, count};
    m_damagedBytes = raw;
}

// Every value held counts as written: a push stores all of them, whatever the file holds by then.
void SettingsPreferences::holdWhole() {
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
        m_unsaved.insert(it.key());
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

void SettingsPreferences::failPush(const QString& folder, const QString& reason) {
    m_failure = SaveFailure{folder, reason};
    notifyPushed();
}

std::optional<QVariant> SettingsPreferences::value(const QString& key) const {
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return *it;
}

// The first write of a turn queues its push.
void SettingsPreferences::noteWrite(const QString& key) {
    m_unsaved.insert(key);
    if (std::exchange(m_pushQueued, true))
        return;
    QMetaObject::invokeMethod(
        &m_turn,
        [this] {
            if (m_pushQueued)
                sync();
        },
        Qt::QueuedConnection);
}

void SettingsPreferences::setValue(const QString& key, const QVariant& value) {
    noteWrite(key);
    m_values.insert(key, value);
}

void SettingsPreferences::remove(const QString& key) {
    // Removing what is not there rewrites nothing.
    if (!m_values.contains(key))
        return;
    noteWrite(key);
    m_values.remove(key);
}

void SettingsPreferences::sync() {
    m_pushQueued = false;
    if (!takeChangedFile())
        return;
    if (!keepDamagedAside())
        return failPush(folderOf(m_path), m_keepFailure);
    // Only what was written since the last push is pushed (after a damage, every value held): with
    // nothing held, the file is never replaced by an empty one, which would read as damaged.
    if (m_unsaved.isEmpty())
        return;
    const settingsfile::Replaced replaced = settingsfile::replace(m_path, ini::write(m_values));
    if (!replaced.ok)
        return failPush(replaced.folder, replaced.reason);
    m_known = replaced.stamp;
    m_judged = true;
    m_onDisk = m_values;
    m_unsaved.clear();
    m_failure.reset();
    notifyPushed();
}

} // namespace corvane::platform::linux_
