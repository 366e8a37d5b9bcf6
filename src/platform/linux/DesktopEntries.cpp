#include "platform/linux/DesktopEntries.h"
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace corvane::platform::linux_ {

QString DesktopEntry::displayName(const QString& locale) const {
    if (!locale.isEmpty()) {
        const QString full = locale.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
        if (auto it = localNames.find(full); it != localNames.end() && !it->isEmpty())
            return *it;
        const QString language = full.section(QLatin1Char('_'), 0, 0);
        if (auto it = localNames.find(language); it != localNames.end() && !it->isEmpty())
            return *it;
    }
    return name;
}

DesktopEntryIndex::DesktopEntryIndex(QStringList dataDirs) : m_dirs(std::move(dataDirs)) {}

QStringList DesktopEntryIndex::defaultDataDirs() {
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    dirs << home;
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : system.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (!dirs.contains(dir))
            dirs << dir;
    return dirs;
}

std::optional<DesktopEntry> DesktopEntryIndex::parse(const QByteArray& content, const QString& id) {
    DesktopEntry entry;
    entry.id = id;
    bool inMain = false;
    bool sawMain = false;
    QString type;
    bool hidden = false;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            sawMain = sawMain || inMain;
            continue;
        }
        if (!inMain)
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key.startsWith(QLatin1String("Name[")) && key.endsWith(QLatin1Char(']')))
            entry.localNames.insert(key.mid(5, key.size() - 6), value);
        else if (key == QLatin1String("StartupWMClass"))
            entry.startupWMClass = value;
        else if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Hidden"))
            hidden = value == QLatin1String("true");
    }
    if (!sawMain || hidden || type != QLatin1String("Application"))
        return std::nullopt;
    return entry;
}

void DesktopEntryIndex::refreshIfStale() {
    QHash<QString, QDateTime> stamps;
    for (const QString& dir : m_dirs) {
        const QString apps = dir + QStringLiteral("/applications");
        const QFileInfo info(apps);
        stamps.insert(apps, info.exists() ? info.lastModified() : QDateTime());
    }
    if (m_loaded && stamps == m_stamps)
        return;
    m_stamps = stamps;
    m_entries.clear();
    m_loaded = true;
    // Earlier folders win: an entry in the user's folder hides the system one of the same id.
    for (const QString& dir : m_dirs) {
        const QString apps = dir + QStringLiteral("/applications");
        QDirIterator it(apps, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = QDir(apps).relativeFilePath(path);
            id.chop(int(qstrlen(".desktop")));
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (m_entries.contains(id))
                continue;
            QFile file(path);
            if (file.size() > 256 * 1024 || !file.open(QIODevice::ReadOnly))
                continue;
            if (auto entry = parse(file.readAll(), id))
                m_entries.insert(id, *entry);
            else
                m_entries.insert(id, DesktopEntry{}); // hidden: keeps lower folders from showing it
        }
    }
    for (auto it = m_entries.begin(); it != m_entries.end();)
        it = it->id.isEmpty() ? m_entries.erase(it) : std::next(it);
}

std::optional<DesktopEntry> DesktopEntryIndex::byId(const QString& id) {
    refreshIfStale();
    auto it = m_entries.constFind(id);
    if (it == m_entries.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<DesktopEntry> DesktopEntryIndex::byWindowClass(const QString& wmClass, const QString& wmInstance) {
    refreshIfStale();
    auto same = [](const QString& a, const QString& b) {
        return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
    };
    for (const auto& entry : std::as_const(m_entries))
        if (same(entry.startupWMClass, wmClass) || same(entry.startupWMClass, wmInstance))
            return entry;
    for (const auto& entry : std::as_const(m_entries))
        if (same(entry.id, wmClass) || same(entry.id, wmInstance))
            return entry;
    for (const auto& entry : std::as_const(m_entries)) {
        if (!entry.id.contains(QLatin1Char('.')))
            continue;
        const QString last = entry.id.section(QLatin1Char('.'), -1);
        if (same(last, wmClass) || same(last, wmInstance))
            return entry;
    }
    return std::nullopt;
}

QList<DesktopEntry> DesktopEntryIndex::byIdPrefix(const QString& prefix) {
    refreshIfStale();
    QList<DesktopEntry> out;
    for (const auto& entry : std::as_const(m_entries))
        if (entry.id.startsWith(prefix))
            out << entry;
    return out;
}

} // namespace corvane::platform::linux_
