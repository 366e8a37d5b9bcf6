#pragma once
// Installed applications as their desktop files describe them (XDG data dirs, "applications").
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvane::platform::linux_ {

struct DesktopEntry {
    QString id;                        // desktop-file id without ".desktop" (sub folders joined by '-')
    QString name;                      // Name=
    QMap<QString, QString> localNames; // Name[xx]= and Name[xx_YY]=, keyed by the locale in brackets
    QString startupWMClass;

    // The name for a locale such as "de_DE" or "de": Name[de_DE], then Name[de], then Name.
    QString displayName(const QString& locale) const;
};

class DesktopEntryIndex {
public:
    // dataDirs in precedence order; each one's "applications" folder is read.
    explicit DesktopEntryIndex(QStringList dataDirs = defaultDataDirs());
    // $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
    static QStringList defaultDataDirs();
    // The [Desktop Entry] group of one file; nothing for a file that is not an application
    // entry or is marked Hidden.
    static std::optional<DesktopEntry> parse(const QByteArray& content, const QString& id);

    std::optional<DesktopEntry> byId(const QString& id);
    // The entry whose StartupWMClass names the window's class or instance, else the one whose
    // id does (case-insensitively, the last part of a reverse-DNS id counts too).
    std::optional<DesktopEntry> byWindowClass(const QString& wmClass, const QString& wmInstance);
    // Entries whose id starts with prefix, in id order.
    QList<DesktopEntry> byIdPrefix(const QString& prefix);

private:
    void refreshIfStale();

    QStringList m_dirs;
    QHash<QString, QDateTime> m_stamps;
    QMap<QString, DesktopEntry> m_entries;
    bool m_loaded = false;
};

} // namespace corvane::platform::linux_
