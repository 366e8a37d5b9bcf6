// The bytes each wire format puts on the wire, and the endpoints it accepts.
#include "llm/LLMClient.h"
#include "platform/Clock.h"
#include "platform/fake/FakeClock.h"
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <simdjson.h>

using corvane::llm::APIFormat;
using corvane::llm::ChatMessage;
using corvane::llm::ChatRequestOptions;
using corvane::llm::LLMClient;
using corvane::llm::RelayConfig;
using corvane::llm::RequestError;

namespace {

ChatRequestOptions options(APIFormat format, QString key = QStringLiteral("sk-test")) {
    ChatRequestOptions s;
    s.endpoint = QStringLiteral("https://api.example.test/v1");
    s.format = format;
    s.model = QStringLiteral("m-1");
    s.system = QStringLiteral("Be brief.");
    s.prompt = QStringLiteral("Fix: teh cat");
    s.apiKey = std::move(key);
    s.timeout = 12.5;
    return s;
}

struct WireCase {
    const char* name;
    APIFormat format;
    QList<ChatMessage> history;
    const char* url;
    const char* body;
    QString prompt = QStringLiteral("Fix: teh cat");
};

// Every character JSON must escape, ones it must not, and text that is not valid UTF-16.
QString awkwardPrompt() {
    QString s = QStringLiteral("q\"b\\s/ \x01\x1f\b\f\n\r\t\x7f é 😀 ") + QChar(0x2028) + QChar(u'\0') + QChar(0xD800) +
                QStringLiteral("end");
    return s;
}

void PrintTo(const WireCase& c, std::ostream* os) { *os << c.name; }

class WireFormats : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireFormats, SendTheExactBody) {
    const WireCase& c = GetParam();
    ChatRequestOptions s = options(c.format);
    s.history = c.history;
    s.prompt = c.prompt;
    const auto request = LLMClient::buildRequest(s);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->request.url().toString().toStdString(), c.url);
    EXPECT_EQ(request->body.toStdString(), c.body);
    EXPECT_EQ(request->timeout, 12.5);
    EXPECT_EQ(request->request.rawHeader("Content-Type"), "application/json");
}

const QList<ChatMessage> kHistory{{QStringLiteral("assistant"), QStringLiteral("Earlier")},
                                  {QStringLiteral("system"), QStringLiteral("Sys")},
                                  {QString(), QStringLiteral("No role")}};

INSTANTIATE_TEST_SUITE_P(
    Bodies, WireFormats,
    ::testing::Values(
        WireCase{"openai", APIFormat::OpenAI, {}, "https://api.example.test/v1/chat/completions",
                 R"({"messages":[{"content":"Be brief.","role":"system"},{"content":"Fix: teh cat","role":"user"}],"model":"m-1","stream":true,"temperature":0.7})"},
        WireCase{"anthropic", APIFormat::Anthropic, {}, "https://api.example.test/v1/v1/messages",
                 R"({"max_tokens":4096,"messages":[{"content":"Fix: teh cat","role":"user"}],"model":"m-1","stream":true,"system":"Be brief."})"},
        WireCase{"gemini", APIFormat::Gemini, {},
                 "https://api.example.test/v1/v1beta/models/m-1:streamGenerateContent?alt=sse",
                 R"({"contents":[{"parts":[{"text":"Fix: teh cat"}],"role":"user"}],"systemInstruction":{"parts":[{"text":"Be brief."}]}})"},
        WireCase{"openai_history", APIFormat::OpenAI, kHistory, "https://api.example.test/v1/chat/completions",
                 R"({"messages":[{"content":"Be brief.","role":"system"},{"content":"Earlier","role":"assistant"},{"content":"Sys","role":"system"},{"content":"No role","role":"user"},{"content":"Fix: teh cat","role":"user"}],"model":"m-1","stream":true,"temperature":0.7})"},
        WireCase{"anthropic_history", APIFormat::Anthropic, kHistory, "https://api.example.test/v1/v1/messages",
                 R"({"max_tokens":4096,"messages":[{"content":"Earlier","role":"assistant"},{"content":"Sys","role":"system"},{"content":"No role","role":"user"},{"content":"Fix: teh cat","role":"user"}],"model":"m-1","stream":true,"system":"Be brief."})"},
        WireCase{"gemini_history", APIFormat::Gemini, kHistory,
                 "https://api.example.test/v1/v1beta/models/m-1:streamGenerateContent?alt=sse",
                 R"({"contents":[{"parts":[{"text":"Earlier"}],"role":"model"},{"parts":[{"text":"Sys"}],"role":"user"},{"parts":[{"text":"No role"}],"role":"user"},{"parts":[{"text":"Fix: teh cat"}],"role":"user"}],"systemInstruction":{"parts":[{"text":"Be brief."}]}})"},
        WireCase{"escapes", APIFormat::Anthropic, {}, "https://api.example.test/v1/v1/messages",
                 "{\"max_tokens\":4096,\"messages\":[{\"content\":\"q\\\"b\\\\s/ \\u0001\\u001F\\b\\f\\n\\r\\t\\u007F "
                 "\xc3\xa9 \xf0\x9f\x98\x80 \\u2028\\u0000?end\",\"role\":\"user\"}],\"model\":\"m-1\","
                 "\"stream\":true,\"system\":\"Be brief.\"}",
                 awkwardPrompt()}));

