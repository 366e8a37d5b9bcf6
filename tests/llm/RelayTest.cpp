// The built-in relay: which server is chosen, how long the choice holds, and what a relayed
// request carries (and never carries).
#include "LoopbackFixture.h"
#include "platform/Clock.h"
#include "platform/fake/FakeClock.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <qcoro/qcorotask.h>

namespace corvane::test {
namespace {

using llm::LLMClient;
using llm::RelayConfig;

class Relay : public LoopbackFixture {
protected:
    void SetUp() override {
        LoopbackFixture::SetUp();
        ASSERT_TRUE(fallback.listen());
        clock.setNow(QDateTime(QDate(2026, 1, 15), QTime(9, 30, 0, 123), Qt::UTC));
        platform::Clock::setShared(&clock);
        previous = LLMClient::relayConfig();
        RelayConfig config;
        config.secureEndpoint = server.baseUrl() + QStringLiteral("/v1");
        config.fallbackEndpoint = fallback.baseUrl() + QStringLiteral("/relay/v1");
        config.signSecretParts = {"01234567", "89abcdef", "01234567", "89abcdef",
                                  "01234567", "89abcdef", "01234567", "89abcdef"};
        LLMClient::setRelayConfig(config);
        secrets.save(QStringLiteral("com.corvane.app"), QStringLiteral("deviceID"),
                     QStringLiteral("5C1B9A2E-7F3D-4E8A-9B6C-1D2E3F4A5B6C"));
        configure(QStringLiteral("openai"), QStringLiteral("http://127.0.0.1:1/never-used"), QStringLiteral("sk-own"));
        store.setUseBuiltInQuota(true);
    }
    void TearDown() override {
        LLMClient::setRelayConfig(previous);
        platform::Clock::setShared(nullptr);
    }

    QString resolve() { return QCoro::waitFor(LLMClient::resolveBuiltInEndpoint()); }
    int healthChecks() const { return server.requestCount("/v1/health") + fallback.requestCount("/relay/v1/health"); }

