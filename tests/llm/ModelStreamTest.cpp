// One answer streamed from a real loopback server that speaks each provider's format, and that
// misbehaves on purpose. Every case checks the event order: tokens, one terminal event, nothing after.
#include "LoopbackFixture.h"

namespace corvane::test {
namespace {

using llm::StreamEvent;
using Type = StreamEvent::Type;

const QStringList kTokens{QStringLiteral("Hel"), QStringLiteral("lo, "), QStringLiteral("wörld "), QStringLiteral("😀")};
const QString kAnswer = kTokens.join(QString());

struct StreamCase {
    std::string name;
    QString format;
    ScriptedResponse response;
    QString text;            // all tokens together
    Type terminal = Type::Done;
    QString kind;            // error kind
    QString messagePart;     // error message contains this
    double timeout = 10;     // configured seconds
    int minTokens = 0;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

QByteArray crlf(QByteArray body) { return body.replace("\r\n", "\n").replace("\n", "\r\n"); }

QByteArray withoutFinalNewline(QByteArray body) {
    while (body.endsWith('\n') || body.endsWith('\r'))
        body.chop(1);
    return body;
}

// Events after the end marker must never reach the user.
QByteArray withTrailingGarbage(const QString& format, const QByteArray& body) {
    QByteArray out = body;
    if (format != QLatin1String("openai"))
        out += "data: [DONE]\n\n";
    return out + providers::streamFor(format, {QStringLiteral("LATE")}) + "data: {\"error\":{\"message\":\"late\"}}\n\n";
}

// The stream as the format writes it, without its end: no "[DONE]", stop event or finish reason.
QByteArray withoutEndMarker(const QString& format, QByteArray body) {
    if (format == QLatin1String("anthropic"))
        return body.left(body.indexOf("event: message_stop"));
    return body.replace("data: [DONE]\n\n", "").replace("\"finishReason\":\"STOP\",", "");
}

StreamCase ok(std::string name, const QString& format, ScriptedResponse response, QString text, double timeout = 10) {
    StreamCase c;
    c.name = std::move(name);
    c.format = format;
    c.response = std::move(response);
    c.text = std::move(text);
    c.timeout = timeout;
    return c;
}

StreamCase fails(std::string name, const QString& format, ScriptedResponse response, const char* kind,
                 QString messagePart = {}, QString text = {}, double timeout = 10) {
    StreamCase c = ok(std::move(name), format, std::move(response), std::move(text), timeout);
    c.terminal = Type::Error;
    c.kind = QString::fromLatin1(kind);
    c.messagePart = std::move(messagePart);
    return c;
}

std::vector<StreamCase> casesFor(const QString& format) {
    const std::string f = format.toStdString() + "_";
    const QByteArray stream = providers::streamFor(format, kTokens);
    std::vector<StreamCase> cases;

    cases.push_back(ok(f + "well_behaved", format, ScriptedResponse::sse(stream), kAnswer));

    ScriptedResponse oneByte = ScriptedResponse::sse(stream);
    oneByte.bytesPerWrite = 1;
    cases.push_back(ok(f + "one_byte_per_chunk", format, oneByte, kAnswer));

    ScriptedResponse slowBytes = ScriptedResponse::sse(providers::streamFor(format, {QStringLiteral("é😀")}));
    slowBytes.bytesPerWrite = 1;
    slowBytes.sliceDelayMs = 1;
    cases.push_back(ok(f + "multibyte_characters_split_across_chunks", format, slowBytes, QStringLiteral("é😀")));

    cases.push_back(ok(f + "crlf_line_ends", format, ScriptedResponse::sse(crlf(stream)), kAnswer));
    cases.push_back(ok(f + "data_after_done", format, ScriptedResponse::sse(withTrailingGarbage(format, stream)), kAnswer));
    cases.push_back(ok(f + "no_final_newline", format, ScriptedResponse::sse(withoutFinalNewline(stream)), kAnswer));

    ScriptedResponse untilClose = ScriptedResponse::sse(stream);
    untilClose.framing = ScriptedResponse::Framing::UntilClose;
    cases.push_back(ok(f + "body_until_close", format, untilClose, kAnswer));

    // A body that runs until the connection closes is whole only when the format marks its end.
    ScriptedResponse cutOff = ScriptedResponse::sse(withoutEndMarker(format, stream));
    cutOff.framing = ScriptedResponse::Framing::UntilClose;
    const QString cutShort = QStringLiteral("The connection closed before the answer was complete");
    cases.push_back(fails(f + "closed_before_end_marker", format, cutOff, "network", cutShort, kAnswer));
    ScriptedResponse resetOff = cutOff;
    resetOff.then({}, 50); // the tokens are read before the reset
    resetOff.reset = true;
    cases.push_back(fails(f + "reset_before_end_marker", format, resetOff, "network", cutShort, kAnswer));
    if (format == QLatin1String("openai")) { // its finish reason ends an answer as well as "[DONE]"
        ScriptedResponse finished = ScriptedResponse::sse(
            withoutEndMarker(format, stream) + "data: {\"choices\":[{\"delta\":{},\"finish_reason\":\"stop\"}]}\n\n");
        finished.framing = ScriptedResponse::Framing::UntilClose;
        cases.push_back(ok(f + "closed_after_finish_reason", format, finished, kAnswer));
    }

    // A last line cut by the close, inside a null finish reason or an event's type, is no end and no
    // provider's sentence.
    ScriptedResponse cutLine = cutOff;
    cutLine.then(format == QLatin1String("openai")   ? R"(data: {"choices":[{"delta":{},"finish_reason":nu)"
                 : format == QLatin1String("gemini") ? R"(data: {"candidates":[{"finishReason":nu)"
                                                     : R"(data: {"type":"message_st)");
    cases.push_back(fails(f + "closed_inside_a_line", format, cutLine, "network", cutShort, kAnswer));

    // A member whose name only ends in the format's end name is no end.
    ScriptedResponse lookalike = cutOff;
    lookalike.then(format == QLatin1String("openai")   ? R"(data: {"choices":[{"delta":{},"x\"finish_reason":"stop"}]})"
                   : format == QLatin1String("gemini") ? R"(data: {"candidates":[{"x\"finishReason":"STOP"}]})"
                                                       : R"(data: {"type":"ping","x\"type":"message_stop"})");
    cases.push_back(fails(f + "closed_after_lookalike_end", format, lookalike, "network", cutShort, kAnswer));

    ScriptedResponse lengthFramed = ScriptedResponse::sse(stream);
    lengthFramed.framing = ScriptedResponse::Framing::ContentLength;
    cases.push_back(ok(f + "content_length", format, lengthFramed, kAnswer));
    // Bytes after the declared length break its framing: the part inside it lacks the format's end.
    const QByteArray inside = withoutEndMarker(format, providers::streamFor(format, {QStringLiteral("Par")}));
    ScriptedResponse overrun = untilClose;
    overrun.pieces.first().bytes.prepend(inside);
    overrun.header("Content-Length", QByteArray::number(inside.size()));
    cases.push_back(fails(f + "bytes_past_content_length", format, overrun, "network", cutShort, QStringLiteral("Par")));
    // Beside a transfer coding other than chunked, a length frames nothing: the body runs until the close.
    ScriptedResponse coded = untilClose;
    coded.header("Transfer-Encoding", "identity").header("Content-Length", QByteArray::number(stream.size() / 2));
    cases.push_back(ok(f + "transfer_coding_beside_length", format, coded, kAnswer));

    // Empty elements of a transfer coding list count for nothing: the body is still chunked.
    const QByteArray wholeBody = providers::wholeBodyFor(format, QStringLiteral("Whole answer."));
    ScriptedResponse listed =
        ScriptedResponse::json(200, QByteArray::number(wholeBody.size(), 16) + "\r\n" + wholeBody + "\r\n0\r\n\r\n");
    listed.framing = ScriptedResponse::Framing::UntilClose;
    cases.push_back(ok(f + "transfer_codings_trailing_comma", format,
                       ScriptedResponse(listed).header("Transfer-Encoding", "chunked,"), QStringLiteral("Whole answer.")));
    cases.push_back(ok(f + "transfer_codings_empty_second_field", format,
                       listed.header("Transfer-Encoding", "chunked").header("Transfer-Encoding", ""),
                       QStringLiteral("Whole answer.")));

    StreamCase whole = ok(f + "plain_json_body", format,
                          ScriptedResponse::json(200, providers::wholeBodyFor(format, QStringLiteral("Whole answer."))),
                          QStringLiteral("Whole answer."));
    whole.minTokens = 1;
    cases.push_back(whole);
    cases.push_back(fails(f + "blank_body", format, ScriptedResponse::text(200, "text/plain", " \n\n \r\n"),
                          "empty_response", QStringLiteral("The server returned an empty response")));
    cases.push_back(fails(f + "empty_body", format, ScriptedResponse::json(200, ""), "empty_response"));
    const QString webPage = QStringLiteral("the server answered with a web page, not the API");
    const QString webPage200 = QStringLiteral("The server answered with a web page, not the API (HTTP 200)");
    cases.push_back(fails(f + "html_page", format,
                          ScriptedResponse::text(200, "text/html", "\n<html>\n<body>Captive portal</body>\n</html>\n"),
                          "provider", webPage200));
    cases.push_back(fails(f + "json_without_text", format, ScriptedResponse::json(200, R"({"object":"list","data":[]})"),
                          "parse", QStringLiteral("Unrecognized response format")));
    cases.push_back(ok(f + "event_lines_without_text", format,
                       ScriptedResponse::sse("event: ping\ndata: {\"type\":\"ping\"}\n\n: comment\n\n"), {}));
    QByteArray partial = providers::streamFor(format, {QStringLiteral("Par")}).replace("data: [DONE]", "");
    cases.push_back(fails(f + "provider_error_after_tokens", format,
                          ScriptedResponse::sse(partial + "data: {\"error\":{\"message\":\"Context length exceeded\"}}\n\n" +
                                                providers::streamFor(format, {QStringLiteral("LATE")})),
                          "provider", QStringLiteral("Context length exceeded"), QStringLiteral("Par")));
    cases.push_back(fails(f + "plain_text_event", format, ScriptedResponse::sse("data: upstream overloaded\n\n"),
                          "provider", QStringLiteral("upstream overloaded")));

    // Statuses other than 200, with the kinds of bodies servers send.
    const QList<QPair<const char*, QByteArray>> bodies{
        {"json", R"({"error":{"message":"Model not found: model-x"}})"},
        {"html", "<html><body><h1>Bad Gateway</h1></body></html>"},
        {"utf8", "{\"error\":{\"message\":\"\xe5\xaf\x86\xe9\x92\xa5\xe6\x97\xa0\xe6\x95\x88 \xe2\x80\x94 cl\xc3\xa9 invalide\"}}"},
        {"utf8_with_stray_bytes", "{\"error\":{\"message\":\"Cl\xc3\xa9 invalide \xff\xe9t\xe9\"}}"}};
    const QStringList expected{QStringLiteral("Model not found: model-x"), webPage,
                               QStringLiteral("密钥无效 — clé invalide"), QStringLiteral("Clé invalide ÿété")};
    for (int status : {201, 400, 401, 404, 429, 500, 502, 503}) {
        for (qsizetype b = 0; b < bodies.size(); ++b) {
            const QByteArray kind = "http_" + QByteArray::number(status);
            cases.push_back(fails(f + "status_" + std::to_string(status) + "_" + bodies[b].first, format,
                                  ScriptedResponse::text(status, b == 1 ? "text/html" : "application/json", bodies[b].second),
                                  kind.constData(), expected[b]));
        }
    }
    cases.push_back(fails(f + "status_204", format, ScriptedResponse::text(204, "text/plain", ""), "http_204",
                          QStringLiteral("API error (204)")));
    ScriptedResponse challenge = ScriptedResponse::json(401, R"({"error":{"message":"Bad key"}})");
    challenge.header("WWW-Authenticate", "Bearer realm=\"api\"");
    cases.push_back(fails(f + "status_401_with_challenge", format, challenge, "http_401", QStringLiteral("Bad key")));

    // Time: a stall longer than the limit ends with a time-out; a trickle just under it does not.
    ScriptedResponse stall = ScriptedResponse::sse(providers::streamFor(format, {QStringLiteral("Early")}).replace("data: [DONE]", ""));
    stall.keepOpen = true;
    stall.then(providers::streamFor(format, {QStringLiteral("Late")}), 20000);
    cases.push_back(fails(f + "stall_longer_than_timeout", format, stall, "timeout",
                          QStringLiteral("Request timed out (limit 0 s)"), QStringLiteral("Early"), 0.4));
    ScriptedResponse slowHead;
    slowHead.headDelayMs = 20000;
    cases.push_back(fails(f + "no_answer_at_all", format, slowHead, "timeout", {}, {}, 0.4));
    // Three pieces, each arriving 0.6 s after the one before, against a 1 s limit.
    ScriptedResponse trickle;
    trickle.header("Content-Type", "text/event-stream");
    const QByteArray full = providers::streamFor(format, kTokens);
    const qsizetype third = full.size() / 3;
    trickle.then(full.left(third)).then(full.mid(third, third), 600).then(full.mid(2 * third), 600);
    cases.push_back(ok(f + "trickle_under_timeout", format, trickle, kAnswer, 1.0));

    // Size: a body that never ends, or is huge, ends with a clear error instead of eating memory.
    ScriptedResponse endlessBody = ScriptedResponse::text(200, "text/plain", "Loading");
    endlessBody.framing = ScriptedResponse::Framing::Chunked;
    endlessBody.endless = (QByteArray(4095, 'x') + "\n").repeated(16);
    cases.push_back(fails(f + "endless_plain_body", format, endlessBody, "invalid_response",
                          QStringLiteral("larger than 8 MiB"), {}, 60));
    // A web page is known by its start: no more of it is read, and none of it is shown.
    ScriptedResponse endlessPage = endlessBody;
    endlessPage.headers = {{"Content-Type", "text/html"}};
    endlessPage.pieces.first().bytes = "<!DOCTYPE html>\n<html>";
    cases.push_back(fails(f + "endless_web_page", format, endlessPage, "provider", webPage200, {}, 60));
    ScriptedResponse endlessErrorPage = endlessPage;
    endlessErrorPage.status = 500;
    cases.push_back(fails(f + "endless_error_page", format, endlessErrorPage, "http_500",
                          QStringLiteral("Provider temporarily unavailable (500). Try again later — ") + webPage, {}, 60));
    ScriptedResponse endlessLine = ScriptedResponse::sse("data: ");
    endlessLine.endless = QByteArray(65536, 'y');
    cases.push_back(fails(f + "endless_single_line", format, endlessLine, "invalid_response", {}, {}, 60));
    ScriptedResponse endlessError = ScriptedResponse::text(500, "text/plain", "Internal failure: ");
    endlessError.framing = ScriptedResponse::Framing::Chunked;
    endlessError.endless = QByteArray("again and again ").repeated(4096);
    cases.push_back(fails(f + "endless_error_body", format, endlessError, "http_500",
                          QStringLiteral("Provider temporarily unavailable (500). Try again later — Internal failure: again"),
                          {}, 60));
    return cases;
}

