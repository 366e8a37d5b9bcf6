#include "stores/AppRecipeRule.h"
#include "stores/StoredJson.h"
#include <cmath>

namespace corvane::stores {

namespace {
// An optional whole number: absent or null gives nothing; anything else must be an integer.
bool readOptionalInteger(const QJsonObject& object, const char* key, std::optional<qint64>& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.0e18)
        return false;
    out = value.toInteger(qint64(d));
    return true;
}
} // namespace

std::optional<AppRecipeRule> AppRecipeRule::fromJson(const QJsonObject& object) {
    const QJsonValue bundleID = object.value(QLatin1String("bundleID"));
    const QJsonValue appName = object.value(QLatin1String("appName"));
    const QJsonValue recipeID = object.value(QLatin1String("recipeID"));
    if (!bundleID.isString() || !appName.isString() || !recipeID.isString())
        return std::nullopt;
    AppRecipeRule rule{bundleID.toString(), appName.toString(), recipeID.toString(), {}, {}};
    if (!readOptionalInteger(object, "hotkeyKeyCode", rule.hotkeyKeyCode) ||
        !readOptionalInteger(object, "hotkeyModifiers", rule.hotkeyModifiers))
        return std::nullopt;
    return rule;
}

QByteArray AppRecipeRule::toJson() const {
    JsonObjectWriter writer;
    writer.add("bundleID", bundleID).add("appName", appName).add("recipeID", recipeID);
    if (hotkeyKeyCode)
        writer.add("hotkeyKeyCode", *hotkeyKeyCode);
    if (hotkeyModifiers)
        writer.add("hotkeyModifiers", *hotkeyModifiers);
    return writer.finish();
}

std::optional<QList<AppRecipeRule>> AppRecipeRule::listFromJson(const QByteArray& bytes) {
    return storedjson::decodeArray<AppRecipeRule>(bytes, &AppRecipeRule::fromJson);
}

QByteArray AppRecipeRule::listToJson(const QList<AppRecipeRule>& rules) {
    return storedjson::encodeArray(rules, [](const AppRecipeRule& r) { return r.toJson(); });
}

} // namespace corvane::stores
