// What the client sends, when it sends nothing, and how a consumer stops an answer.
#include "LoopbackFixture.h"
#include "llm/HttpExchange.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace corvane::test {
namespace {

using llm::StreamEvent;

class ModelRequest : public LoopbackFixture {};

TEST_F(ModelRequest, EachFormatPostsItsPathHeadersAndBody) {
    const struct {
        QString format;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    } cases[] = {
        {QStringLiteral("openai"), "/v1/chat/completions", {{"Authorization", "Bearer key-1"}},
         R"({"messages":[{"content":"Be brief.","role":"system"},{"content":"Fix: teh cat","role":"user"}],"model":"model-x","stream":true,"temperature":0.7})"},
        {QStringLiteral("anthropic"), "/v1/v1/messages", {{"x-api-key", "key-1"}, {"anthropic-version", "2023-06-01"}},
         R"({"max_tokens":4096,"messages":[{"content":"Fix: teh cat","role":"user"}],"model":"model-x","stream":true,"system":"Be brief."})"},
        {QStringLiteral("gemini"), "/v1/v1beta/models/model-x:streamGenerateContent", {{"x-goog-api-key", "key-1"}},
         R"({"contents":[{"parts":[{"text":"Fix: teh cat"}],"role":"user"}],"systemInstruction":{"parts":[{"text":"Be brief."}]}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.toStdString());
        // Blanks and trailing slashes around the configured endpoint do not reach the wire.
        configure(c.format, QStringLiteral("  ") + server.baseUrl() + QStringLiteral("/v1///\n"), QStringLiteral("key-1"));
        server.respond(ScriptedResponse::sse(providers::streamFor(c.format, {QStringLiteral("ok")})));
        const qsizetype before = server.requests().size();
        const StreamRun result = run();
        expectWellFormed(result);
        ASSERT_EQ(server.requests().size(), before + 1);
        const RecordedRequest& request = server.requests().last();
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path(), c.path);
        if (c.format == QLatin1String("gemini")) {
            EXPECT_EQ(request.target, c.path + "?alt=sse");
        }
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        for (const auto& [name, value] : c.headers)
            EXPECT_EQ(request.header(name), value) << name.constData();
        EXPECT_EQ(request.body, c.body);
        EXPECT_FALSE(request.hasHeader("x-device-id"));
        EXPECT_FALSE(request.hasHeader("x-sign"));
    }
}

TEST_F(ModelRequest, EmptyKeysStillSendTheirHeaderExceptBearer) {
    for (const QString& format : {QStringLiteral("openai"), QStringLiteral("anthropic"), QStringLiteral("gemini")}) {
        configure(format, server.baseUrl(), QString());
        server.respond(ScriptedResponse::sse(providers::streamFor(format, {QStringLiteral("ok")})));
        expectWellFormed(run());
        const RecordedRequest& request = server.requests().last();
        EXPECT_FALSE(request.hasHeader("Authorization")) << format.toStdString();
        EXPECT_EQ(request.hasHeader("x-api-key"), format == QLatin1String("anthropic"));
        EXPECT_EQ(request.hasHeader("x-goog-api-key"), format == QLatin1String("gemini"));
    }
}

TEST_F(ModelRequest, BadEndpointsFailBeforeAnythingIsSent) {
    const struct {
        QString endpoint;
        QString part;
    } cases[] = {
        {QString(), QStringLiteral("Invalid API endpoint: ")},
        {QStringLiteral("127.0.0.1:1/v1"), QStringLiteral("Invalid API endpoint: ")},
        {QStringLiteral("api.example.test/v1"), QStringLiteral("Invalid API endpoint: ")},
        {QStringLiteral("ftp://127.0.0.1/v1"), QStringLiteral("Invalid API endpoint: ")},
        {QStringLiteral("file:///tmp"), QStringLiteral("Invalid API endpoint: ")},
    };
    for (const auto& c : cases) {
        configure(QStringLiteral("openai"), c.endpoint, QStringLiteral("key-1"));
        const StreamRun result = run();
        expectWellFormed(result);
        EXPECT_EQ(result.events.size(), 1);
        EXPECT_EQ(result.terminal().kind, QStringLiteral("invalid_endpoint")) << c.endpoint.toStdString();
        EXPECT_TRUE(result.terminal().message.startsWith(c.part)) << result.terminal().message.toStdString();
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(ModelRequest, KeyWithLineBreakIsRefusedNamingTheKey) {
    for (const QString& key : {QStringLiteral("sk-1\r\nX-Injected: yes"), QStringLiteral("sk-1\n"),
                              QString::fromUtf16(u"sk\u0000", 3)}) {
        configure(QStringLiteral("anthropic"), server.baseUrl(), key);
        const StreamRun result = run();
        expectWellFormed(result);
        EXPECT_EQ(result.terminal().kind, QStringLiteral("invalid_endpoint"));
        EXPECT_TRUE(result.terminal().message.contains(QLatin1String("API key"))) << result.terminal().message.toStdString();
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(ModelRequest, AProviderErrorQuotingTheKeyNeverCarriesIt) {
    const QString key = QStringLiteral("sk-live-7f3a9c21");
    for (const QByteArray& body : {QByteArray(R"({"error":{"message":"Incorrect API key provided: sk-live-7f3a9c21."}})"),
                                   QByteArray("data: {\"error\":{\"message\":\"bad key sk-live-7f3a9c21\"}}\n\n")}) {
        configure(QStringLiteral("openai"), server.baseUrl(), key);
        server.respond(body.startsWith("data:") ? ScriptedResponse::sse(body) : ScriptedResponse::json(401, body));
        const StreamRun result = run();
        expectWellFormed(result);
        EXPECT_EQ(result.terminal().type, StreamEvent::Type::Error);
        EXPECT_FALSE(result.terminal().message.contains(key)) << result.terminal().message.toStdString();
    }
}

TEST_F(ModelRequest, UnreachableServerIsANetworkError) {
    const QString endpoint = server.baseUrl();
    server.close(); // nothing listens on that port any more
    configure(QStringLiteral("openai"), endpoint, QStringLiteral("key-1"));
    const StreamRun result = run();
    expectWellFormed(result);
    EXPECT_EQ(result.terminal().kind, QStringLiteral("network"));
    EXPECT_EQ(result.terminal().message,
              QStringLiteral("Can't reach the API server. Check the endpoint domain and your network"));
}

TEST_F(ModelRequest, ServerThatClosesWithoutAnswerIsANetworkError) {
    ScriptedResponse cut;
    cut.status = 200;
    cut.framing = ScriptedResponse::Framing::ContentLength;
    cut.then("data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"}}]}\n\n");
    server.respond([&](const RecordedRequest&) {
        // Promise more bytes than are sent, then hang up.
        ScriptedResponse r = cut;
        r.framing = ScriptedResponse::Framing::UntilClose;
        r.header("Content-Length", "10000");
        return r;
    });
    const StreamRun result = run();
    expectWellFormed(result);
    EXPECT_EQ(result.text(), QStringLiteral("Hi"));
    EXPECT_EQ(result.terminal().kind, QStringLiteral("network"));
}

// A chunked answer cut off before its last chunk is never a complete one, however the close lands.
TEST_F(ModelRequest, ChunkedAnswerCutShortIsANetworkErrorEveryTime) {
    for (ScriptedResponse::Cut cut : {ScriptedResponse::Cut::MidChunk, ScriptedResponse::Cut::BeforeLastChunk}) {
        ScriptedResponse r = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")}, false));
        r.then("data: {\"choices\":[{\"delta\":{\"content\":\" there, and more\"}}]}\n\n");
        r.cut = cut;
        server.respond(r);
        for (int i = 0; i < 20; ++i) {
            const StreamRun result = run();
            expectWellFormed(result);
            EXPECT_EQ(result.terminal().kind, QStringLiteral("network")) << int(cut) << " run " << i;
            EXPECT_EQ(result.terminal().message, QStringLiteral("The connection closed before the answer was complete"));
            EXPECT_TRUE(result.text().startsWith(QStringLiteral("Hi")));
        }
    }
}

// 307 and 308 repeat the POST with its body; 301, 302 and 303 would go on with a bodyless GET, whose
// answer is to another question: they end with an error naming the address to enter instead (the
// common move of an API host from http to https). A loop ends with an error instead of going on for
// ever. Another server (another port or address) never gets the key or the user's text.
TEST_F(ModelRequest, RedirectsAreFollowedLikeABrowser) {
    TestHttpServer otherPort, otherHost;
    ASSERT_TRUE(otherPort.listen());
    ASSERT_TRUE(otherHost.listen(QStringLiteral("127.0.0.2")));
    enum Target { Same, OtherPort, OtherHost };
    const struct {
        int status;
        Target target;
        QByteArray method; // what reaches the target; empty: nothing does
    } cases[] = {
        {307, Same, "POST"}, {308, Same, "POST"},   {301, Same, ""},      {302, Same, ""},
        {303, Same, ""},     {307, OtherPort, ""},  {308, OtherHost, ""}, {301, OtherPort, ""},
        {302, OtherHost, ""}, {303, OtherPort, ""},
    };
    for (const QString& format : {QStringLiteral("openai"), QStringLiteral("anthropic"), QStringLiteral("gemini")}) {
        configure(format, server.baseUrl() + QStringLiteral("/v1"), QStringLiteral("key-1"));
        for (const auto& c : cases) {
            SCOPED_TRACE(format.toStdString() + " " + std::to_string(c.status) + " to " + std::to_string(c.target));
            TestHttpServer& target = c.target == Same ? server : c.target == OtherPort ? otherPort : otherHost;
            const QByteArray origin = c.target == Same ? QByteArray() : target.baseUrl().toUtf8();
            const ScriptedResponse answer = ScriptedResponse::sse(providers::streamFor(format, {QStringLiteral("there")}));
            server.respondMoving(c.status, origin, answer);
            if (c.target != Same)
                target.respond(answer);
            const qsizetype before = target.requests().size();
            const StreamRun result = run();
            expectWellFormed(result);
            if (c.method.isEmpty()) {
                EXPECT_EQ(result.terminal().kind, QStringLiteral("network"));
                const QString expected =
                    c.status >= 307 ? QStringLiteral("The server redirected the request to another address (") +
                                          QString::fromUtf8(origin) + u')'
                                    : QStringLiteral("The server redirected the request to ") + target.baseUrl() +
                                          QStringLiteral("/moved/v1; enter that address as the endpoint");
                EXPECT_TRUE(result.terminal().message.startsWith(expected)) << result.terminal().message.toStdString();
                EXPECT_EQ(target.requests().size(), before + (c.target == Same ? 1 : 0));
                continue;
            }
            EXPECT_EQ(result.text(), QStringLiteral("there"));
            ASSERT_GT(target.requests().size(), before);
            const RecordedRequest& second = target.requests().last();
            EXPECT_EQ(second.method, c.method);
            if (c.target == Same)
                EXPECT_EQ(second.privateParts().endsWith("body"), c.method == "POST") << second.privateParts().constData();
            else
                EXPECT_EQ(second.privateParts(), "");
        }
    }
    // An address without a port stands for the scheme's default one.
    const struct {
        const char* a;
        const char* b;
        bool same;
    } origins[] = {{"http://h/v1", "http://h:80/x", true},       {"https://h", "https://H:443/", true},
                   {"http://h", "https://h", false},             {"http://h:80", "http://h:8080", false},
                   {"http://127.0.0.1", "http://localhost", false}};
    for (const auto& o : origins)
        EXPECT_EQ(llm::HttpExchange::sameOrigin(QUrl(QLatin1String(o.a)), QUrl(QLatin1String(o.b))), o.same) << o.a << " " << o.b;

    configure(QStringLiteral("openai"), server.baseUrl() + QStringLiteral("/v1"), QStringLiteral("sk-test"));
    ScriptedResponse loop = ScriptedResponse::text(307, "text/plain", "");
    loop.header("Location", "/v1/chat/completions");
    server.route("/v1/chat/completions", loop);
    const StreamRun looped = run();
    expectWellFormed(looped);
    EXPECT_EQ(looped.terminal().kind, QStringLiteral("network"));
    EXPECT_EQ(looped.terminal().message, QStringLiteral("Too many redirects"));
}

// Through a plain HTTP proxy the request goes to the proxy, with the full address as its target.
TEST_F(ModelRequest, PlainHttpGoesThroughTheConfiguredProxy) {
    configure(QStringLiteral("openai"), QStringLiteral("http://api.example.test/v1"), QStringLiteral("key-1"));
    server.respond(ScriptedResponse::sse(providers::openAIStream({QStringLiteral("proxied")})));
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("u"), QStringLiteral("pw")));
    const StreamRun result = run();
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    expectWellFormed(result);
    EXPECT_EQ(result.text(), QStringLiteral("proxied"));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().first().target, "http://api.example.test/v1/chat/completions");
    EXPECT_EQ(server.requests().first().header("Host"), "api.example.test");
    EXPECT_EQ(server.requests().first().header("Proxy-Authorization"), "Basic " + QByteArray("u:pw").toBase64());
}

