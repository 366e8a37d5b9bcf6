#pragma once
// Anonymous usage events. Nothing leaves the machine and nothing is queued unless the user has
// consented ("telemetryConsent"); consented events wait in "telemetryQueue" (the newest 120).
#include "trigger/UsageEvents.h"
#include <QJsonArray>
#include <QObject>
#include <QVariantMap>

namespace corvane::platform {
class Preferences;
class Clock;
} // namespace corvane::platform

namespace corvane::services {

class TelemetryService final : public QObject, public trigger::UsageEvents {
    Q_OBJECT
public:
    static constexpr const char* consentKey = "telemetryConsent";
    static constexpr const char* queueKey = "telemetryQueue";
    static constexpr int queueLimit = 120;

    TelemetryService(platform::Preferences& preferences, platform::Clock& clock, QObject* parent = nullptr);
    static TelemetryService& shared();
    static void setShared(TelemetryService* service);

    bool hasConsented() const;
    void track(const QString& event, const QVariantMap& properties = {}) override;
    // The queued events, oldest first.
    QList<QVariantMap> queuedEvents() const;

private:
    QJsonArray storedQueue() const;

    platform::Preferences& m_preferences;
    platform::Clock& m_clock;
};

} // namespace corvane::services
