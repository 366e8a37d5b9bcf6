#pragma once
// Shape checks shared by the readers of provider answers.
#include <QJsonArray>
#include <QJsonValue>
#include <optional>

namespace corvane::llm {

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
