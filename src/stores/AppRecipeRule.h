#pragma once
// A per-app rule: an application (its Linux app id) mapped to a recipe, with an optional hotkey.
// Stored as {"bundleID","appName","recipeID"[,"hotkeyKeyCode"][,"hotkeyModifiers"]}.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace corvane::stores {

struct AppRecipeRule {
    QString bundleID; // the application id; the rule's identity
    QString appName;
    QString recipeID;
    std::optional<qint64> hotkeyKeyCode;   // virtual key code, same encoding as the global hotkey
    std::optional<qint64> hotkeyModifiers; // modifier bits, same encoding as the global hotkey

    QString id() const { return bundleID; }
    // The name Corvane shows for the rule's app everywhere (rule list, panel, model).
    QString shownName() const { return shownName(appName, bundleID); }
    // The name Corvane shows for an app: the name it is known by (its desktop entry's), else its id.
    static QString shownName(const QString& name, const QString& appId) { return name.isEmpty() ? appId : name; }
    bool operator==(const AppRecipeRule&) const = default;

    // Fails when a text key is missing or not a string, or a hotkey value is neither an integer
    // nor null. Absent or null hotkey values give nothing.
    static std::optional<AppRecipeRule> fromJson(const QJsonObject& object);
    // Hotkey keys are written only when present.
    QByteArray toJson() const;

    static std::optional<QList<AppRecipeRule>> listFromJson(const QByteArray& bytes);
    static QByteArray listToJson(const QList<AppRecipeRule>& rules);
};

} // namespace corvane::stores
