#include "llm/HttpConnectionPool.h"
#include "llm/LLMClient.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "services/TelemetryService.h"
#include "services/UpdateService.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include "support/TestHttpServer.h"
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QNetworkProxy>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

using namespace corvane;
using platform::fake::FakeClock;
using platform::fake::MemoryPreferences;
using services::TelemetryService;
using test::ScriptedResponse;

namespace {

const QString kDevice = QStringLiteral("5C1B9A2E-7F3D-4E8A-9B6C-1D2E3F4A5B6C");
const QByteArray kSignKey = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// One installation: preferences, install id, a virtual clock and (when asked) a real server.
struct Rig {
    explicit Rig(bool withServer = false, bool consented = false) {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        secrets.save(QStringLiteral("com.corvane.app"), QStringLiteral("deviceID"), kDevice);
        settings.setApiKey(QStringLiteral("sk-never-sent"), settings.apiVendorID());
        llm::RelayConfig config = llm::LLMClient::relayConfig();
        for (int i = 0; i < 8; ++i)
            config.signSecretParts[i] = kSignKey.mid(i * 8, 8);
        llm::LLMClient::setRelayConfig(config);
        if (withServer && server.listen())
            prefs.setValue(QStringLiteral("telemetryDebugHost"), server.baseUrl() + QStringLiteral("/"));
        if (consented)
            prefs.setValue(QStringLiteral("telemetryConsent"), true);
    }
    ~Rig() { llm::LLMClient::setRelayConfig(llm::RelayConfig::defaults()); }
    // A fresh service over the same stored state (a restart when one existed).
    TelemetryService& make() {
        service.reset();
        service.reset(new TelemetryService(prefs, clock, settings, {42, QStringLiteral("1.2.3")}, &pool));
        return *service;
    }
    // Moves the virtual clock, then lets a flush it started finish on the real loop.
    void advance(qint64 ms) {
        clock.advance(ms);
        for (QDeadlineTimer bound(10000); service->isFlushing() && !bound.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    QJsonArray sentEvents(int i) const {
        return QJsonDocument::fromJson(server.requests().at(i).body)[QStringLiteral("events")].toArray();
    }

    MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    stores::KeychainHelper keychain{secrets};
    stores::SettingsStore settings{prefs, keychain};
    FakeClock clock;
    test::TestHttpServer server;
    llm::HttpConnectionPool pool;
    std::unique_ptr<TelemetryService> service;
};

} // namespace

TEST(Telemetry, NothingIsKeptWithoutConsent) {
    Rig rig;
    MemoryPreferences& prefs = rig.prefs;
    TelemetryService& telemetry = rig.make();
    telemetry.track(QStringLiteral("result"), {{QStringLiteral("ok"), true}});
    EXPECT_FALSE(prefs.contains(QStringLiteral("telemetryQueue")));
    prefs.setValue(QStringLiteral("telemetryConsent"), QStringLiteral("false"));
    telemetry.track(QStringLiteral("result"));
    EXPECT_FALSE(prefs.contains(QStringLiteral("telemetryQueue")));
}

TEST(Telemetry, ConsentedEventsQueueWithTimeAndKeepTheNewest120) {
    Rig rig;
    MemoryPreferences& prefs = rig.prefs;
    FakeClock& clock = rig.clock;
    prefs.setValue(QStringLiteral("telemetryConsent"), true);
    prefs.setValue(QStringLiteral("telemetryQueue"), QByteArray("{not json"));
    TelemetryService& telemetry = rig.make();
    for (int i = 0; i < 125; ++i)
        telemetry.track(QStringLiteral("e%1").arg(i), {{QStringLiteral("n"), i}});
    const auto queue = telemetry.queuedEvents();
    ASSERT_EQ(queue.size(), 120);
    EXPECT_EQ(queue.first().value(QStringLiteral("event")).toString(), QStringLiteral("e5"));
    EXPECT_EQ(queue.last().value(QStringLiteral("n")).toInt(), 124);
    EXPECT_EQ(queue.last().value(QStringLiteral("ts")).toLongLong(), clock.now().toMSecsSinceEpoch());
}

TEST(Telemetry, FlushSendsTheQueueSignedAndWithoutAnyKey) {
    Rig rig(true, true);
    rig.server.route("/api/collect", ScriptedResponse::json(200, "{}"));
    rig.make().start();
    rig.service->track(QStringLiteral("result"), {{QStringLiteral("ok"), true}});
    rig.advance(11999);
    EXPECT_TRUE(rig.server.requests().isEmpty()) << "the first flush waits 12 s";
    rig.advance(1);
    ASSERT_EQ(rig.server.requests().size(), 1);
    const test::RecordedRequest& r = rig.server.requests().first();
    EXPECT_EQ(r.method + ' ' + r.target, "POST /api/collect");
    EXPECT_EQ(r.header("content-type"), "application/json");
    EXPECT_EQ(r.header("x-device-id"), kDevice.toUtf8());
    EXPECT_EQ(r.header("x-ts"), QByteArray::number(rig.clock.now().toMSecsSinceEpoch()));
    EXPECT_EQ(r.header("x-sign"), QMessageAuthenticationCode::hash(kDevice.toUtf8() + ':' + r.header("x-ts"), kSignKey,
                                                                  QCryptographicHash::Sha256).toHex());
    QByteArray everything = r.body;
    for (const auto& [name, value] : r.headers)
        everything += name + ": " + value + '\n';
    EXPECT_FALSE(everything.contains("sk-never-sent") || r.hasHeader("authorization")) << everything.constData();

    const QJsonArray events = rig.sentEvents(0);
    ASSERT_EQ(events.size(), 2);
    QJsonObject launch = events.at(0).toObject();
    EXPECT_EQ(launch.take(QStringLiteral("ts")).toDouble(), double(rig.clock.now().toMSecsSinceEpoch() - 12000));
    EXPECT_EQ(launch, (QJsonObject{{QStringLiteral("event"), QStringLiteral("app_launch")},
                                   {QStringLiteral("launch_count"), 1},
                                   {QStringLiteral("built_in_quota"), false}}));
    EXPECT_EQ(events.at(1)[QStringLiteral("event")], QStringLiteral("result"));
    EXPECT_TRUE(rig.service->queuedEvents().isEmpty());

    rig.prefs.setValue(QStringLiteral("telemetryQueue"), QByteArray(R"([{"event":"x","ts":1}])"));
    rig.advance(90 * 1000 - 12000);
    EXPECT_EQ(rig.server.requests().size(), 2) << "the repeating flush at 90 s";
}

TEST(Telemetry, OnlyA2xxRemovesAndOnlyWhatWasSent) {
    const struct {
        int status;  // 0: the connection is refused
        int queuedMeanwhile;
        int left;
        const char* oldestLeft;
    } cases[] = {{200, 0, 0, ""}, {204, 0, 0, ""},   {500, 0, 2, "a"},
                 {0, 0, 2, "a"},  {200, 3, 3, "d0"}, {200, 125, 120, "d5"}};
    for (const auto& c : cases) {
        Rig rig(true, true);
        rig.server.respond(ScriptedResponse::text(c.status ? c.status : 200, "text/plain", ""));
        if (!c.status)
            rig.server.close();
        TelemetryService& telemetry = rig.make();
        telemetry.track(QStringLiteral("a"));
        telemetry.track(QStringLiteral("b"));
        rig.clock.advance(12000);
        ASSERT_TRUE(telemetry.isFlushing());
        for (int i = 0; i < c.queuedMeanwhile; ++i)
            telemetry.track(QStringLiteral("d%1").arg(i));
        telemetry.flush(); // ignored: one runs at a time
        rig.advance(0);
        EXPECT_EQ(rig.server.requests().size(), c.status ? 1 : 0);
        const auto left = telemetry.queuedEvents();
        ASSERT_EQ(left.size(), c.left) << c.status << " " << c.queuedMeanwhile;
        EXPECT_EQ(left.value(0).value(QStringLiteral("event")).toString(), QLatin1String(c.oldestLeft));
    }
}

TEST(Telemetry, QueueStaysCappedAcrossRestartsWhileNothingGetsThrough) {
    for (bool placeholder : {true, false}) {
        Rig rig(!placeholder, true);
        rig.server.close();
        if (placeholder)
            rig.prefs.setValue(QStringLiteral("telemetryDebugHost"), QStringLiteral("ftp://127.0.0.1/"));
        for (int launch = 0; launch < 3; ++launch) {
            rig.make().start();
            for (int i = 0; i < 50; ++i)
                rig.service->track(QStringLiteral("e%1.%2").arg(launch).arg(i));
            rig.clock.advance(12000);
            EXPECT_EQ(rig.service->isFlushing(), !placeholder) << "the placeholder address is never contacted";
            rig.advance(200 * 1000);
        }
        const auto queue = rig.make().queuedEvents();
        ASSERT_EQ(queue.size(), 120);
        EXPECT_EQ(queue.last().value(QStringLiteral("event")).toString(), QStringLiteral("e2.49"));
    }
}

// Also: without consent nothing at all reaches the server, not even the launch.
TEST(Telemetry, ConsentIsAskedAt20sFromTheSecondLaunchWhileUnanswered) {
    const struct {
        int earlierLaunches;
        const char* stored; // "" = never answered
        bool answeredMeanwhile;
        bool asked;
    } cases[] = {{0, "", false, false},      {1, "", false, true},       {7, "", false, true},
                 {1, "false", false, false}, {1, "true", false, false}, {1, "", true, false}};
    for (const auto& c : cases) {
        Rig rig(true);
        rig.server.respond(ScriptedResponse::json(200, "{}"));
        rig.prefs.setValue(QStringLiteral("appLaunchCount"), c.earlierLaunches);
        if (*c.stored)
            rig.prefs.setValue(QStringLiteral("telemetryConsent"), QString::fromLatin1(c.stored));
        TelemetryService& telemetry = rig.make();
        int asked = 0;
        telemetry.setConsentPresenter([&asked] { ++asked; });
        telemetry.start();
        telemetry.start(); // only the first call counts
        telemetry.track(QStringLiteral("result"));
        EXPECT_EQ(rig.prefs.integer(QStringLiteral("appLaunchCount")), c.earlierLaunches + 1);
        rig.advance(19999);
        if (c.answeredMeanwhile)
            telemetry.setConsent(false);
        EXPECT_EQ(asked, 0);
        rig.advance(300 * 1000 + 1);
        EXPECT_EQ(asked, c.asked ? 1 : 0) << c.earlierLaunches << c.stored << c.answeredMeanwhile;
        const bool consented = QLatin1String(c.stored) == QLatin1String("true");
        EXPECT_EQ(rig.server.requests().size(), consented ? 1 : 0) << c.stored;
        EXPECT_EQ(rig.prefs.contains(QStringLiteral("telemetryQueue")), consented) << c.stored;
    }
}

TEST(Feedback, OutcomesReadAsTheUserSeesThem) {
    const QString unreachable = QStringLiteral("Couldn't reach the feedback server. Check your network and try again");
    const struct {
        const char* message;
        int status; // -1: nothing is asked; 0: nobody listens; -2: the placeholder address
        QByteArray body;
        bool ok;
        QString text;
    } cases[] = {
        {" \n\t\r\n ", -1, "", false, QStringLiteral("Please write your feedback first")},
        {"Great", 200, "{}", true, QStringLiteral("Feedback sent — thank you!")},
        {"Great", 422, R"({"error":{"message":"Contact is not an address"}})", false,
         QStringLiteral("Contact is not an address")},
        {"Great", 500, "<html>\n<b>Oops</b></html>\n", false, QStringLiteral("<html> <b>Oops</b></html>")},
        {"Great", 503, R"({"error":{}})", false, QStringLiteral("HTTP 503")},
        {"Great", 0, "", false, unreachable},
        {"Great", -2, "", false,
         QStringLiteral("No feedback server is set up for this build of Corvane yet, so nothing was sent.")},
    };
    for (const auto& c : cases) {
        Rig rig(c.status != -2);
        rig.server.route("/api/feedback", ScriptedResponse::text(std::max(c.status, 200), "text/html", c.body));
        if (c.status == 0)
            rig.server.close();
        const auto result = QCoro::waitFor(
            rig.make().submitFeedback(QStringLiteral("bug"), QString::fromUtf8(c.message), QString(), false));
        EXPECT_EQ(result.ok, c.ok) << c.status;
        EXPECT_EQ(result.message, c.text) << c.status;
        EXPECT_EQ(rig.server.requests().size(), c.status > 0 ? 1 : 0) << c.status;
    }
}

// Neither usage events nor feedback take the install id, its signature or their text to another server.
TEST(Feedback, RedirectsToAnotherServerCarryNothingPrivate) {
    const struct {
        QByteArray path;
        int status;
    } cases[] = {{"/api/feedback", 307}, {"/api/feedback", 302}, {"/api/collect", 308}, {"/api/collect", 303},
                 {"/api/collect", 301}};
    for (const auto& c : cases) {
        Rig rig(true, true);
        test::TestHttpServer other;
        ASSERT_TRUE(other.listen(QStringLiteral("127.0.0.2")));
        other.respond(ScriptedResponse::json(200, "{}"));
        ScriptedResponse moved = ScriptedResponse::text(c.status, "text/plain", "");
        moved.header("Location", other.baseUrl().toUtf8() + c.path);
        rig.server.route(c.path, moved);
        // Either way nothing was delivered: no redirect turns into a "sent".
        if (c.path == "/api/feedback") {
            const auto result = QCoro::waitFor(rig.make().submitFeedback(QStringLiteral("bug"), QStringLiteral("Great"), {}, false));
            EXPECT_FALSE(result.ok) << result.message.toStdString();
        } else {
            TelemetryService& service = rig.make();
            service.start();
            rig.advance(12000);
            EXPECT_FALSE(service.queuedEvents().isEmpty()) << c.status;
        }
        EXPECT_EQ(rig.server.requestCount(c.path), 1) << c.path.constData() << " " << c.status;
        EXPECT_EQ(other.requests().size(), 0) << c.path.constData() << " " << c.status;
        for (const test::RecordedRequest& r : other.requests())
            EXPECT_EQ(r.privateParts(), "") << c.path.constData() << " " << c.status;
    }
}

// Usage events and feedback go out on one kept connection.
TEST(Feedback, EventsAndFeedbackShareKeptConnections) {
    Rig rig(true, true);
    rig.server.setKeepAlive(true);
    rig.server.respond(ScriptedResponse::json(200, "{}"));
    TelemetryService& service = rig.make();
    service.start();
    rig.advance(12000);
    EXPECT_TRUE(service.queuedEvents().isEmpty());
    EXPECT_TRUE(QCoro::waitFor(service.submitFeedback(QStringLiteral("bug"), QStringLiteral("Great"), {}, false)).ok);
    EXPECT_EQ(rig.server.requests().size(), 2);
    EXPECT_EQ(rig.server.connectionsAccepted(), 1);
}

TEST(Feedback, BodyIsValidJsonWithItsKeysAndCaps) {
    QTemporaryDir dir;
    Rig rig(true);
    stores::DiagLog::configure(nullptr, &rig.clock, dir.filePath(QStringLiteral("diag.log")));
    stores::DiagLog::event(QStringLiteral("trigger BEGIN frontApp=org.example.Édit"));
    stores::DiagLog::flush();
    rig.server.route("/api/feedback", ScriptedResponse::json(200, "{}"));

    QString message = QStringLiteral("  Line one\r\nNUL:") + QChar(0) + QChar(0xD800) + QStringLiteral("end\n");
    for (int i = 0; i < 5000; ++i)
        message += QStringLiteral("e\u0301"); // one character, two code units
    const QString contact = QStringLiteral(" \tme@example.org") + QString(200, u'x') + QStringLiteral("\t ");
    for (bool includeDiag : {true, false})
        EXPECT_TRUE(QCoro::waitFor(rig.make().submitFeedback(QStringLiteral("idea"), message, contact, includeDiag)).ok);
    stores::DiagLog::configure(nullptr, nullptr, QString());
    ASSERT_EQ(rig.server.requests().size(), 2);

    const test::RecordedRequest& r = rig.server.requests().first();
    EXPECT_EQ(r.target, "/api/feedback");
    EXPECT_EQ(r.header("x-device-id"), kDevice.toUtf8());
    EXPECT_EQ(r.header("x-sign").size(), 64);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(r.body);
    EXPECT_FALSE(utf8.hasError() || decoded.isEmpty()) << "the body is valid UTF-8";
    QJsonParseError error;
    const QJsonObject body = QJsonDocument::fromJson(r.body, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(body.keys(), (QStringList{"build", "contact", "diag", "kind", "message", "os", "version"}));
    const QString sent = body[QStringLiteral("message")].toString();
    EXPECT_TRUE(sent.startsWith(QStringLiteral("Line one\r\nNUL:") + QChar(0) + QChar(0xFFFD) + QStringLiteral("end\ne\u0301")));
    EXPECT_EQ(sent.size(), 20 + 2 * (4000 - 19)) << "4000 characters: 19 in 20 code units, then two units each";
    EXPECT_EQ(body[QStringLiteral("contact")].toString(), QStringLiteral("me@example.org") + QString(106, u'x'));
    EXPECT_EQ(body[QStringLiteral("build")], 42);
    EXPECT_EQ(body[QStringLiteral("version")], QStringLiteral("1.2.3"));
    EXPECT_TRUE(body[QStringLiteral("os")].toString().startsWith(QStringLiteral("Linux ")));
    EXPECT_TRUE(body[QStringLiteral("diag")].toString().endsWith(QStringLiteral("trigger BEGIN frontApp=org.example.Édit\n")));
    EXPECT_FALSE(QJsonDocument::fromJson(rig.server.requests().at(1).body).object().contains(QStringLiteral("diag")));
}

TEST(UpdateGate, RequiredOnlyWhenTheStoredMinimumIsNewer) {
    const struct {
        const char* minimum;
        const char* running;
        bool required;
    } cases[] = {
        {"", "1.2.0", false},      {"1.2.0", "1.2.0", false}, {"1.2", "1.2.0", false},
        {"1.2.1", "1.2.0", true},  {"1.10", "1.9", true},     {"1.9", "1.10", false},
        {" 2.0 ", "1.99.9", true}, {"0.1", "", true},
    };
    for (const auto& c : cases) {
        MemoryPreferences prefs;
        if (*c.minimum)
            prefs.setValue(QStringLiteral("updateMinVersion"), QString::fromLatin1(c.minimum));
        FakeClock clock;
        services::UpdateService updates(prefs, clock, QString::fromLatin1(c.running));
        EXPECT_EQ(updates.isUpdateRequired(), c.required) << c.minimum << " vs " << c.running;
    }
}
