// Endpoint handling and the three wire formats of a chat request.
#include "llm/HeaderSafety.h"
#include "llm/LLMClient.h"
#include "llm/TextUtil.h"
#include "llm/Tr.h"
#include <QStringEncoder>
#include <algorithm>
#include <cmath>

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

// A request body written straight out as compact JSON, byte for byte as a JSON document would
// write it (keys in sorted order, the same escapes). The prompt may be long: a document would hold
// it, convert it and copy it several times over before the first byte leaves.
class BodyWriter {
public:
    explicit BodyWriter(qsizetype textUnits) { m_out.reserve(3 * textUnits + 256); }

    BodyWriter& raw(const char* s) {
        m_out.append(s);
        return *this;
    }

    // A quoted string.
    BodyWriter& string(QStringView s) {
        const char16_t* p = s.utf16();
        const char16_t* const end = p + s.size();
        // Room for three bytes a unit, the most UTF-8 takes; only the rare six-byte escapes need more.
        qsizetype at = m_out.size();
        m_out.resize(at + 2 + 3 * s.size());
        char* o = m_out.data() + at;
        *o++ = '"';
        while (p != end) {
            // Runs of text that needs no escape go through Qt's encoder in one piece.
            const char16_t* run = p;
            while (run != end && !special(*run))
                ++run;
            if (run != p) {
                o = m_utf8.appendToBuffer(o, QStringView(p, run));
                p = run;
                continue;
            }
            if (const qsizetype need = (o - m_out.data()) + 6 + 3 * (end - p) + 1; need > m_out.size()) {
                at = o - m_out.data();
                m_out.resize(need);
                o = m_out.data() + at;
            }
            o = writeSpecial(p, end, o);
        }
        *o++ = '"';
        m_out.truncate(o - m_out.data());
        return *this;
    }

    // {"content":…,"role":…}
    BodyWriter& message(QStringView role, QStringView content) {
        return raw("{\"content\":").string(content).raw(",\"role\":").string(role).raw("}");
    }

    // {"parts":[{"text":…}]…, left open for what follows
    BodyWriter& textParts(QStringView text) { return raw("{\"parts\":[{\"text\":").string(text).raw("}]"); }

    QByteArray take() { return std::move(m_out); }

private:
    // Units the encoder must not see: those JSON escapes, and surrogates, whose pairs are written here
    // and whose strays become \u escapes.
    static bool special(char16_t u) { return u < 0x20 || u == u'"' || u == u'\\' || QChar::isSurrogate(u); }

    // The second character of a two-character escape, or 0 for a \u escape.
    static char plainEscape(char16_t u) {
        switch (u) {
        case u'"': return '"';
        case u'\\': return '\\';
        case u'\b': return 'b';
        case u'\f': return 'f';
        case u'\n': return 'n';
        case u'\r': return 'r';
        case u'\t': return 't';
        default: return 0;
        }
    }

    // Writes the special unit (or surrogate pair) at p and steps past it.
    static char* writeSpecial(const char16_t*& p, const char16_t* end, char* o) {
        static constexpr char kHex[] = "0123456789abcdef";
        const char16_t u = *p++;
        if (!QChar::isSurrogate(u)) {
            *o++ = '\\';
            if (const char e = plainEscape(u)) {
                *o++ = e;
            } else {
                *o++ = 'u';
                *o++ = '0';
                *o++ = '0';
                *o++ = kHex[u >> 4];
                *o++ = kHex[u & 0xF];
            }
        } else if (QChar::isHighSurrogate(u) && p != end && QChar::isLowSurrogate(*p)) {
            const char32_t c = QChar::surrogateToUcs4(u, *p++);
            *o++ = char(0xF0 | (c >> 18));
            *o++ = char(0x80 | ((c >> 12) & 0x3F));
            *o++ = char(0x80 | ((c >> 6) & 0x3F));
            *o++ = char(0x80 | (c & 0x3F));
        } else { // a surrogate without its partner
            *o++ = '\\';
            *o++ = 'u';
            *o++ = kHex[u >> 12];
            *o++ = kHex[(u >> 8) & 0xF];
            *o++ = kHex[(u >> 4) & 0xF];
            *o++ = kHex[u & 0xF];
        }
        return o;
    }

    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
    QByteArray m_out;
};

QByteArray bodyFor(const ChatRequestOptions& options) {
    qsizetype units = options.prompt.size() + options.system.size() + options.model.size();
    for (const ChatMessage& m : options.history)
        units += m.content.size() + 16;
    BodyWriter w(units);
    switch (options.format.value()) {
    case APIFormat::OpenAI:
        w.raw("{\"messages\":[").message(u"system", options.system);
        for (const ChatMessage& m : options.history)
            w.raw(",").message(roleOf(m), m.content);
        w.raw(",").message(u"user", options.prompt);
        w.raw("],\"model\":").string(options.model).raw(",\"stream\":true,\"temperature\":0.7}");
        break;
    case APIFormat::Anthropic: {
        w.raw("{\"max_tokens\":4096,\"messages\":[");
        const char* separator = "";
        for (const ChatMessage& m : options.history) {
            w.raw(separator).message(roleOf(m), m.content);
            separator = ",";
        }
        w.raw(separator).message(u"user", options.prompt);
        w.raw("],\"model\":").string(options.model).raw(",\"stream\":true,\"system\":").string(options.system).raw("}");
        break;
    }
    case APIFormat::Gemini:
        w.raw("{\"contents\":[");
        for (const ChatMessage& m : options.history)
            w.textParts(m.content)
                .raw(",\"role\":")
                .string(m.role == QLatin1String("assistant") ? u"model" : u"user")
                .raw("},");
        w.textParts(options.prompt).raw(",\"role\":\"user\"}],\"systemInstruction\":");
        w.textParts(options.system).raw("}}");
        break;
    }
    return w.take();
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
