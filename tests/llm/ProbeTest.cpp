// The settings window's connection test and model list against a real loopback server.
#include "LoopbackFixture.h"
#include <qcoro/qcorotask.h>

namespace corvane::test {
namespace {

using llm::APIFormat;
using llm::LLMClient;
using llm::UpdateProbeError;
using Kind = UpdateProbeError::Kind;

class ConnectionProbe : public LoopbackFixture {
protected:
    llm::ProbeOutcome<llm::ProbeResult> probe(APIFormat format = APIFormat::OpenAI, double timeout = 10,
                                              const QString& key = QStringLiteral("key-1")) {
        return QCoro::waitFor(LLMClient::probe(server.baseUrl(), format, QStringLiteral("model-x"), key, timeout));
    }
};

TEST_F(ConnectionProbe, ReturnsOnTheFirstTextEvenIfTheServerNeverCloses) {
    for (APIFormat format : APIFormat::allCases()) {
        SCOPED_TRACE(format.rawValue().toStdString());
        ScriptedResponse never = ScriptedResponse::sse(providers::streamFor(format.rawValue(), {}).replace("data: [DONE]", ""));
        never.keepOpen = true;
        never.then(providers::streamFor(format.rawValue(), {QStringLiteral("Hel"), QStringLiteral("lo")}), 50);
        server.respond(never);
        const auto outcome = probe(format);
        ASSERT_TRUE(outcome.ok()) << outcome.error->errorDescription().toStdString();
        EXPECT_EQ(outcome.value->sample, QStringLiteral("Hel"));
        EXPECT_GE(outcome.value->latencyMs, 0);
        spinUntil([&] { return server.openConnections() == 0; });
        EXPECT_EQ(server.openConnections(), 0);
    }
}

TEST_F(ConnectionProbe, SendsATinyOrdinaryChatRequest) {
    server.respond(ScriptedResponse::sse(providers::openAIStream({QStringLiteral("ok")})));
    ASSERT_TRUE(probe().ok());
    const RecordedRequest& request = server.requests().last();
    EXPECT_EQ(request.path(), "/chat/completions");
    EXPECT_EQ(request.body,
              R"({"messages":[{"content":"You are a test.","role":"system"},{"content":"hi","role":"user"}],"model":"model-x","stream":true,"temperature":0.7})");
    EXPECT_EQ(request.header("Authorization"), "Bearer key-1");
    EXPECT_FALSE(request.hasHeader("x-device-id"));
}

// Another server never gets the key or the test's text; the same one still answers after a move
// that keeps the request, and a move that would drop its body names the address to enter.
TEST_F(ConnectionProbe, RedirectsTakeNeitherKeyNorTextToAnotherServer) {
    TestHttpServer other;
    ASSERT_TRUE(other.listen(QStringLiteral("127.0.0.2")));
    const struct {
        int status;
        bool sameServer;
        bool answers;
    } cases[] = {{307, true, true},   {308, false, false}, {307, false, false}, {301, true, false},
                 {302, false, false}, {303, false, false}};
    for (APIFormat format : APIFormat::allCases()) {
        const ScriptedResponse answer = ScriptedResponse::sse(providers::streamFor(format.rawValue(), {QStringLiteral("Hi")}));
        for (const auto& c : cases) {
            SCOPED_TRACE(format.rawValue().toStdString() + " " + std::to_string(c.status) + (c.sameServer ? " same" : " other"));
            const QByteArray origin = c.sameServer ? QByteArray() : other.baseUrl().toUtf8();
            server.respondMoving(c.status, origin, answer);
            other.respond(answer);
            const qsizetype before = other.requests().size();
            const auto outcome = probe(format);
            EXPECT_EQ(outcome.ok(), c.answers);
            if (!c.answers) {
                EXPECT_EQ(outcome.error->kind, Kind::Transport);
                const QString moved = (c.sameServer ? server : other).baseUrl() + QStringLiteral("/moved");
                EXPECT_TRUE(outcome.error->errorDescription().contains(
                    c.status >= 307 ? QStringLiteral("redirected the request to another address")
                                    : QStringLiteral("redirected the request to ") + moved +
                                          QStringLiteral("; enter that address as the endpoint")))
                    << outcome.error->errorDescription().toStdString();
            }
            for (qsizetype i = before; i < other.requests().size(); ++i)
                EXPECT_EQ(other.requests().at(i).privateParts(), "");
        }
    }
}

struct ProbeCase {
    const char* name;
    ScriptedResponse response;
    std::optional<QString> sample; // success with this sample
    Kind kind = Kind::EmptyResponse;
    QString description;           // failure description contains this
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

ProbeCase success(const char* name, ScriptedResponse r, QString sample) { return {name, std::move(r), sample, {}, {}}; }
ProbeCase failure(const char* name, ScriptedResponse r, Kind kind, QString description = {}) {
    return {name, std::move(r), std::nullopt, kind, std::move(description)};
}

class ProbeAnswers : public ConnectionProbe, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeAnswers, AreReadLikeTheStream) {
    const ProbeCase& c = GetParam();
    server.respond(c.response);
    const auto outcome = probe();
    if (c.sample) {
        ASSERT_TRUE(outcome.ok()) << outcome.error->errorDescription().toStdString();
        EXPECT_EQ(outcome.value->sample, *c.sample);
        return;
    }
    ASSERT_FALSE(outcome.ok()) << outcome.value->sample.toStdString();
    EXPECT_EQ(outcome.error->kind, c.kind);
    EXPECT_TRUE(outcome.error->errorDescription().contains(c.description))
        << outcome.error->errorDescription().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProbeAnswers,
    ::testing::Values(
        success("role_event_is_passed_over",
                ScriptedResponse::sse("data: {\"choices\":[{\"delta\":{\"role\":\"assistant\"}}]}\n\ndata: \n\n" +
                                      providers::openAIStream({QStringLiteral("Hi")})),
                QStringLiteral("Hi")),
        success("plain_json_body", ScriptedResponse::json(200, providers::wholeBodyFor("openai", "Whole")), QStringLiteral("Whole")),
        success("plain_json_without_text", ScriptedResponse::json(200, providers::wholeBodyFor("openai", "")), QString()),
        failure("status_201", ScriptedResponse::json(201, "{}"), Kind::Http, QStringLiteral("API error (201)")),
        failure("status_401_utf8", ScriptedResponse::json(401, "{\"error\":{\"message\":\"cl\xc3\xa9 refus\xc3\xa9\x65\"}}"), Kind::Http,
                QStringLiteral("API key is invalid or unauthorized. Check that the key belongs to the selected provider — clé refusée")),
        failure("status_400_utf8_with_stray_bytes",
                ScriptedResponse::json(400, "{\"error\":{\"message\":\"Cl\xc3\xa9 invalide \xff\"}}"), Kind::Http,
                QStringLiteral("— Clé invalide ÿ")),
        failure("status_500_ends_on_a_latin1_byte", ScriptedResponse::text(500, "text/plain", "caf\xe9"), Kind::Http,
                QStringLiteral("Try again later — café")),
        failure("first_event_is_an_error", ScriptedResponse::sse("data: {\"error\":{\"message\":\"Unknown model model-x\"}}\n\n"),
                Kind::ProviderMessage, QStringLiteral("Unknown model model-x")),
        failure("first_payload_is_plain_text",
                ScriptedResponse::sse("data: overloaded\n\n" + providers::openAIStream({QStringLiteral("later")})),
                Kind::ProviderMessage, QStringLiteral("overloaded")),
        failure("done_without_text", ScriptedResponse::sse("data: [DONE]\n"), Kind::ProviderMessage, QStringLiteral("data: [DONE]")),
        failure("empty_body", ScriptedResponse::json(200, ""), Kind::EmptyResponse,
                QStringLiteral("The endpoint returned no streaming data. Make sure the interface format matches the endpoint")),
        failure("blank_lines", ScriptedResponse::text(200, "text/plain", "\n\n\n"), Kind::EmptyResponse),
        failure("web_page", ScriptedResponse::text(200, "text/html", "<!DOCTYPE html>\n<p>Sign in</p>\n"),
                Kind::ProviderMessage, QStringLiteral("web page, not the API (HTTP 200)")),
        failure("json_without_text_or_error", ScriptedResponse::json(200, R"({"ok":true})"), Kind::EmptyResponse)));

TEST_F(ConnectionProbe, TimeoutAndBadEndpointAreReported) {
    ScriptedResponse silent;
    silent.headDelayMs = 60000;
    server.respond(silent);
    const auto timedOut = probe(APIFormat::OpenAI, 0.3);
    ASSERT_FALSE(timedOut.ok());
    EXPECT_EQ(timedOut.error->kind, Kind::Transport);
    EXPECT_EQ(timedOut.error->transport.code, llm::TransportError::Code::TimedOut);

    const QString endpoint = server.baseUrl();
    server.close();
    const auto refused = QCoro::waitFor(LLMClient::probe(endpoint, APIFormat::OpenAI, QStringLiteral("m"), QStringLiteral("k"), 10));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error->errorDescription(),
              QStringLiteral("Can't reach the API server. Check the endpoint domain and your network"));

