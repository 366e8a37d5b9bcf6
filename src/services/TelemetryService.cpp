#include "services/TelemetryService.h"
#include "llm/HeaderSafety.h"
#include "llm/HttpExchange.h"
#include "llm/LLMClient.h"
#include "llm/RequestSigning.h"
#include "llm/TextUtil.h"
#include "llm/Wakeup.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"
#include "stores/DiagLog.h"
#include "stores/SettingsStore.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUrl>

namespace corvane::services {

namespace {

TelemetryService* g_shared = nullptr;

constexpr qsizetype kMessageCap = 4000;
constexpr qsizetype kContactCap = 120;
constexpr qint64 kDiagTailBytes = 16000;
constexpr qsizetype kDiagCap = 32000;
// An answer body is only read for an error sentence; nothing larger is kept.
constexpr qsizetype kAnswerBytes = 64 * 1024;

// The text with every unpaired surrogate replaced by U+FFFD, so that it always encodes as valid
// UTF-8 (control characters are escaped by the JSON writer).
QString wellFormed(const QString& text) {
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out.at(i);
        if (c.isHighSurrogate() && i + 1 < out.size() && out.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

bool sendsNothing(const QString& base) {
    return QUrl(base).host().endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive);
}

// One POST with the exchange's idle time-out; the answer body is capped.
QCoro::Task<llm::HttpExchange::End> post(llm::HttpConnectionPool& pool, QNetworkRequest request, QByteArray body) {
    llm::Wakeup ended;
    llm::HttpExchange::End result;
    llm::HttpExchangePtr exchange(new llm::HttpExchange(pool, llm::HttpExchange::Mode::WholeBody,
                                                        TelemetryService::requestTimeoutSeconds, kAnswerBytes));
    exchange->onEnd = [&result, &ended](const llm::HttpExchange::End& end) {
        result = end;
        ended.fire();
    };
    exchange->start(request, "POST", body);
    co_await ended.wait();
    co_return result;
}

} // namespace

TelemetryService::TelemetryService(platform::Preferences& preferences, platform::Clock& clock,
                                   stores::SettingsStore& settings, BuildInfo buildInfo, llm::HttpConnectionPool* pool,
                                   QObject* parent)
    : QObject(parent), m_preferences(preferences), m_clock(clock), m_settings(settings),
      m_buildInfo(std::move(buildInfo)), m_pool(pool ? *pool : llm::LLMClient::sharedPool()) {}

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

void TelemetryService::setConsent(bool consented) {
    m_preferences.setValue(QString::fromLatin1(consentKey), consented);
    if (!consented) {
        m_preferences.remove(QString::fromLatin1(queueKey));
        m_inFlight = 0;
    }
    Q_EMIT consentChanged();
}

void TelemetryService::start() {
    if (m_started)
        return;
    m_started = true;
    const qint64 launches = std::max<qint64>(0, m_preferences.integer(QString::fromLatin1(launchCountKey)).value_or(0)) + 1;
    m_preferences.setValue(QString::fromLatin1(launchCountKey), launches);
    track(QStringLiteral("app_launch"), {{QStringLiteral("launch_count"), launches},
                                         {QStringLiteral("built_in_quota"), m_settings.useBuiltInQuota()}});

    scheduleFlush(firstFlushDelayMs);
    scheduleRepeatingFlush();
    if (launches >= 2 && !consentAnswer()) {
        m_clock.schedule(consentDelayMs, this, [this] {
            if (consentAnswer())
                return; // answered meanwhile (in the settings window)
            if (m_consentPresenter)
                m_consentPresenter();
            else
                stores::DiagLog::event(QStringLiteral("telemetry: consent question due, but nothing can ask it"));
        });
    }
}

void TelemetryService::scheduleFlush(qint64 delayMs) {
    if (m_flushPending)
        return;
    m_flushPending = true;
    m_clock.schedule(delayMs, this, [this] {
        m_flushPending = false;
        flush();
    });
}

void TelemetryService::scheduleRepeatingFlush() {
    m_clock.schedule(flushIntervalMs, this, [this] {
        scheduleRepeatingFlush();
        flush();
    });
}

QString TelemetryService::baseAddress() const {
    const QString host =
        llm::LLMClient::normalizeEndpoint(m_preferences.string(QString::fromLatin1(debugHostKey)).value_or(QString()));
    if (!host.isEmpty() && llm::LLMClient::endpointURL(host))
        return host;
    return QString::fromLatin1(placeholderBase);
}

QString TelemetryService::osDescription() {
    return QStringLiteral("Linux ") + QSysInfo::productType() + QLatin1Char(' ') + QSysInfo::productVersion();
}

std::optional<QNetworkRequest> TelemetryService::request(const QString& base, const QString& path) {
    const QString deviceID = m_settings.deviceID();
    if (!llm::isSafeHeaderValue(deviceID)) {
        stores::DiagLog::event(QStringLiteral("telemetry: the install id cannot be sent; nothing was sent"));
        return std::nullopt;
    }
    QNetworkRequest request{QUrl(base + path)};
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("x-device-id", llm::headerValue(deviceID));
    const QMap<QString, QString> signature = llm::signedHeaders(deviceID, m_clock.now());
    for (auto it = signature.cbegin(); it != signature.cend(); ++it)
        request.setRawHeader(it.key().toUtf8(), it.value().toUtf8());
    return request;
}

QCoro::Task<> TelemetryService::flush() {
    if (m_flushing || !hasConsented())
        co_return;
    const QString base = baseAddress();
    const QJsonArray events = storedQueue();
    if (events.isEmpty() || sendsNothing(base))
        co_return;
    const std::optional<QNetworkRequest> collect = request(base, QStringLiteral("/api/collect"));
    if (!collect)
        co_return;

    m_flushing = true;
    m_inFlight = events.size();
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("events"), events}}).toJson(QJsonDocument::Compact);
    QPointer<TelemetryService> self(this);
    const llm::HttpExchange::End end =
        co_await post(m_pool, *collect, body);
    if (!self)
        co_return;
    m_flushing = false;
    // A redirect that would have turned the post into a plain GET ends as a transport failure.
    const bool accepted =
        end.kind != llm::HttpExchange::End::Kind::Transport && end.status >= 200 && end.status < 300;
    if (!accepted) {
        stores::DiagLog::throttled(QStringLiteral("telemetry-flush"), 3600.0,
                                   QStringLiteral("telemetry: events not sent (%1); they stay queued")
                                       .arg(end.kind == llm::HttpExchange::End::Kind::Transport
                                                ? end.transport.description
                                                : QStringLiteral("HTTP %1").arg(end.status)));
        co_return;
    }
    // Events queued meanwhile stay; those the cap dropped meanwhile were already taken off m_inFlight.
    QJsonArray queue = storedQueue();
    for (qsizetype i = 0; i < m_inFlight && !queue.isEmpty(); ++i)
        queue.removeFirst();
    m_inFlight = 0;
    storeQueue(queue);
}

