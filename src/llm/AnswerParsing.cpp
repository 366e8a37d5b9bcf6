// Reading answer text and error sentences out of what a provider sends back.
#include "llm/FastJson.h"
#include "llm/JsonShape.h"
#include "llm/LLMClient.h"
#include "llm/TextUtil.h"
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cstring>

namespace corvane::llm {

namespace {

std::optional<QJsonObject> parseObject(const QByteArray& bytes) {
    std::optional<QJsonDocument> doc = parseJson(bytes);
    if (!doc || !doc->isObject())
        return std::nullopt;
    return doc->object();
}

std::optional<QString> stringAt(const QJsonObject& object, QLatin1String key) {
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QJsonObject> firstObject(const QJsonObject& object, QLatin1String key) {
    const std::optional<QJsonArray> array = objectArray(object.value(key));
    if (!array || array->isEmpty())
        return std::nullopt;
    return array->first().toObject();
}

// The "text" strings of an object array's elements, run together; elements without one add nothing.
QString joinedTexts(const QJsonArray& objects) {
    QString text;
    for (const QJsonValue& element : objects) {
        if (std::optional<QString> piece = stringAt(element.toObject(), QLatin1String("text")))
            text += *piece;
    }
    return text;
}

// The texts of candidates[0].content.parts, run together.
std::optional<QString> geminiText(const QJsonObject& root) {
    const std::optional<QJsonObject> candidate = firstObject(root, QLatin1String("candidates"));
    if (!candidate)
        return std::nullopt;
    const QJsonValue content = candidate->value(QLatin1String("content"));
    if (!content.isObject())
        return std::nullopt;
    const std::optional<QJsonArray> parts = objectArray(content.toObject().value(QLatin1String("parts")));
    if (!parts)
        return std::nullopt;
    return joinedTexts(*parts);
}

std::optional<QString> errorMessage(const QJsonValue& value, int depth) {
    if (depth >= 4)
        return std::nullopt;
    if (value.isString()) {
        QString s = value.toString();
        return s.isEmpty() ? std::nullopt : std::optional<QString>(s);
    }
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    for (const char* key : {"message", "msg", "detail"}) {
        const std::optional<QString> s = stringAt(object, QLatin1String(key));
        if (s && !s->isEmpty())
            return s;
    }
    if (const std::optional<QJsonArray> details = objectArray(object.value(QLatin1String("detail")))) {
        QStringList messages;
        for (const QJsonValue& detail : *details) {
            const std::optional<QString> s = stringAt(detail.toObject(), QLatin1String("msg"));
            if (s && !s->isEmpty())
                messages.append(*s);
        }
        if (!messages.isEmpty())
            return messages.join(QStringLiteral("; "));
    }
    if (object.contains(QLatin1String("error")))
        return errorMessage(object.value(QLatin1String("error")), depth + 1);
    return std::nullopt;
}

// The closing quote of the JSON string whose opening quote is at open (a quote after an odd number
// of backslashes is escaped), or nothing when the text ends inside the string.
const char* stringEnd(const char* open, const char* end) {
    for (const char* close = open;;) {
        close = static_cast<const char*>(std::memchr(close + 1, '"', static_cast<size_t>(end - close - 1)));
        if (!close)
            return nullptr;
        const char* escapes = close;
        while (escapes > open + 1 && escapes[-1] == '\\')
            --escapes;
        if ((close - escapes) % 2 == 0)
            return close;
    }
}

// Whether a member called name, at any depth, has a value for which valueMatches is true. The scan
// steps over strings as JSON does, so the name only counts as a whole member name, never as part of
// a longer one or of a string's text.
bool hasMember(QByteArrayView json, QByteArrayView name, bool (*valueMatches)(QByteArrayView)) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    if (json.isEmpty())
        return false;
    const char* p = json.data();
    const char* const end = p + json.size();
    while (const char* open = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)))) {
        const char* close = stringEnd(open, end);
        if (!close)
            return false; // an unterminated string
        p = close + 1;
        if (QByteArrayView(open + 1, close) != name)
            continue;
        const char* i = p;
        while (i < end && blank(*i))
            ++i;
        if (i == end || *i != ':')
            continue; // a string's text, not a member name
        ++i;
        while (i < end && blank(*i))
            ++i;
        if (i < end && valueMatches(QByteArrayView(i, end)))
            return true;
    }
    return false;
}

// A value other than null that arrived whole: a string up to its closing quote, a literal or number
// up to the character after it. A line cut inside the value ("nu", "\"sto") gives no reason.
bool isSomething(QByteArrayView value) {
    if (value.front() == '"')
        return stringEnd(value.data(), value.data() + value.size()) != nullptr;
    if (value.front() == '{' || value.front() == '[')
        return true;
    const auto token = std::find_if(value.begin(), value.end(), [](char c) {
        return c == ',' || c == '}' || c == ']' || c == ' ' || c == '\t' || c == '\n' || c == '\r';
    });
    return token != value.end() && token != value.begin() && QByteArrayView(value.begin(), token) != "null";
}
bool isMessageStop(QByteArrayView value) { return value.startsWith("\"message_stop\""); }