// A status line is "HTTP/1.x", three digits, then a blank or the end; a length is digits only.
// Anything else is not an HTTP answer, and a garbled chunk size is a broken one.
TEST_F(ModelRequest, AnswerThatIsNotHttpIsAnInvalidResponse) {
    const QByteArray event = "data: {\"choices\":[{\"delta\":{\"content\":\"ok\"}}]}\n\n";
    const QByteArray length = "Content-Length: " + QByteArray::number(event.size()) + "\r\n\r\n" + event;
    const QByteArray chunk = QByteArray::number(event.size(), 16);
    const struct {
        const char* name;
        QByteArray answer;
        const char* kind; // empty: the answer is read
    } cases[] = {
        {"ssh_banner", "SSH-2.0-OpenSSH_9.2\r\n", "invalid_response"},
        {"four_digit_status", "HTTP/1.1 2000 OK\r\n" + length, "invalid_response"},
        {"status_with_suffix", "HTTP/1.1 200x\r\n" + length, "invalid_response"},
        {"two_digit_status", "HTTP/1.1 20 OK\r\n" + length, "invalid_response"},
        {"version_two", "HTTP/2 200 OK\r\n" + length, "invalid_response"},
        {"signed_length", "HTTP/1.1 200 OK\r\nContent-Length: +" + length.mid(16), "invalid_response"},
        {"length_list", "HTTP/1.1 200 OK\r\nContent-Length: 3, 3\r\n\r\nabc", "invalid_response"},
        {"chunk_size_with_sign", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n+" + chunk + "\r\n" + event, "network"},
        {"chunk_size_with_prefix", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0x" + chunk + "\r\n" + event, "network"},
        {"no_reason_phrase", "HTTP/1.0 200\r\n" + length, ""},
        {"padded_length", "HTTP/1.1 200 OK\r\nContent-Length:   " + length.mid(16), ""},
        {"chunk_extension", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk + " ;a=b\r\n" + event +
                                "\r\n0\r\n\r\n", ""},
    };
    for (const auto& c : cases) {
        QTcpServer raw;
        ASSERT_TRUE(raw.listen(QHostAddress::LocalHost));
        QObject::connect(&raw, &QTcpServer::newConnection, [&] {
            QTcpSocket* socket = raw.nextPendingConnection();
            socket->write(c.answer);
            socket->disconnectFromHost();
        });
        configure(QStringLiteral("openai"), QStringLiteral("http://127.0.0.1:%1").arg(raw.serverPort()), QStringLiteral("key-1"));
        const StreamRun result = run();
        expectWellFormed(result);
        EXPECT_EQ(result.terminal().kind.toStdString(), c.kind) << c.name << ": " << result.terminal().message.toStdString();
        if (!*c.kind) {
            EXPECT_EQ(result.text(), QStringLiteral("ok")) << c.name;
        }
    }
}

// Whatever a server sends without end, the client stops at its cap with a clear error and hangs
// up: the server gets to send little more than the cap (its socket buffers), never the flood.
TEST_F(ModelRequest, EndlessBodiesStopAtTheCapAndCloseTheConnection) {
    struct Endless {
        const char* name;
        int status;
        QByteArray start, repeat;
        const char* kind;
        QString message;
        bool ownChunkLines = false; // the repeat carries its chunk lines: one data byte per 30 KB of them
    };
    const QString tooLarge = QStringLiteral("larger than 8 MiB");
    const Endless cases[] = {
        {"error_body", 500, "Internal failure: ", QByteArray("again and again ").repeated(4096), "http_500",
         QStringLiteral("Provider temporarily unavailable (500)")},
        {"one_line", 200, "data: ", QByteArray(65536, 'y'), "invalid_response", tooLarge},
        {"comments", 200, ": hi", QByteArray(": keep-alive\n").repeated(4096), "invalid_response", tooLarge},
        {"valid_tokens", 200, "data: {}\n",
         QByteArray("data: {\"choices\":[{\"delta\":{\"content\":\"tok \"}}]}\n\n").repeated(1024), "invalid_response",
         QStringLiteral("The server's answer is larger than 8 MiB; the text so far is incomplete")},
        {"chunk_lines", 200, "2\r\nda\r\n", "1;" + QByteArray(30000, 'e') + "\r\nx\r\n", "invalid_response", tooLarge, true},
    };
    for (const Endless& c : cases) {
        TestHttpServer flood;
        ASSERT_TRUE(flood.listen());
        configure(QStringLiteral("openai"), flood.baseUrl(), QStringLiteral("key-1"), 60);
        ScriptedResponse r = ScriptedResponse::text(c.status, "text/event-stream", c.start);
        r.framing = c.ownChunkLines ? ScriptedResponse::Framing::UntilClose : ScriptedResponse::Framing::Chunked;
        if (c.ownChunkLines)
            r.header("Transfer-Encoding", "chunked");
        r.endless = c.repeat;
        flood.respond(r);
        const StreamRun result = run();
        expectWellFormed(result);
        EXPECT_EQ(result.terminal().kind.toStdString(), c.kind) << c.name;
        EXPECT_TRUE(result.terminal().message.contains(c.message)) << c.name << ": " << result.terminal().message.toStdString();
        spinUntil([&] { return flood.openConnections() == 0; }, 10000);
        EXPECT_EQ(flood.openConnections(), 0) << c.name << ": the connection is still open";
        EXPECT_LT(flood.bodyBytesSent(), qint64(40) << 20) << c.name;
        if (QByteArrayView(c.name) == "valid_tokens") {
            EXPECT_GT(result.tokenCount(), 100000); // the tokens before the cap all arrived
        }
    }
}

// Zero, negative and NaN time-outs mean the default, never "wait forever" or "fail at once".
TEST_F(ModelRequest, UnusableTimeoutStillAnswers) {
    for (double timeout : {0.0, -1.0, std::nan("")}) {
        configure(QStringLiteral("openai"), server.baseUrl(), QStringLiteral("key-1"), timeout);
        ScriptedResponse slow = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("late but fine")}));
        slow.headDelayMs = 100;
        server.respond(slow);
        const StreamRun result = run();
        expectWellFormed(result);
        EXPECT_EQ(result.terminal().type, StreamEvent::Type::Done) << timeout;
        EXPECT_EQ(result.text(), QStringLiteral("late but fine"));
    }
}