QCoro::Task<TelemetryService::FeedbackResult> TelemetryService::submitFeedback(QString kind, QString message,
                                                                                QString contact, bool includeDiag) {
    const QString text = llm::text::trimFully(wellFormed(message));
    if (text.isEmpty())
        co_return FeedbackResult{false, tr("Please write your feedback first")};
    const FeedbackResult unreachable{false,
                                     tr("Couldn't reach the feedback server. Check your network and try again")};

    QJsonObject object{
        {QStringLiteral("kind"), wellFormed(kind)},
        {QStringLiteral("message"), llm::text::graphemePrefix(text, kMessageCap)},
        {QStringLiteral("contact"), llm::text::graphemePrefix(llm::text::trimSpaces(wellFormed(contact)), kContactCap)},
        {QStringLiteral("build"), double(m_buildInfo.build)},
        {QStringLiteral("version"), m_buildInfo.version},
        {QStringLiteral("os"), osDescription()},
    };
    if (includeDiag) {
        // The log holds component names, states, lengths and error kinds, never the user's text.
        const QString diag = stores::DiagLog::tail(kDiagTailBytes);
        if (!diag.isEmpty())
            object.insert(QStringLiteral("diag"), llm::text::graphemePrefix(diag, kDiagCap));
    }

    const QString base = baseAddress();
    if (sendsNothing(base)) {
        stores::DiagLog::event(QStringLiteral("telemetry: no feedback server is configured; nothing was sent"));
        co_return FeedbackResult{false, tr("No feedback server is set up for this build of Corvane yet, so nothing "
                                           "was sent.")};
    }
    const std::optional<QNetworkRequest> feedback = request(base, QStringLiteral("/api/feedback"));
    if (!feedback)
        co_return unreachable;
    const llm::HttpExchange::End end =
        co_await post(m_pool, *feedback, QJsonDocument(object).toJson(QJsonDocument::Compact));
    if (end.bodyDropped)
        co_return FeedbackResult{false, tr("The feedback server sent the message elsewhere without taking it, so "
                                           "nothing was sent. Try again later")};
    if (end.kind == llm::HttpExchange::End::Kind::Transport)
        co_return unreachable;
    if (end.status == 200)
        co_return FeedbackResult{true, tr("Feedback sent — thank you!")};
    if (const std::optional<QString> said = llm::LLMClient::extractErrorMessage(QString::fromUtf8(end.body)))
        co_return FeedbackResult{false, *said};
    co_return FeedbackResult{false, QStringLiteral("HTTP ") + QString::number(end.status)};
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

void TelemetryService::storeQueue(const QJsonArray& queue) {
    m_preferences.setValue(QString::fromLatin1(queueKey), QJsonDocument(queue).toJson(QJsonDocument::Compact));
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
    while (queue.size() > queueLimit) {
        queue.removeFirst();
        if (m_inFlight > 0)
            --m_inFlight; // an event the running flush sent is gone already
    }
    storeQueue(queue);
    scheduleFlush(firstFlushDelayMs);
}

} // namespace corvane::services
