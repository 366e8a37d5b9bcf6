#pragma once
// A recipe: a named system prompt. Stored as {"id","name","systemPrompt"}, all three strings.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace corvane::stores {

struct PromptRecipe {
    QString id;           // a built-in id, or "user-" + upper-case UUID
    QString name;         // display name
    QString systemPrompt; // sent as the system prompt of every request using the recipe

    bool operator==(const PromptRecipe&) const = default;

    // Fails (nothing) when a key is missing or not a string; unknown keys are ignored.
    static std::optional<PromptRecipe> fromJson(const QJsonObject& object);
    // The JSON object text, keys in field order.
    QByteArray toJson() const;

    // A JSON array of recipes; nothing when the bytes are not such an array (all or nothing).
    static std::optional<QList<PromptRecipe>> listFromJson(const QByteArray& bytes);
    static QByteArray listToJson(const QList<PromptRecipe>& recipes);
};

} // namespace corvane::stores