    const auto bad = QCoro::waitFor(LLMClient::probe(QStringLiteral("example.test"), APIFormat::OpenAI,
                                                     QStringLiteral("m"), QStringLiteral("k"), 10));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error->kind, Kind::InvalidRequest);
    EXPECT_FALSE(bad.error->errorDescription().isEmpty());
}

class ModelList : public LoopbackFixture {
protected:
    llm::ProbeOutcome<QStringList> fetch(APIFormat format, const QString& key = QStringLiteral("key-1")) {
        return QCoro::waitFor(LLMClient::fetchModelIDs(QStringLiteral(" ") + server.baseUrl() + QStringLiteral("//"), format, key));
    }
};

TEST_F(ModelList, EachFormatAsksItsOwnPathWithItsKeyHeader) {
    const struct {
        APIFormat format;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers;
    } cases[] = {
        {APIFormat::OpenAI, "/models", {{"Authorization", "Bearer "}}},
        {APIFormat::Anthropic, "/v1/models", {{"x-api-key", ""}, {"anthropic-version", "2023-06-01"}}},
        {APIFormat::Gemini, "/v1beta/models", {{"x-goog-api-key", ""}}},
    };
    for (const auto& c : cases) {
        server.route(c.path, ScriptedResponse::json(200, R"({"data":[{"id":"b"},{"id":"a"}]})"));
        const auto outcome = fetch(c.format, QString());
        ASSERT_TRUE(outcome.ok()) << c.path.constData();
        EXPECT_EQ(*outcome.value, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        const RecordedRequest& request = server.requests().last();
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.path(), c.path);
        for (const auto& [name, value] : c.headers) {
            EXPECT_TRUE(request.hasHeader(name)) << name.constData();
            EXPECT_EQ(request.header(name), value) << name.constData();
        }
    }
}

