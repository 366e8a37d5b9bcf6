// Endpoint handling and the three wire formats of a chat request.
#include "llm/HeaderSafety.h"
#include "llm/LLMClient.h"
#include "llm/TextUtil.h"
#include "llm/Tr.h"
#include <cmath>
#include <cstddef>

// Sizes as wide as the text's: a string of any length is written whole.
#define RAPIDJSON_NO_SIZETYPEDEFINE
namespace rapidjson {
using SizeType = std::size_t;
}
// No vector scanning (RAPIDJSON_SSE2): the library's vector scan passes U+001A to U+001F through
// unescaped. The user's text never goes through the library's escaping anyway (see jsonString).
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace corvane::llm {

bool isSafeHeaderValue(const QString& value) {
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || u == 0x7F)
            return false;
    }
    return true;
}

QByteArray headerValue(const QString& value) {
    QByteArray bytes = value.toUtf8();
    return bytes.isNull() ? QByteArray("") : bytes;
}

QString invalidKeyMessage() {
    return tr("The API key contains a line break or another control character. Enter the key again in Settings");
}

namespace {

QString roleOf(const ChatMessage& m) { return m.role.isNull() ? QStringLiteral("user") : m.role; }

void appendEscape(QByteArray& out, char16_t code) {
    switch (code) {
    case u'"': out += "\\\""; return;
    case u'\\': out += "\\\\"; return;
    case u'\b': out += "\\b"; return;
    case u'\f': out += "\\f"; return;
    case u'\n': out += "\\n"; return;
    case u'\r': out += "\\r"; return;
    case u'\t': out += "\\t"; return;
    default: break;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char escape[] = {'\\', 'u', kHex[(code >> 12) & 0xF], kHex[(code >> 8) & 0xF], kHex[(code >> 4) & 0xF],
                           kHex[code & 0xF]};
    out.append(escape, sizeof escape);
}

// The text as a JSON string literal in UTF-8, quotes included. Every control character is escaped:
// the ones JSON requires (U+0000 to U+001F), and also DEL, the C1 controls (U+0080 to U+009F) and
// the line and paragraph separators, which JSON allows raw but which servers, proxies and their
// logs do not all take (text pasted from a terminal holds ESC and friends).
QByteArray jsonString(const QString& value) {
    // Qt's encoder gives valid UTF-8 whatever the text holds (a lone surrogate becomes "?").
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + utf8.size() / 8 + 2);
    out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.constData());
    const auto* const end = p + utf8.size();
    const unsigned char* run = p; // start of the bytes copied as they are
    while (p < end) {
        const unsigned char c = *p;
        qsizetype length = 0;
        char16_t code = 0;
        if (c < 0x20 || c == '"' || c == '\\' || c == 0x7F) {
            length = 1;
            code = c;
        } else if (c == 0xC2 && end - p >= 2 && p[1] < 0xA0) { // U+0080 to U+009F
            length = 2;
            code = p[1];
        } else if (c == 0xE2 && end - p >= 3 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) {
            length = 3;
            code = static_cast<char16_t>(0x2028 + (p[2] - 0xA8));
        } else {
            ++p;
            continue;
        }
        out.append(reinterpret_cast<const char*>(run), p - run);
        appendEscape(out, code);
        p += length;
        run = p;
    }
    out.append(reinterpret_cast<const char*>(run), p - run);
    out += '"';
    return out;
}

// A request body. The prompt may be a whole long field: it is escaped in one pass and goes into the
// library's writer whole, without an intermediate document. Keys are written in sorted order.
class BodyWriter {
public:
    // Room for a body of about this many characters, written without growing the buffer on the way.
    explicit BodyWriter(qsizetype characters) { m_buffer.Reserve(static_cast<std::size_t>(characters) + 512); }
    void begin() { m_writer.StartObject(); }
    void end() { m_writer.EndObject(); }
    void beginArray(const char* key) {
        m_writer.Key(key);
        m_writer.StartArray();
    }
    void endArray() { m_writer.EndArray(); }
    void text(const char* key, const QString& value) {
        m_writer.Key(key);
        const QByteArray literal = jsonString(value);
        m_writer.RawValue(literal.constData(), static_cast<std::size_t>(literal.size()), rapidjson::kStringType);
    }
    void text(const char* key, const char* value) {
        m_writer.Key(key);
        m_writer.String(value);
    }
    void number(const char* key, double value) {
        m_writer.Key(key);
        m_writer.Double(value);
    }
    void number(const char* key, int value) {
        m_writer.Key(key);
        m_writer.Int(value);
    }
    void flag(const char* key, bool value) {
        m_writer.Key(key);
        m_writer.Bool(value);
    }
    // {"content": …, "role": …}
    void message(const QString& role, const QString& content) {
        begin();
        text("content", content);
        text("role", role);
        end();
    }
    // [key:] {"parts": [{"text": …}]}, open for more keys.
    void beginParts(const QString& content, const char* key = nullptr) {
        if (key)
            m_writer.Key(key);
        begin();
        beginArray("parts");
        begin();
        text("text", content);
        end();
        endArray();
    }
    QByteArray bytes() const { return {m_buffer.GetString(), static_cast<qsizetype>(m_buffer.GetSize())}; }

private:
    rapidjson::StringBuffer m_buffer;
    rapidjson::Writer<rapidjson::StringBuffer> m_writer{m_buffer};
};

