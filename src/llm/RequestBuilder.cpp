// Endpoint handling and the three wire formats of a chat request.
#include "llm/HeaderSafety.h"
#include "llm/LLMClient.h"
#include "llm/TextUtil.h"
#include "llm/Tr.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QJsonObject message(const QString& role, const QString& content) {
    return QJsonObject{{QStringLiteral("role"), role}, {QStringLiteral("content"), content}};
}

QString roleOf(const ChatMessage& m) { return m.role.isNull() ? QStringLiteral("user") : m.role; }

QJsonObject textParts(const QString& text) {
    return QJsonObject{{QStringLiteral("parts"), QJsonArray{QJsonObject{{QStringLiteral("text"), text}}}}};
}

QJsonObject bodyFor(const ChatRequestOptions& options) {
    switch (options.format.value()) {
    case APIFormat::OpenAI: {
        QJsonArray messages{message(QStringLiteral("system"), options.system)};
        for (const ChatMessage& m : options.history)
            messages.append(message(roleOf(m), m.content));
        messages.append(message(QStringLiteral("user"), options.prompt));
        return QJsonObject{{QStringLiteral("model"), options.model},
                           {QStringLiteral("messages"), messages},
                           {QStringLiteral("stream"), true},
                           {QStringLiteral("temperature"), 0.7}};
    }
    case APIFormat::Anthropic: {
        QJsonArray messages;
        for (const ChatMessage& m : options.history)
            messages.append(message(roleOf(m), m.content));
        messages.append(message(QStringLiteral("user"), options.prompt));
        return QJsonObject{{QStringLiteral("model"), options.model},
                           {QStringLiteral("system"), options.system},
                           {QStringLiteral("messages"), messages},
                           {QStringLiteral("max_tokens"), 4096},
                           {QStringLiteral("stream"), true}};
    }
    case APIFormat::Gemini: {
        QJsonArray contents;
        for (const ChatMessage& m : options.history) {
            QJsonObject entry = textParts(m.content);
            entry.insert(QStringLiteral("role"),
                         m.role == QLatin1String("assistant") ? QStringLiteral("model") : QStringLiteral("user"));
            contents.append(entry);
        }
        QJsonObject user = textParts(options.prompt);
        user.insert(QStringLiteral("role"), QStringLiteral("user"));
        contents.append(user);
        return QJsonObject{{QStringLiteral("systemInstruction"), textParts(options.system)},
                           {QStringLiteral("contents"), contents}};
    }
    }
    return {};
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
    out.body = QJsonDocument(bodyFor(options)).toJson(QJsonDocument::Compact);
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