TEST_F(ModelRequest, TimeoutMessageShowsTheConfiguredSeconds) {
    configure(QStringLiteral("openai"), server.baseUrl(), QStringLiteral("key-1"), 1.9);
    ScriptedResponse silent;
    silent.headDelayMs = 60000;
    server.respond(silent);
    StreamRun result;
    std::unique_ptr<llm::ModelStream> stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"));
    store.setApiTimeout(600); // an edit in the settings window while the run waits changes nothing of it
    QObject::connect(stream.get(), &llm::ModelStream::event, [&](const StreamEvent& e) {
        result.events.append(e);
        result.ended = e.isTerminal();
    });
    spinUntil([&] { return result.ended; });
    expectWellFormed(result);
    EXPECT_EQ(result.terminal().kind, QStringLiteral("timeout"));
    EXPECT_EQ(result.terminal().message,
              QStringLiteral("Request timed out (limit 1 s). Increase the timeout in Settings or try a faster model"));
}

TEST_F(ModelRequest, StopAfterFirstTokenAbortsTheRequestAndSilencesTheStream) {
    ScriptedResponse never = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("First")}, false));
    never.keepOpen = true;
    never.then(providers::openAIStream({QStringLiteral("Second")}), 300);
    server.respond(never);

    QList<StreamEvent> events;
    std::unique_ptr<llm::ModelStream> stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"));
    QObject::connect(stream.get(), &llm::ModelStream::event, [&](const StreamEvent& e) {
        events.append(e);
        stream->stop();
    });
    spinUntil([&] { return !events.isEmpty(); });
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events.first(), StreamEvent::token(QStringLiteral("First")));
    EXPECT_TRUE(stream->isFinished());
    spinUntil([&] { return server.openConnections() == 0; });
    EXPECT_EQ(server.openConnections(), 0) << "the HTTP request is still open";
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(events.size(), 1);
}