QString capped(const QString& message) {
    constexpr qsizetype kMax = 400;
    // Cheap test first: a text of at most 400 UTF-16 units has at most 400 characters.
    if (message.size() <= kMax || text::graphemeCount(message) <= kMax)
        return message;
    return text::graphemePrefix(message, kMax) + QChar(0x2026);
}

} // namespace

std::optional<QString> eventTextFullReader(QByteArrayView ssePayload, APIFormat format) {
    const std::optional<QJsonObject> root = parseObject(ssePayload.toByteArray());
    if (!root)
        return std::nullopt;
    switch (format.value()) {
    case APIFormat::OpenAI: {
        const std::optional<QJsonObject> choice = firstObject(*root, QLatin1String("choices"));
        if (!choice)
            return std::nullopt;
        for (const char* holder : {"delta", "message"}) {
            const QJsonValue part = choice->value(QLatin1String(holder));
            if (part.isObject()) {
                if (std::optional<QString> text = stringAt(part.toObject(), QLatin1String("content")))
                    return text;
            }
        }
        return std::nullopt;
    }
    case APIFormat::Anthropic: {
        if (root->value(QLatin1String("type")).toString() != QLatin1String("content_block_delta"))
            return std::nullopt;
        const QJsonValue delta = root->value(QLatin1String("delta"));
        if (!delta.isObject())
            return std::nullopt;
        return stringAt(delta.toObject(), QLatin1String("text"));
    }
    case APIFormat::Gemini:
        return geminiText(*root);
    }
    return std::nullopt;
}

std::optional<QString> LLMClient::content(QByteArrayView ssePayload, APIFormat format) {
    // Nearly every event is plain, strictly valid JSON: read it quickly; the full reader decides
    // the rest.
    if (std::optional<std::optional<QString>> quick = fastjson::eventText(ssePayload, format))
        return std::move(*quick);
    return eventTextFullReader(ssePayload, format);
}

bool LLMClient::isFinalEvent(QByteArrayView ssePayload, APIFormat format) {
    switch (format.value()) {
    case APIFormat::OpenAI:
        return hasMember(ssePayload, "finish_reason", isSomething);
    case APIFormat::Anthropic:
        return hasMember(ssePayload, "type", isMessageStop);
    case APIFormat::Gemini:
        return hasMember(ssePayload, "finishReason", isSomething);
    }
    return false;
}

std::optional<QString> LLMClient::contentFromSSEPayload(const QString& payload, APIFormat format) {
    return content(QByteArrayView(payload.toUtf8()), format);
}

std::optional<QString> LLMClient::contentFromWholeBody(QByteArrayView body, APIFormat format) {
    const std::optional<QJsonObject> root = parseObject(body.toByteArray());
    if (!root)
        return std::nullopt;
    switch (format.value()) {
    case APIFormat::OpenAI: {
        const std::optional<QJsonObject> choice = firstObject(*root, QLatin1String("choices"));
        if (!choice)
            return std::nullopt;
        const QJsonValue message = choice->value(QLatin1String("message"));
        if (!message.isObject())
            return std::nullopt;
        return stringAt(message.toObject(), QLatin1String("content"));
    }
    case APIFormat::Anthropic: {
        if (root->value(QLatin1String("type")).toString() != QLatin1String("message"))
            return std::nullopt;
        const std::optional<QJsonArray> blocks = objectArray(root->value(QLatin1String("content")));
        if (!blocks)
            return std::nullopt;
        return joinedTexts(*blocks);
    }
    case APIFormat::Gemini:
        return geminiText(*root);
    }
    return std::nullopt;
}

std::optional<QString> LLMClient::contentFromWholeBody(const QString& body, APIFormat format) {
    return contentFromWholeBody(QByteArrayView(body.toUtf8()), format);
}

std::optional<QString> LLMClient::extractErrorMessage(const QString& body) {
    const QString trimmed = text::trimFully(body);
    if (trimmed.isEmpty())
        return std::nullopt;
    if (const std::optional<QJsonDocument> doc = parseJson(trimmed.toUtf8())) {
        const QJsonValue top = doc->isObject() ? QJsonValue(doc->object()) : QJsonValue(doc->array());
        const std::optional<QString> message = errorMessage(top, 0);
        if (!message || message->isEmpty())
            return std::nullopt;
        return capped(*message);
    }
    QString plain = trimmed;
    plain.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return capped(plain);
}

} // namespace corvane::llm
