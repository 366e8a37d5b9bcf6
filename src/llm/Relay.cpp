// The built-in relay: which of its two servers to use, and how its requests are signed.
#include "llm/HttpExchange.h"
#include "llm/LLMClient.h"
#include "llm/RequestSigning.h"
#include "llm/Wakeup.h"
#include "platform/Clock.h"
#include <QDateTime>
#include <memory>

namespace corvane::llm {

namespace {

constexpr qint64 kChoiceLifetimeMs = 600 * 1000;
constexpr double kHealthTimeoutSeconds = 3.0;

struct RelayChoice {
    QString url;
    qint64 atMs; // Clock uptime
};

RelayConfig& currentConfig() {
    static RelayConfig config = RelayConfig::defaults();
    return config;
}

// Process-wide and only touched from the main thread.
std::optional<RelayChoice>& cachedEndpoint() {
    static std::optional<RelayChoice> choice;
    return choice;
}

// A liveness probe: any HTTP answer at all counts as alive.
struct HealthProbe {
    HttpExchangePtr exchange;
    std::optional<bool> alive;
    Wakeup ended;

    HealthProbe(HttpConnectionPool& pool, const QString& address) {
        const std::optional<QUrl> url = LLMClient::endpointURL(address);
        if (!url) {
            alive = false;
            ended.fire();
            return;
        }
        exchange.reset(new HttpExchange(pool, HttpExchange::Mode::HeadOnly,
                                        kHealthTimeoutSeconds, LLMClient::maxBodyBytes));
        exchange->onEnd = [this](const HttpExchange::End& end) {
            alive = end.kind == HttpExchange::End::Kind::Complete && end.status > 0;
            ended.fire();
        };
        exchange->start(QNetworkRequest(*url), "GET");
    }
};

} // namespace

RelayConfig RelayConfig::defaults() {
    RelayConfig config;
    config.secureEndpoint = QStringLiteral("https://relay.corvane.invalid/v1");
    config.fallbackEndpoint = QStringLiteral("http://relay-fallback.corvane.invalid:8080/relay/v1");
    config.signSecretParts = {"c0a1e5d2", "7b3f9a4e", "1d8c6b20", "f5e4a3c9",
                              "9b7d2e1f", "6a0c8e3d", "4f2b7a95", "e1d3c6b8"};
    return config;
}

RelayConfig LLMClient::relayConfig() { return currentConfig(); }

void LLMClient::setRelayConfig(const RelayConfig& config) {
    currentConfig() = config;
    cachedEndpoint().reset();
}

QCoro::Task<QString> LLMClient::resolveBuiltInEndpoint(HttpConnectionPool* pool) {
    // The clock is looked up at each use, never held across a suspension: a choice whose stream was
    // stopped still finishes (and fills the cache) after its caller is gone.
    if (const std::optional<RelayChoice>& cached = cachedEndpoint();
        cached && platform::Clock::shared().uptimeMs() - cached->atMs < kChoiceLifetimeMs)
        co_return cached->url;

    const RelayConfig config = currentConfig();
    // Both probes run at once; the secure relay wins whenever it answers.
    HttpConnectionPool& connections = pool ? *pool : sharedPool();
    HealthProbe secure(connections, config.secureEndpoint + QStringLiteral("/health"));
    HealthProbe fallback(connections, config.fallbackEndpoint + QStringLiteral("/health"));
    QString choice = config.secureEndpoint;
    co_await secure.ended.wait();
    if (!*secure.alive) {
        co_await fallback.ended.wait();
        if (*fallback.alive)
            choice = config.fallbackEndpoint;
    }
    cachedEndpoint() = RelayChoice{choice, platform::Clock::shared().uptimeMs()};
    co_return choice; // a probe still running is cancelled with it
}

QMap<QString, QString> LLMClient::signedHeaders(const QString& deviceID) {
    return llm::signedHeaders(deviceID, platform::Clock::shared().now());
}

} // namespace corvane::llm