// Every control character, in every format and through the relay, far enough into a text for a
// writer to scan many bytes at once: a strict parser reads the text back, and none is sent raw.
TEST(WireFormats, EscapeEveryControlCharacter) {
    QList<char16_t> controls{0x7F, 0x2028, 0x2029};
    for (char16_t c = 0; c < 0x20; ++c)
        controls << c << static_cast<char16_t>(0x80 + c);
    const QString filler = QStringLiteral("Pasted from a terminal, with colours: ").repeated(2);
    const std::pair<APIFormat, const char*> prompts[] = {{APIFormat::OpenAI, "/messages/1/content"},
                                                         {APIFormat::Anthropic, "/messages/0/content"},
                                                         {APIFormat::Gemini, "/contents/0/parts/0/text"}};
    simdjson::dom::parser parser;
    for (const auto& [format, pointer] : prompts) {
        for (char16_t c : controls) {
            for (bool relayed : {false, true}) {
                ChatRequestOptions s = options(format);
                s.prompt = filler + QChar(c) + QStringLiteral("[31mred") + QChar(c) + filler;
                s.useBuiltIn = relayed;
                const QByteArray body = LLMClient::buildRequest(s)->body;
                std::string_view sent;
                ASSERT_FALSE(parser.parse(body.constData(), size_t(body.size())).at_pointer(pointer).get(sent))
                    << pointer << " U+" << std::hex << int(c);
                EXPECT_EQ(QString::fromUtf8(sent.data(), qsizetype(sent.size())), s.prompt) << std::hex << int(c);
                EXPECT_FALSE(QString::fromUtf8(body).contains(QChar(c))) << std::hex << int(c);
            }
        }
    }
}

