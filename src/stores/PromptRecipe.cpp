#include "stores/PromptRecipe.h"
#include "stores/StoredJson.h"

namespace corvane::stores {

std::optional<PromptRecipe> PromptRecipe::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue name = object.value(QLatin1String("name"));
    const QJsonValue prompt = object.value(QLatin1String("systemPrompt"));
    if (!id.isString() || !name.isString() || !prompt.isString())
        return std::nullopt;
    return PromptRecipe{id.toString(), name.toString(), prompt.toString()};
}

QByteArray PromptRecipe::toJson() const {
    return JsonObjectWriter().add("id", id).add("name", name).add("systemPrompt", systemPrompt).finish();
}

std::optional<QList<PromptRecipe>> PromptRecipe::listFromJson(const QByteArray& bytes) {
    return storedjson::decodeArray<PromptRecipe>(bytes, &PromptRecipe::fromJson);
}

QByteArray PromptRecipe::listToJson(const QList<PromptRecipe>& recipes) {
    return storedjson::encodeArray(recipes, [](const PromptRecipe& r) { return r.toJson(); });
}

} // namespace corvane::stores