TEST_F(ModelList, AnswersAreReadAsTheProvidersWriteThem) {
    const struct {
        const char* name;
        ScriptedResponse response;
        std::optional<QStringList> ids;
        Kind kind = Kind::EmptyResponse;
    } cases[] = {
        {"data_sorted_by_code_point", ScriptedResponse::json(200, R"({"data":[{"id":"gpt-4o"},{"id":"Zeta"},{"name":"x"},{"id":"alpha"},{"id":"gpt-4o"}]})"),
         QStringList{"Zeta", "alpha", "gpt-4o", "gpt-4o"}},
        {"empty_data", ScriptedResponse::json(200, R"({"data":[]})"), QStringList{}},
        {"gemini_names", ScriptedResponse::json(200, R"({"models":[{"name":"models/gemini-2.5-pro"},{"name":"gemini-2.5-flash"}]})"),
         QStringList{"gemini-2.5-flash", "gemini-2.5-pro"}},
        {"data_not_objects_falls_to_models", ScriptedResponse::json(200, R"({"data":["a"],"models":[{"name":"m"}]})"), QStringList{"m"}},
        {"neither_list", ScriptedResponse::json(200, R"({"data":"a"})"), std::nullopt, Kind::EmptyResponse},
        {"not_json", ScriptedResponse::text(200, "text/html", "<html></html>"), std::nullopt, Kind::EmptyResponse},
        {"array_top_level", ScriptedResponse::json(200, R"([{"id":"a"}])"), std::nullopt, Kind::EmptyResponse},
        {"unauthorized", ScriptedResponse::json(401, R"({"error":{"message":"bad key"}})"), std::nullopt, Kind::Http},
    };
    for (const auto& c : cases) {
        server.route("/models", c.response);
        const auto outcome = fetch(APIFormat::OpenAI);
        ASSERT_EQ(outcome.ok(), c.ids.has_value()) << c.name;
        if (c.ids) {
            EXPECT_EQ(*outcome.value, *c.ids) << c.name;
        } else {
            EXPECT_EQ(outcome.error->kind, c.kind) << c.name;
        }
    }
    const auto unauthorized = fetch(APIFormat::OpenAI);
    EXPECT_EQ(unauthorized.error->status, 401);
    EXPECT_TRUE(unauthorized.error->errorDescription().endsWith(QStringLiteral(" — bad key")));
}

TEST_F(ModelList, RedirectToAnotherServerDropsTheKey) {
    TestHttpServer other;
    ASSERT_TRUE(other.listen());
    other.respond(ScriptedResponse::json(200, R"({"data":[{"id":"m"}]})"));
    for (APIFormat format : APIFormat::allCases()) {
        for (int status : {301, 307, 308}) {
            ScriptedResponse moved = ScriptedResponse::text(status, "text/plain", "");
            moved.header("Location", other.baseUrl().toUtf8() + "/elsewhere");
            server.respond(moved);
            const auto outcome = fetch(format, QStringLiteral("key-1"));
            ASSERT_TRUE(outcome.ok()) << format.rawValue().toStdString() << " " << status;
            EXPECT_EQ(other.requests().last().privateParts(), "") << format.rawValue().toStdString() << " " << status;
        }
    }
}

TEST_F(ModelList, BadEndpointOrKeyIsRefusedWithoutARequest) {
    EXPECT_EQ(QCoro::waitFor(LLMClient::fetchModelIDs(QStringLiteral("no-scheme/v1"), APIFormat::OpenAI, QString()))
                  .error->kind,
              Kind::InvalidRequest);
    const auto badKey = fetch(APIFormat::OpenAI, QStringLiteral("k\r\nX: y"));
    ASSERT_FALSE(badKey.ok());
    EXPECT_TRUE(badKey.error->errorDescription().contains(QLatin1String("API key")));
    EXPECT_TRUE(server.requests().isEmpty());
}

} // namespace
} // namespace corvane::test