struct HeaderCase {
    const char* name;
    APIFormat format;
    QString key;
    bool useBuiltIn;
    QList<QPair<QByteArray, QByteArray>> present;
    QList<QByteArray> absent;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class AuthHeaders : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(AuthHeaders, CarryTheKeyOnlyWhereItBelongs) {
    const HeaderCase& c = GetParam();
    ChatRequestOptions s = options(c.format, c.key);
    s.useBuiltIn = c.useBuiltIn;
    s.deviceID = QStringLiteral("DEVICE-1");
    const auto request = LLMClient::buildRequest(s);
    ASSERT_TRUE(request);
    for (const auto& [name, value] : c.present) {
        EXPECT_TRUE(request->request.hasRawHeader(name)) << name.constData();
        EXPECT_EQ(request->request.rawHeader(name), value) << name.constData();
    }
    for (const QByteArray& name : c.absent)
        EXPECT_FALSE(request->request.hasRawHeader(name)) << name.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AuthHeaders,
    ::testing::Values(
        HeaderCase{"openai_key", APIFormat::OpenAI, QStringLiteral(" sk-1 "), false,
                   {{"Authorization", "Bearer  sk-1 "}}, {"x-device-id", "x-api-key"}},
        HeaderCase{"openai_empty_key", APIFormat::OpenAI, QString(), false, {}, {"Authorization"}},
        HeaderCase{"openai_relayed", APIFormat::OpenAI, QStringLiteral("sk-1"), true, {{"x-device-id", "DEVICE-1"}},
                   {"Authorization"}},
        HeaderCase{"anthropic_key", APIFormat::Anthropic, QStringLiteral("ak-1"), false,
                   {{"x-api-key", "ak-1"}, {"anthropic-version", "2023-06-01"}}, {"Authorization"}},
        HeaderCase{"anthropic_empty_key", APIFormat::Anthropic, QString(), false,
                   {{"x-api-key", ""}, {"anthropic-version", "2023-06-01"}}, {}},
        // The user's own key stays with their provider: the relay gets the header, never the key.
        HeaderCase{"anthropic_relayed", APIFormat::Anthropic, QStringLiteral("ak-1"), true,
                   {{"x-api-key", ""}, {"x-device-id", "DEVICE-1"}}, {"Authorization"}},
        HeaderCase{"gemini_key", APIFormat::Gemini, QStringLiteral("gk-1"), false, {{"x-goog-api-key", "gk-1"}}, {}},
        HeaderCase{"gemini_empty_key", APIFormat::Gemini, QString(), false, {{"x-goog-api-key", ""}}, {}},
        HeaderCase{"gemini_relayed", APIFormat::Gemini, QStringLiteral("gk-1"), true,
                   {{"x-goog-api-key", ""}, {"x-device-id", "DEVICE-1"}}, {}}));

TEST(RelayedRequests, AreSignedForTheDevice) {
    for (APIFormat format : APIFormat::allCases()) {
        ChatRequestOptions s = options(format);
        s.useBuiltIn = true;
        s.deviceID = QStringLiteral("DEVICE-1");
        const auto request = LLMClient::buildRequest(s);
        ASSERT_TRUE(request);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]+$"))
                        .match(QString::fromLatin1(request->request.rawHeader("x-ts")))
                        .hasMatch());
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$"))
                        .match(QString::fromLatin1(request->request.rawHeader("x-sign")))
                        .hasMatch());
    }
}

// A key with a line break or NUL would split the header; the request is refused and says why.
TEST(UnsafeKeys, AreNeverPutIntoAHeader) {
    for (APIFormat format : APIFormat::allCases()) {
        for (const QString& key : {QStringLiteral("sk-1\r\nX-Evil: 1"), QStringLiteral("sk-1\n"),
                                   QString::fromUtf16(u"sk\u0000-1", 5), QStringLiteral("\rsk")}) {
            RequestError error;
            EXPECT_FALSE(LLMClient::buildRequest(options(format, key), &error));
            EXPECT_EQ(error.kind, RequestError::Kind::InvalidApiKey);
            EXPECT_TRUE(error.description.contains(QLatin1String("API key"))) << error.description.toStdString();
        }
        // A relayed request carries no key at all, so a broken one does not matter there.
        ChatRequestOptions relayed = options(format, QStringLiteral("sk\n1"));
        relayed.useBuiltIn = true;
        relayed.deviceID = QStringLiteral("D");
        EXPECT_TRUE(LLMClient::buildRequest(relayed));
    }
}

TEST(Endpoints, NormaliseTrimsOnlyBlanksAndTrailingSlashes) {
    EXPECT_EQ(LLMClient::normalizeEndpoint(QStringLiteral("  https://api.example.test/v1///\n")),
              QStringLiteral("https://api.example.test/v1"));
    EXPECT_EQ(LLMClient::normalizeEndpoint(QStringLiteral("api.example.test")), QStringLiteral("api.example.test"));
    EXPECT_EQ(LLMClient::normalizeEndpoint(QStringLiteral(" \t ")), QString());
    EXPECT_EQ(LLMClient::normalizeEndpoint(QStringLiteral("///")), QString());
}

