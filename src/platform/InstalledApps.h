#pragma once
// The applications installed for this user, for suggesting app ids to type.
#include <QList>
#include <QString>

namespace corvane::platform {

struct InstalledApp {
    QString appId; // the id the active-app lookup reports for it
    QString name;  // display name; may be empty
};

class InstalledApps {
public:
    virtual ~InstalledApps() = default;
    // Every known application, ordered by id.
    virtual QList<InstalledApp> list() = 0;
};

} // namespace corvane::platform
