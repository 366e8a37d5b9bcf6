#pragma once
// Why a run's recipe was chosen.
#include <QCoreApplication>
#include <QString>

namespace corvane::trigger {

struct RecipeSource {
    enum class Kind { AppRule, Hotkey, SessionManual, GlobalDefault };
    Kind kind = Kind::GlobalDefault;
    QString appName; // AppRule only
    bool unsaved = false; // AppRule only: the rules could not be stored

    static RecipeSource appRule(QString name) { return {Kind::AppRule, std::move(name)}; }
    static RecipeSource hotkey() { return {Kind::Hotkey, {}}; }
    static RecipeSource sessionManual() { return {Kind::SessionManual, {}}; }
    static RecipeSource globalDefault() { return {Kind::GlobalDefault, {}}; }

    // The localised panel text.
    QString label() const {
        switch (kind) {
        case Kind::AppRule:
            if (unsaved)
                return QCoreApplication::translate("RecipeSource", "App rule: %1 (not saved)").arg(appName);
            return QCoreApplication::translate("RecipeSource", "App rule: %1").arg(appName);
        case Kind::Hotkey:
            return QCoreApplication::translate("RecipeSource", "Forced by hotkey");
        case Kind::SessionManual:
            return QCoreApplication::translate("RecipeSource", "This time only");
        case Kind::GlobalDefault:
            break;
        }
        return QCoreApplication::translate("RecipeSource", "Global default");
    }
    // The name written into activity-log contexts.
    QString logName() const {
        switch (kind) {
        case Kind::AppRule:
            return QStringLiteral("app-rule(") + appName + QLatin1Char(')');
        case Kind::Hotkey:
            return QStringLiteral("hotkey");
        case Kind::SessionManual:
            return QStringLiteral("manual");
        case Kind::GlobalDefault:
            break;
        }
        return QStringLiteral("global-default");
    }
    bool operator==(const RecipeSource&) const = default;
};

} // namespace corvane::trigger
