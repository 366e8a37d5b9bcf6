#pragma once
// Installed applications from the desktop entries of the XDG data folders.
#include "platform/InstalledApps.h"
#include "platform/linux/DesktopEntries.h"

namespace corvane::platform::linux_ {

class DesktopInstalledApps final : public InstalledApps {
public:
    explicit DesktopInstalledApps(QStringList dataDirs = DesktopEntryIndex::defaultDataDirs());
    QList<InstalledApp> list() override;

private:
    DesktopEntryIndex m_index;
};

} // namespace corvane::platform::linux_