TEST_F(ModelRequest, DestroyingTheStreamInsideAnEventIsSafe) {
    server.respond(ScriptedResponse::sse(providers::openAIStream({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})));
    int seen = 0;
    std::unique_ptr<llm::ModelStream> stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"));
    QObject::connect(stream.get(), &llm::ModelStream::event, [&](const StreamEvent&) {
        ++seen;
        stream.reset(); // the consumer drops its stream from inside the event
    });
    spinUntil([&] { return seen > 0; });
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(seen, 1);
    spinUntil([&] { return server.openConnections() == 0; });
    EXPECT_EQ(server.openConnections(), 0);
}

TEST_F(ModelRequest, StreamDroppedBeforeItStartedSendsNothing) {
    server.respond(ScriptedResponse::sse(providers::openAIStream({QStringLiteral("x")})));
    client.optimize(QStringLiteral("p"), QStringLiteral("s")).reset();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(server.requests().isEmpty());
}

// Settings are read when the request starts: a change afterwards does not touch it.
TEST_F(ModelRequest, SettingsAreReadAtStart) {
    server.respond(ScriptedResponse::sse(providers::openAIStream({QStringLiteral("x")})));
    StreamRun result;
    std::unique_ptr<llm::ModelStream> stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"));
    store.setApiModel(QStringLiteral("changed-model"));
    store.setApiEndpoint(QStringLiteral("http://127.0.0.1:1"));
    QObject::connect(stream.get(), &llm::ModelStream::event, [&](const StreamEvent& e) {
        result.events.append(e);
        result.ended = e.isTerminal();
    });
    spinUntil([&] { return result.ended; });
    expectWellFormed(result);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(server.requests().first().body).object().value("model").toString(),
              QStringLiteral("model-x"));
}

} // namespace
} // namespace corvane::test