QByteArray bodyFor(const ChatRequestOptions& options) {
    qsizetype characters = options.prompt.size() + options.system.size() + options.model.size();
    for (const ChatMessage& m : options.history)
        characters += m.content.size() + 64;
    BodyWriter w(characters);
    w.begin();
    switch (options.format.value()) {
    case APIFormat::OpenAI:
        w.beginArray("messages");
        w.message(QStringLiteral("system"), options.system);
        for (const ChatMessage& m : options.history)
            w.message(roleOf(m), m.content);
        w.message(QStringLiteral("user"), options.prompt);
        w.endArray();
        w.text("model", options.model);
        w.flag("stream", true);
        w.number("temperature", 0.7);
        break;
    case APIFormat::Anthropic:
        w.number("max_tokens", 4096);
        w.beginArray("messages");
        for (const ChatMessage& m : options.history)
            w.message(roleOf(m), m.content);
        w.message(QStringLiteral("user"), options.prompt);
        w.endArray();
        w.text("model", options.model);
        w.flag("stream", true);
        w.text("system", options.system);
        break;
    case APIFormat::Gemini:
        w.beginArray("contents");
        for (const ChatMessage& m : options.history) {
            w.beginParts(m.content);
            w.text("role", m.role == QLatin1String("assistant") ? "model" : "user");
            w.end();
        }
        w.beginParts(options.prompt);
        w.text("role", "user");
        w.end();
        w.endArray();
        w.beginParts(options.system, "systemInstruction");
        w.end();
        break;
    }
    w.end();
    return w.bytes();
}

QString addressFor(const ChatRequestOptions& options) {
    switch (options.format.value()) {
    case APIFormat::OpenAI:
        return options.endpoint + QStringLiteral("/chat/completions");
    case APIFormat::Anthropic:
        return options.endpoint + QStringLiteral("/v1/messages");
    case APIFormat::Gemini:
        return options.endpoint + QStringLiteral("/v1beta/models/") + options.model +
               QStringLiteral(":streamGenerateContent?alt=sse");
    }
    return options.endpoint;
}

bool fail(RequestError* error, RequestError::Kind kind, QString description) {
    if (error)
        *error = {kind, std::move(description)};
    return false;
}

} // namespace

QString LLMClient::normalizeEndpoint(const QString& endpoint) {
    QString s = text::trimFully(endpoint);
    while (s.endsWith(QLatin1Char('/')))
        s.chop(1);
    return s;
}

std::optional<QUrl> LLMClient::endpointURL(const QString& text, QString* error) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
        !url.host().isEmpty())
        return url;
    if (error)
        *error = tr("“%1” is not a valid address; it must start with http:// or https:// and name a host")
                     .arg(text);
    return std::nullopt;
}

double LLMClient::sanitizedTimeout(double seconds) {
    constexpr double kDefault = 30;
    constexpr double kMax = 2'000'000; // about 23 days, the longest timer the event loop can hold
    if (!(seconds > 0)) // zero, negative or NaN
        return kDefault;
    return std::min(seconds, kMax);
}

std::optional<ChatRequest> LLMClient::buildRequest(const ChatRequestOptions& options, RequestError* error) {
    QString urlError;
    const std::optional<QUrl> url = endpointURL(addressFor(options), &urlError);
    if (!url) {
        fail(error, RequestError::Kind::InvalidEndpoint, urlError);
        return std::nullopt;
    }
    // The user's own key belongs to their provider; the relay never sees it.
    const QString key = options.useBuiltIn ? QString() : options.apiKey;
    if (!isSafeHeaderValue(key)) {
        fail(error, RequestError::Kind::InvalidApiKey, invalidKeyMessage());
        return std::nullopt;
    }
    if (options.useBuiltIn && !isSafeHeaderValue(options.deviceID)) {
        fail(error, RequestError::Kind::InvalidApiKey, tr("The device id contains a control character"));
        return std::nullopt;
    }

    ChatRequest out;
    QNetworkRequest& request = out.request;
    request.setUrl(*url);
    const QString endpointPath = QUrl(options.endpoint).path();
    if (url->path().startsWith(endpointPath))
        out.addressTail = url->path().mid(endpointPath.size());
    request.setRawHeader("Content-Type", "application/json");
    switch (options.format.value()) {
    case APIFormat::OpenAI:
        if (!key.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + headerValue(key));
        break;
    case APIFormat::Anthropic:
        request.setRawHeader("x-api-key", headerValue(key));
        request.setRawHeader("anthropic-version", "2023-06-01");
        break;
    case APIFormat::Gemini:
        request.setRawHeader("x-goog-api-key", headerValue(key));
        break;
    }
    out.body = bodyFor(options);
    out.timeout = sanitizedTimeout(options.timeout);
    if (options.useBuiltIn) {
        request.setRawHeader("x-device-id", headerValue(options.deviceID));
        const QMap<QString, QString> signature = signedHeaders(options.deviceID);
        for (auto it = signature.cbegin(); it != signature.cend(); ++it)
            request.setRawHeader(it.key().toUtf8(), it.value().toUtf8());
    }
    return out;
}

} // namespace corvane::llm
