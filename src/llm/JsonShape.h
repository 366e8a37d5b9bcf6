#pragma once
// Parsing and shape checks shared by the readers of provider answers.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <optional>

namespace corvane::llm {

// The document when bytes are JSON; only an object or an array counts at the top level.
inline std::optional<QJsonDocument> parseJson(const QByteArray& bytes) {
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || doc.isNull())
        return std::nullopt;
    return doc;
}

// The array when value is an array whose every element is an object.
inline std::optional<QJsonArray> objectArray(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    QJsonArray array = value.toArray();
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return std::nullopt;
    }
    return array;
}

} // namespace corvane::llm
