#include "services/TelemetryService.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"
#include "stores/DiagLog.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvane::services {

namespace {
TelemetryService* g_shared = nullptr;
}

TelemetryService::TelemetryService(platform::Preferences& preferences, platform::Clock& clock, QObject* parent)
    : QObject(parent), m_preferences(preferences), m_clock(clock) {}

TelemetryService& TelemetryService::shared() {
    if (!g_shared)
        qFatal("TelemetryService::shared() used before the application wired it");
    return *g_shared;
}

void TelemetryService::setShared(TelemetryService* service) { g_shared = service; }

bool TelemetryService::hasConsented() const { return consentAnswer().value_or(false); }

std::optional<bool> TelemetryService::consentAnswer() const {
    return m_preferences.boolean(QString::fromLatin1(consentKey));
}

void TelemetryService::setConsent(bool consented) { m_preferences.setValue(QString::fromLatin1(consentKey), consented); }

void TelemetryService::start() {}

QCoro::Task<TelemetryService::FeedbackResult> TelemetryService::submitFeedback(QString, QString, QString, bool) {
    co_return FeedbackResult{false, tr("Couldn't reach the feedback server. Check your network and try again")};
}

// The stored queue, oldest first; an unreadable one reads as empty (usage events are not user data).
QJsonArray TelemetryService::storedQueue() const {
    const auto raw = m_preferences.bytes(QString::fromLatin1(queueKey));
    if (!raw)
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(*raw);
    if (!doc.isArray()) {
        stores::DiagLog::event(QStringLiteral("telemetry: unreadable queue dropped"));
        return {};
    }
    return doc.array();
}

QList<QVariantMap> TelemetryService::queuedEvents() const {
    QList<QVariantMap> out;
    for (const QJsonValue& v : storedQueue())
        if (v.isObject())
            out << v.toObject().toVariantMap();
    return out;
}

void TelemetryService::track(const QString& event, const QVariantMap& properties) {
    if (!hasConsented())
        return;
    QJsonObject object = QJsonObject::fromVariantMap(properties);
    object.insert(QStringLiteral("event"), event);
    object.insert(QStringLiteral("ts"), double(m_clock.now().toMSecsSinceEpoch()));
    QJsonArray queue = storedQueue();
    queue.append(object);
    while (queue.size() > queueLimit)
        queue.removeFirst();
    m_preferences.setValue(QString::fromLatin1(queueKey), QJsonDocument(queue).toJson(QJsonDocument::Compact));
}

} // namespace corvane::services