TEST(Endpoints, OnlyHttpAndHttpsAddressesAreRequested) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"https://api.example.test/v1", true},
        {"http://127.0.0.1:11434/v1", true},
        {"HTTPS://API.EXAMPLE.TEST", true},
        {"api.example.test/v1", false},
        {"", false},
        {"/chat/completions", false},
        {"ftp://api.example.test/v1", false},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"http:no-host", false},
        {"https://api.example.test/v1 beta", false},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_EQ(LLMClient::endpointURL(QString::fromUtf8(c.text), &error).has_value(), c.ok) << c.text;
        EXPECT_EQ(error.isEmpty(), c.ok) << c.text;
    }
}

TEST(Endpoints, BadAddressesFailTheRequest) {
    for (const char* endpoint : {"", "api.example.test", "ftp://api.example.test"}) {
        ChatRequestOptions s = options(APIFormat::OpenAI);
        s.endpoint = QString::fromUtf8(endpoint);
        RequestError error;
        EXPECT_FALSE(LLMClient::buildRequest(s, &error)) << endpoint;
        EXPECT_EQ(error.kind, RequestError::Kind::InvalidEndpoint);
    }
    ChatRequestOptions gemini = options(APIFormat::Gemini);
    gemini.model = QStringLiteral("bad model");
    EXPECT_FALSE(LLMClient::buildRequest(gemini));
    ChatRequestOptions slash = options(APIFormat::OpenAI);
    slash.endpoint += QLatin1Char('/');
    EXPECT_EQ(LLMClient::buildRequest(slash)->request.url().path(), QStringLiteral("/v1//chat/completions"));
}

TEST(Endpoints, UnusableTimeoutsBecomeTheDefault) {
    for (double timeout : {0.0, -3.0, std::nan("")}) {
        ChatRequestOptions s = options(APIFormat::OpenAI);
        s.timeout = timeout;
        EXPECT_EQ(LLMClient::buildRequest(s)->timeout, 30);
    }
}

// Known answers computed independently (openssl dgst -sha256 -hmac KEY).
class Signing : public ::testing::Test {
protected:
    void SetUp() override {
        previous = RelayConfig();
        previous = LLMClient::relayConfig();
        clock.setNow(QDateTime(QDate(2026, 1, 15), QTime(9, 30, 0, 123), Qt::UTC));
        corvane::platform::Clock::setShared(&clock);
    }
    void TearDown() override {
        corvane::platform::Clock::setShared(nullptr);
        LLMClient::setRelayConfig(previous);
    }
    corvane::platform::fake::FakeClock clock;
    RelayConfig previous;
};

TEST_F(Signing, MatchesTheKnownAnswer) {
    RelayConfig config = LLMClient::relayConfig();
    config.signSecretParts = {"01234567", "89abcdef", "01234567", "89abcdef",
                              "01234567", "89abcdef", "01234567", "89abcdef"};
    LLMClient::setRelayConfig(config);
    const auto headers = LLMClient::signedHeaders(QStringLiteral("5C1B9A2E-7F3D-4E8A-9B6C-1D2E3F4A5B6C"));
    EXPECT_EQ(headers.size(), 2);
    EXPECT_EQ(headers.value(QStringLiteral("x-ts")), QStringLiteral("1768469400123"));
    EXPECT_EQ(headers.value(QStringLiteral("x-sign")),
              QStringLiteral("602daad7b629e61cda97e8d51aef336d3926571145c22f198473f7ddba8daf8c"));
}

TEST_F(Signing, DefaultKeyIsSixtyFourHexDigits) {
    QByteArray key;
    for (const QByteArray& part : RelayConfig::defaults().signSecretParts) {
        EXPECT_EQ(part.size(), 8);
        key += part;
    }
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(QString::fromLatin1(key)).hasMatch());
    LLMClient::setRelayConfig(RelayConfig::defaults());
    EXPECT_EQ(LLMClient::signedHeaders(QStringLiteral("5C1B9A2E-7F3D-4E8A-9B6C-1D2E3F4A5B6C")).value(QStringLiteral("x-sign")),
              QStringLiteral("eb265d366209051089a05a53278319dc32a6558b20e18a4223e47ef2dcce4247"));
}

} // namespace