namespace corvane::test {
namespace {

// Streams the first request's answer, then a clean one on the same client; how many connections
// the server saw tells whether the first one was kept.
struct TwoRequests {
    TestHttpServer& server;
    ScriptedResponse first;
    ScriptedResponse next = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")}));

    void install() {
        server.respond([this](const RecordedRequest&) { return server.requests().size() == 1 ? first : next; });
    }
};

// A connection that ended an answer cleanly carries the next request without a new handshake; one
// whose body was not read to its framed end, or that the server closes, is never used again.
TEST_F(ModelRequest, OnlyAConnectionThatEndedAnAnswerCleanlyIsKept) {
    const ScriptedResponse clean = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")}));
    ScriptedResponse closing = clean;
    closing.header("Connection", "close");
    ScriptedResponse untilClose = clean;
    untilClose.framing = ScriptedResponse::Framing::UntilClose;
    ScriptedResponse cut = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")}, false));
    cut.then("data: {\"choices\":[{\"delta\":{\"content\":\" there\"}}]}\n\n");
    cut.cut = ScriptedResponse::Cut::MidChunk;
    ScriptedResponse cappedError = ScriptedResponse::text(500, "text/plain", "Internal failure: ");
    cappedError.framing = ScriptedResponse::Framing::Chunked;
    cappedError.endless = QByteArray("again and again ").repeated(4096);
    ScriptedResponse endless = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("First")}, false));
    endless.keepOpen = true;
    ScriptedResponse switching;
    switching.status = 101;
    const ScriptedResponse whole = ScriptedResponse::json(200, providers::wholeBodyFor("openai", "Hi"));
    ScriptedResponse briefKeepAlive = whole, negativeKeepAlive = whole, overrun = whole;
    briefKeepAlive.header("Keep-Alive", "timeout=1");
    negativeKeepAlive.header("Keep-Alive", "timeout=-2147483648");
    // Bytes after the declared length, on a connection the server then holds open without reading on.
    overrun.framing = ScriptedResponse::Framing::UntilClose;
    overrun.header("Content-Length", QByteArray::number(whole.pieces.first().bytes.size())).header("Connection", "keep-alive");
    overrun.then("data: more\n\n").keepOpen = true;
    // Heads the test server keeps the connection after, whatever they say (a folded line is a
    // continuation line of its own); more than the drain takes after the end marker, in the read that
    // brought it: in the same chunk, or in the chunks after it.
    ScriptedResponse lengthBesideChunks = whole, interimClose = whole;
    lengthBesideChunks.framing = ScriptedResponse::Framing::Chunked;
    lengthBesideChunks.header("Content-Length", QByteArray::number(whole.pieces.first().bytes.size()));
    interimClose.interim = "HTTP/1.1 103 Early Hints\r\nConnection: close\r\n\r\n";
    const QByteArray pad = QByteArray(": pad\n").repeated(25 * 1024);
    ScriptedResponse restInSlice = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")}) + pad);
    restInSlice.framing = ScriptedResponse::Framing::ContentLength;
    const struct {
        const char* name;
        ScriptedResponse first;
        bool cancelled;
        bool kept;
    } cases[] = {
        {"stream ended by its marker", clean, false, true},
        {"whole body with a length", whole, false, true},
        {"error status read whole", ScriptedResponse::json(500, R"({"error":{"message":"busy"}})"), false, true},
        {"Connection: close", closing, false, false},
        {"body until close", untilClose, false, false},
        {"cut stream", cut, false, false},
        {"error body past its cap", cappedError, false, false},
        {"cancelled run", endless, true, false},
        {"unsolicited 101", switching, false, false},
        {"kept by the server for a second", briefKeepAlive, false, false},
        {"negative keep-alive time-out", negativeKeepAlive, false, false},
        {"bytes past its length", overrun, false, false},
        {"length beside chunked", lengthBesideChunks, false, false},
        {"Keep-Alive max=0", ScriptedResponse(whole).header("Keep-Alive", "timeout=30, max=0"), false, false},
        {"folded Connection: close", ScriptedResponse(whole).header("X-Trace", "1\r\nConnection: keep-alive\r\n close"), false,
         false},
        {"blank before a colon", ScriptedResponse(whole).header("Connection ", "close"), false, false},
        {"close in an interim head", interimClose, false, false},
        {"rest past the drain's cap in the end marker's chunk", restInSlice, false, false},
        {"rest past the drain's cap in the chunks after it", ScriptedResponse(clean).then(pad), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        spinUntil([&] { return pool.idleCount() == 0; }, 10000); // the last row's server is gone
        TestHttpServer host;
        host.setKeepAlive(true);
        ASSERT_TRUE(host.listen());
        configure(QStringLiteral("openai"), host.baseUrl(), QStringLiteral("key-1"));
        TwoRequests script{host, c.first};
        script.install();
        if (c.cancelled) {
            std::unique_ptr<llm::ModelStream> stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"));
            bool token = false;
            QObject::connect(stream.get(), &llm::ModelStream::event, [&](const StreamEvent&) {
                token = true;
                stream->stop();
            });
            spinUntil([&] { return token; });
        } else {
            run([&](llm::ModelStream&, StreamRun& r) { // one that is not kept is never in the pool, not for an instant
                EXPECT_TRUE(c.kept || !r.ended || pool.idleCount() == 0);
            });
        }
        if (c.kept)
            spinUntil([&] { return pool.idleCount() == 1; }, 10000);
        const StreamRun second = run();
        EXPECT_EQ(second.terminal().type, StreamEvent::Type::Done);
        EXPECT_EQ(second.text(), QStringLiteral("Hi"));
        ASSERT_EQ(host.requests().size(), 2);
        EXPECT_EQ(host.connectionsAccepted(), c.kept ? 1 : 2);
        EXPECT_EQ(host.requests().last().connection, c.kept ? 1 : 2);
    }

    // A kept connection serves its own origin only.
    TestHttpServer other;
    ASSERT_TRUE(other.listen(QStringLiteral("127.0.0.2")));
    other.respond(clean);
    configure(QStringLiteral("openai"), other.baseUrl(), QStringLiteral("key-1"));
    EXPECT_EQ(run().text(), QStringLiteral("Hi"));
    EXPECT_EQ(other.connectionsAccepted(), 1);

    // A connection opened ahead of a run waits in the pool and carries the run's request.
    configure(QStringLiteral("openai"), server.baseUrl(), QStringLiteral("key-1"));
    server.respond(clean);
    client.prewarm();
    client.prewarm(); // one is enough
    spinUntil([&] { return server.connectionsAccepted() == 1; }, 10000);
    const int opened = pool.connectionsOpened();
    EXPECT_EQ(run().text(), QStringLiteral("Hi"));
    EXPECT_EQ(server.connectionsAccepted(), 1);
    EXPECT_EQ(pool.connectionsOpened(), opened);
}

