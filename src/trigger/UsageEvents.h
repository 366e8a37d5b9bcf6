#pragma once
// Anonymous usage events. The sink drops them unless the user has consented; it never fails
// towards the caller.
#include <QString>
#include <QVariantMap>

namespace corvane::trigger {

class UsageEvents {
public:
    virtual ~UsageEvents() = default;
    virtual void track(const QString& event, const QVariantMap& properties = {}) = 0;
};

} // namespace corvane::trigger
