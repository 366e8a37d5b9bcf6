#pragma once
// Anonymous usage events and feedback. Nothing leaves the machine and nothing is queued unless the
// user has consented ("telemetryConsent"); consented events wait in "telemetryQueue" (the newest
// 120) and go out in batches to <base>/api/collect. Feedback goes to <base>/api/feedback. Every
// request carries the install id and the request signature, never an API key.
#include "trigger/UsageEvents.h"
#include <QJsonArray>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::platform {
class Preferences;
class Clock;
} // namespace corvane::platform

namespace corvane::stores {
class SettingsStore;
}

namespace corvane::llm {
class HttpConnectionPool;
}

namespace corvane::services {

class TelemetryService final : public QObject, public trigger::UsageEvents {
    Q_OBJECT
public:
    static constexpr const char* consentKey = "telemetryConsent";
    static constexpr const char* queueKey = "telemetryQueue";
    static constexpr const char* launchCountKey = "appLaunchCount";
    static constexpr const char* debugHostKey = "telemetryDebugHost";
    static constexpr int queueLimit = 120;
    // No server is run for this yet: under the reserved ".invalid" domain nothing is ever sent.
    static constexpr const char* placeholderBase = "https://telemetry.corvane.invalid";

    static constexpr qint64 firstFlushDelayMs = 12 * 1000;
    static constexpr qint64 flushIntervalMs = 90 * 1000;
    static constexpr qint64 consentDelayMs = 20 * 1000;
    static constexpr double requestTimeoutSeconds = 15.0;

    // What the running build reports about itself with feedback.
    struct BuildInfo {
        qint64 build = 0;  // the configure-time build number
        QString version;   // the release version, "1.2.3"
    };

    // pool: the connections the model client uses too (nullptr: its shared ones).
    TelemetryService(platform::Preferences& preferences, platform::Clock& clock, stores::SettingsStore& settings,
                     BuildInfo buildInfo, llm::HttpConnectionPool* pool = nullptr, QObject* parent = nullptr);
    static TelemetryService& shared();
    static void setShared(TelemetryService* service);

    // The outcome of a feedback submission; ok only for HTTP 200.
    struct FeedbackResult {
        bool ok = false;
        QString message;
    };

    // Counts the launch, reports it, schedules the flushes and, when due, the consent question.
    // Only the first call does anything.
    void start();
    QCoro::Task<FeedbackResult> submitFeedback(QString kind, QString message, QString contact, bool includeDiag);

    bool hasConsented() const;
    // The user's answer to the consent question; nothing when it was never answered.
    std::optional<bool> consentAnswer() const;
    // Stores the answer; a refusal also drops whatever was queued.
    void setConsent(bool consented);
    // The UI layer asks the consent question (a window that does not take the keyboard focus).
    void setConsentPresenter(std::function<void()> presenter) { m_consentPresenter = std::move(presenter); }
    void track(const QString& event, const QVariantMap& properties = {}) override;
    // The queued events, oldest first.
    QList<QVariantMap> queuedEvents() const;

    // Sends the queued events now, unless a send is already under way, there is no consent, the
    // queue is empty or no server is configured. Sent events leave the queue only after a 2xx.
    QCoro::Task<> flush();
    bool isFlushing() const { return m_flushing; }

Q_SIGNALS:
    // The consent answer was stored (from the consent window or the settings window).
    void consentChanged();

public:
    // "telemetryDebugHost" when it holds an http(s) address, else the placeholder.
    QString baseAddress() const;
    // "Linux <distribution> <version>".
    static QString osDescription();

private:
    QJsonArray storedQueue() const;
    void storeQueue(const QJsonArray& queue);
    void scheduleFlush(qint64 delayMs);
    void scheduleRepeatingFlush();
    // The request to base + path with the JSON, install id and signature headers; nothing when the
    // install id cannot travel in a header.
    std::optional<QNetworkRequest> request(const QString& base, const QString& path);

    platform::Preferences& m_preferences;
    platform::Clock& m_clock;
    stores::SettingsStore& m_settings;
    BuildInfo m_buildInfo;
    llm::HttpConnectionPool& m_pool;
    std::function<void()> m_consentPresenter;
    bool m_started = false;
    bool m_flushPending = false;
    bool m_flushing = false;
    // How many of the oldest queued events the running flush sent (fewer once the cap drops some).
    qsizetype m_inFlight = 0;
};

} // namespace corvane::services