// The server may close a kept connection just as a request goes out on it: that request is sent
// once more, on a new connection. A close that comes later may follow the server's acting on the
// request, and once any byte of an answer came, nothing is sent again either.
TEST_F(ModelRequest, ARequestCrossingTheServersCloseIsSentOnceMore) {
    ScriptedResponse hangUp;
    hangUp.hangUp = true;
    ScriptedResponse begun;
    begun.framing = ScriptedResponse::Framing::UntilClose;
    begun.header("Content-Length", "10000");
    begun.then("data: {\"choices\":[{\"delta\":{\"content\":\"Hi\"}}]}\n\n");
    ScriptedResponse held = hangUp; // the request read, held, then the connection closed or reset
    held.headDelayMs = 400;
    ScriptedResponse heldReset = held;
    heldReset.reset = true;
    for (const ScriptedResponse* answer : {&hangUp, &held, &heldReset, &begun}) {
        const bool answerBegun = answer != &hangUp;
        SCOPED_TRACE(answer->headDelayMs + answer->reset + 2 * answer->hangUp);
        spinUntil([&] { return pool.idleCount() == 0; }, 10000); // the last row's server is gone
        TestHttpServer host;
        host.setKeepAlive(true);
        ASSERT_TRUE(host.listen());
        configure(QStringLiteral("openai"), host.baseUrl(), QStringLiteral("key-1"));
        ScriptedResponse clean = ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")}));
        host.respond([&](const RecordedRequest&) {
            return host.requests().size() == 2 ? *answer : clean;
        });
        run();
        spinUntil([&] { return pool.idleCount() == 1; }, 10000);
        const StreamRun second = run();
        expectWellFormed(second);
        if (answerBegun) {
            EXPECT_EQ(second.terminal().kind, QStringLiteral("network"));
            EXPECT_EQ(second.terminal().message.startsWith(QLatin1String("The server closed")), answer->hangUp);
            EXPECT_EQ(host.requests().size(), 2);
            continue;
        }
        EXPECT_EQ(second.terminal().type, StreamEvent::Type::Done);
        EXPECT_EQ(host.requests().size(), 3);
        EXPECT_EQ(host.connectionsAccepted(), 2);

        // A kept connection that the server closes while idle leaves the pool.
        spinUntil([&] { return pool.idleCount() == 1; }, 10000);
        host.closeIdleConnections();
        spinUntil([&] { return pool.idleCount() == 0; }, 10000);
        EXPECT_EQ(pool.idleCount(), 0);
        EXPECT_EQ(run().terminal().type, StreamEvent::Type::Done);
        EXPECT_EQ(host.requests().size(), 4);
        EXPECT_EQ(host.connectionsAccepted(), 3);
    }
}

