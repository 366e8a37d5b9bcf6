#pragma once
// Anonymous usage events. Nothing leaves the machine and nothing is queued unless the user has
// consented ("telemetryConsent"); consented events wait in "telemetryQueue" (the newest 120).
#include "trigger/UsageEvents.h"
#include <QJsonArray>
#include <QObject>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

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

    // The outcome of a feedback submission; ok only for HTTP 200.
    struct FeedbackResult {
        bool ok = false;
        QString message;
    };

    // Counts the launch, reports it, schedules the flushes and, when due, the consent question.
    void start();
    QCoro::Task<FeedbackResult> submitFeedback(QString kind, QString message, QString contact, bool includeDiag);

    bool hasConsented() const;
    // The user's answer to the consent question; nothing when it was never answered.
    std::optional<bool> consentAnswer() const;
    void setConsent(bool consented);
    // The UI layer asks the consent question (a window that does not take the keyboard focus).
    void setConsentPresenter(std::function<void()> presenter) { m_consentPresenter = std::move(presenter); }
    void track(const QString& event, const QVariantMap& properties = {}) override;
    // The queued events, oldest first.
    QList<QVariantMap> queuedEvents() const;

private:
    QJsonArray storedQueue() const;

    platform::Preferences& m_preferences;
    platform::Clock& m_clock;
    std::function<void()> m_consentPresenter;
};

} // namespace corvane::services