    TestHttpServer fallback;
    platform::fake::FakeClock clock;
    RelayConfig previous;
};

TEST_F(Relay, SecureRelayWinsWheneverItAnswers) {
    ScriptedResponse slowButAlive = ScriptedResponse::json(503, R"({"error":"maintenance"})");
    slowButAlive.headDelayMs = 200;
    server.route("/v1/health", slowButAlive);
    fallback.route("/relay/v1/health", ScriptedResponse::json(200, "{}"));
    EXPECT_EQ(resolve(), server.baseUrl() + QStringLiteral("/v1"));
    ASSERT_EQ(server.requestCount("/v1/health"), 1);
    EXPECT_EQ(server.requests().first().method, "GET");
}

TEST_F(Relay, FallbackIsChosenWhenTheSecureRelayIsDown) {
    const QString fallbackBase = fallback.baseUrl() + QStringLiteral("/relay/v1");
    server.close();
    fallback.route("/relay/v1/health", ScriptedResponse::json(404, "{}"));
    EXPECT_EQ(resolve(), fallbackBase);
    // The choice is cached: no second probe while it is fresh.
    EXPECT_EQ(resolve(), fallbackBase);
    EXPECT_EQ(fallback.requestCount("/relay/v1/health"), 1);
}

TEST_F(Relay, NeitherAnsweringMeansTheSecureRelayForTenMinutes) {
    const QString secureBase = server.baseUrl() + QStringLiteral("/v1");
    server.close();
    fallback.close();
    EXPECT_EQ(resolve(), secureBase);
    clock.advance(599'000);
    EXPECT_EQ(resolve(), secureBase);
}

TEST_F(Relay, ChoiceIsProbedAgainAfterSixHundredSeconds) {
    server.route("/v1/health", ScriptedResponse::json(200, "{}"));
    fallback.route("/relay/v1/health", ScriptedResponse::json(200, "{}"));
    resolve();
    const int first = healthChecks();
    EXPECT_GE(first, 1);
    clock.advance(599'000);
    resolve();
    EXPECT_EQ(healthChecks(), first);
    clock.advance(1'000);
    resolve();
    EXPECT_GT(healthChecks(), first);
}

TEST_F(Relay, RelayedRequestIsSignedAndNeverCarriesTheUsersKey) {
    const struct {
        QString format;
        QByteArray path;
        QByteArray keyHeader;
    } cases[] = {
        {QStringLiteral("openai"), "/v1/chat/completions", "Authorization"},
        {QStringLiteral("anthropic"), "/v1/v1/messages", "x-api-key"},
        {QStringLiteral("gemini"), "/v1/v1beta/models/ark-code-latest:streamGenerateContent", "x-goog-api-key"},
    };
    server.route("/v1/health", ScriptedResponse::json(200, "{}"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.toStdString());
        configure(c.format, QStringLiteral("http://127.0.0.1:1/never-used"), QStringLiteral("sk-own"));
        server.route(c.path, ScriptedResponse::sse(providers::streamFor(c.format, {QStringLiteral("relayed")})));
        const StreamRun result = run();
        expectWellFormed(result);
        EXPECT_EQ(result.text(), QStringLiteral("relayed"));
        ASSERT_EQ(server.requestCount(c.path), 1);
        const RecordedRequest& request = server.requests().last();
        EXPECT_EQ(request.header("x-device-id"), "5C1B9A2E-7F3D-4E8A-9B6C-1D2E3F4A5B6C");
        EXPECT_EQ(request.header("x-ts"), "1768469400123");
        EXPECT_EQ(request.header("x-sign"), "602daad7b629e61cda97e8d51aef336d3926571145c22f198473f7ddba8daf8c");
        EXPECT_FALSE(request.body.contains("sk-own"));
        EXPECT_FALSE(request.header(c.keyHeader).contains("sk-own"));
        if (c.format != QLatin1String("gemini")) {
            EXPECT_EQ(QJsonDocument::fromJson(request.body).object().value("model").toString(),
                      QStringLiteral("ark-code-latest"));
        }
    }
    EXPECT_EQ(fallback.requests().size() - fallback.requestCount("/relay/v1/health"), 0);
}

// The relay is given at least 30 s, whatever shorter limit the user set for their provider.
TEST_F(Relay, RelayedRequestWaitsAtLeastThirtySeconds) {
    store.setApiTimeout(0.2);
    server.route("/v1/health", ScriptedResponse::json(200, "{}"));
    ScriptedResponse slow = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("patient")}));
    slow.headDelayMs = 700;
    server.route("/v1/chat/completions", slow);
    const StreamRun result = run();
    expectWellFormed(result);
    EXPECT_EQ(result.terminal().type, llm::StreamEvent::Type::Done) << result.terminal().message.toStdString();
    EXPECT_EQ(result.text(), QStringLiteral("patient"));
}

TEST_F(Relay, StopWhileTheRelayIsChosenSendsNothing) {
    ScriptedResponse slowHealth = ScriptedResponse::json(200, "{}");
    slowHealth.headDelayMs = 300;
    server.route("/v1/health", slowHealth);
    server.route("/v1/chat/completions", ScriptedResponse::sse(providers::openAIStream({QStringLiteral("x")})));
    int events = 0;
    std::unique_ptr<llm::ModelStream> stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"));
    QObject::connect(stream.get(), &llm::ModelStream::event, [&] { ++events; });
    ASSERT_TRUE(server.waitForRequests(1));
    stream->stop();
    spinUntil([&] { return server.openConnections() == 0 && fallback.openConnections() == 0; });
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(events, 0);
    EXPECT_EQ(server.requestCount("/v1/chat/completions"), 0);
}

TEST_F(Relay, RelayOffTalksToTheProviderOnly) {
    store.setUseBuiltInQuota(false);
    configure(QStringLiteral("openai"), fallback.baseUrl() + QStringLiteral("/v1"), QStringLiteral("sk-own"));
    fallback.route("/v1/chat/completions", ScriptedResponse::sse(providers::openAIStream({QStringLiteral("direct")})));
    const StreamRun result = run();
    expectWellFormed(result);
    EXPECT_EQ(result.text(), QStringLiteral("direct"));
    EXPECT_EQ(server.requests().size(), 0);
    EXPECT_EQ(fallback.requests().last().header("Authorization"), "Bearer sk-own");
    EXPECT_FALSE(fallback.requests().last().hasHeader("x-device-id"));
}

} // namespace
} // namespace corvane::test