// After its end marker the rest of an answer's body is read for the connection's sake: for a time no
// read extends, a number of bytes that counts chunk lines too, and only while the pool has room.
TEST_F(ModelRequest, TheRestOfAnAnswerIsReadWithinBounds) {
    const QByteArray events = providers::openAIStream({QStringLiteral("Hi")});
    ScriptedResponse flood; // chunks written as they are
    flood.framing = ScriptedResponse::Framing::UntilClose;
    flood.header("Transfer-Encoding", "chunked").header("Connection", "keep-alive");
    flood.then(QByteArray::number(events.size(), 16) + "\r\n" + events + "\r\n");
    ScriptedResponse trickle = flood; // then a byte every 0.1 s for half a minute
    for (int i = 0; i < 300; ++i)
        trickle.then("1\r\nx\r\n", 100).keepOpen = true;
    const auto heldOpen = [&] { // kept connections and drains
        return std::ranges::count_if(pool.findChildren<QTcpSocket*>(), [](QTcpSocket* s) { return s->state() == QAbstractSocket::ConnectedState; });
    };
    ScriptedResponse unframed = trickle; // ends with the connection: nothing to keep, nothing to read on for
    unframed.headers.removeFirst();
    unframed.pieces.first().bytes = events;
    server.respond(unframed);
    run();
    EXPECT_EQ(heldOpen(), 0);

    server.respond(trickle);
    std::unique_ptr<llm::ModelStream> streams[6]; // at once, each on its own connection
    int done = 0;
    for (auto& stream : streams)
        QObject::connect((stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"))).get(), &llm::ModelStream::event,
                         [&](const StreamEvent& e) { done += e.type == StreamEvent::Type::Done; });
    spinUntil([&] { return done == 6; }, 10000);
    EXPECT_EQ(server.connectionsAccepted(), 7);
    EXPECT_LE(heldOpen(), llm::HttpConnectionPool::maxPerOrigin);
    spinUntil([&] { return server.openConnections() == 0; }, 10000);
    EXPECT_EQ(server.openConnections(), 0) << "a trickle kept its connection";

    // One byte per chunk with size lines 30 KB long, or 30 KB chunks, as fast as they go.
    for (const QByteArray& chunk : {"1;" + QByteArray(30000, 'e') + "\r\nx\r\n", "7530\r\n" + QByteArray(30000, 'x') + "\r\n"}) {
        flood.endless = chunk;
        server.respond(flood);
        const qint64 before = server.bodyBytesSent();
        EXPECT_EQ(run().terminal().type, StreamEvent::Type::Done);
        spinUntil([&] { return server.openConnections() == 0; }, 10000);
        EXPECT_LT(server.bodyBytesSent() - before, qint64(40) << 20);
    }

    // A pool destroyed while an answer's rest is read ends that drain first, while the place the
    // drain gives back still exists.
    server.respond(trickle);
    auto* doomed = new llm::HttpConnectionPool;
    std::unique_ptr<llm::ModelStream> last = llm::LLMClient(store, doomed).optimize(QStringLiteral("p"), QStringLiteral("s"));
    QObject::connect(last.get(), &llm::ModelStream::event, [&](const StreamEvent& e) { done += e.type == StreamEvent::Type::Done; });
    spinUntil([&] { return done == 7; }, 10000);
    last.reset();
    QStringList ended;
    const QList<llm::HttpExchange*> drains = doomed->findChildren<llm::HttpExchange*>();
    ASSERT_EQ(drains.size(), 1);
    QObject::connect(drains.first(), &QObject::destroyed, [&] { ended << QStringLiteral("drain"); });
    QObject::connect(doomed, &QObject::destroyed, [&] { ended << QStringLiteral("pool"); });
    delete doomed;
    EXPECT_EQ(ended.join(u' ').toStdString(), "drain pool");
}

// A run started while the pre-warm's proxy question is out shares its answer and its connection. No
// proxy question is asked on this (the UI) thread, and a pool does not wait for one when destroyed.
TEST_F(ModelRequest, ARunStartedBeforeThePrewarmsProxyAnswerOpensOneConnection) {
    QSemaphore answer;
    std::atomic<int> asked{0};
    QThread* const ui = QThread::currentThread();
    proxyLookup = [&](const QUrl&) {
        asked += QThread::currentThread() == ui ? 1000 : 1; // never on this thread
        answer.tryAcquire(1, 10000);
        return QNetworkProxy(QNetworkProxy::NoProxy);
    };
    server.respond(ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")})));
    client.prewarm();
    QTimer poll; // the answer comes once the run waits for it too
    poll.callOnTimeout([&] {
        if (pool.proxyWaiters() == 2 && poll.isActive())
            poll.stop(), answer.release();
    });
    poll.start(1);
    EXPECT_EQ(run().text(), QStringLiteral("Hi"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(server.connectionsAccepted(), 1);

    std::atomic<int> returned{0};
    auto* doomed = new llm::HttpConnectionPool(nullptr, [&](const QUrl& url) {
        const QNetworkProxy proxy = proxyLookup(url);
        return ++returned, proxy;
    });
    doomed->prewarm(QUrl(server.baseUrl()));
    spinUntil([&] { return asked == 2; }, 10000);
    delete doomed;
    EXPECT_EQ(returned, 0) << "the pool waited for its proxy question";
    EXPECT_TRUE(llm::HttpConnectionPool::asking());
    answer.release();
    spinUntil([&] { return returned == 1 && !llm::HttpConnectionPool::asking(); }, 10000); // over before what it refers to goes
    EXPECT_FALSE(llm::HttpConnectionPool::asking());

    // A question that a request gave up waiting for is asked afresh for the next request there,
    // while the first one is still out (and its pre-warm still waits for it).
    QSemaphore held;
    proxyLookup = [&](const QUrl&) {
        if (++asked == 3)
            held.tryAcquire(1, 10000);
        return QNetworkProxy(QNetworkProxy::NoProxy);
    };
    TestHttpServer unasked; // a server whose proxy answer is not known yet
    ASSERT_TRUE(unasked.listen(QStringLiteral("127.0.0.2")));
    unasked.respond(ScriptedResponse::sse(providers::openAIStream({QStringLiteral("Hi")})));
    configure(QStringLiteral("openai"), unasked.baseUrl(), QStringLiteral("key-1"), 0.3);
    client.prewarm();
    EXPECT_EQ(run().terminal().kind, QStringLiteral("timeout"));
    EXPECT_EQ(run().text(), QStringLiteral("Hi"));
    EXPECT_EQ(asked, 4);
    held.release();
    spinUntil([&] { return !llm::HttpConnectionPool::asking(); }, 10000);
}

} // namespace
} // namespace corvane::test
