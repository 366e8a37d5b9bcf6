#include "platform/linux/DesktopInstalledApps.h"
#include <QLocale>

namespace corvane::platform::linux_ {

DesktopInstalledApps::DesktopInstalledApps(QStringList dataDirs) : m_index(std::move(dataDirs)) {}

QList<InstalledApp> DesktopInstalledApps::list() {
    const QString locale = QLocale::system().name();
    QList<InstalledApp> out;
    for (const DesktopEntry& entry : m_index.byIdPrefix(QString()))
        out.append({entry.id, entry.displayName(locale)});
    return out;
}

} // namespace corvane::platform::linux_