std::vector<StreamCase> allCases() {
    std::vector<StreamCase> all;
    for (const char* format : {"openai", "anthropic", "gemini"}) {
        std::vector<StreamCase> some = casesFor(QString::fromLatin1(format));
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

class MisbehavingServer : public LoopbackFixture, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(MisbehavingServer, StreamEndsExactlyOnce) {
    const StreamCase& c = GetParam();
    configure(c.format, server.baseUrl(), QStringLiteral("key-1"), c.timeout);
    server.respond(c.response);
    const StreamRun result = run();
    expectWellFormed(result);
    EXPECT_EQ(result.text().toStdString(), c.text.toStdString());
    EXPECT_GE(result.tokenCount(), c.minTokens);
    const StreamEvent end = result.terminal();
    EXPECT_EQ(end.type, c.terminal) << end.message.toStdString();
    EXPECT_EQ(end.kind.toStdString(), c.kind.toStdString());
    EXPECT_TRUE(end.message.contains(c.messagePart)) << end.message.toStdString();
    EXPECT_LE(end.message.size(), 600);
    EXPECT_FALSE(end.message.contains(QLatin1Char('<'))) << "markup shown: " << end.message.toStdString();
    EXPECT_EQ(server.requests().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, MisbehavingServer, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

} // namespace
} // namespace corvane::test
