#pragma once
// The per-app recipe rules, stored under "app_recipe_rules"; a default table is installed when
// nothing readable is stored.
#include "stores/AppRecipeRule.h"
#include "stores/StoredJson.h"
#include <QObject>
#include <QStringList>

namespace corvane::platform {
class Preferences;
class Clock;
} // namespace corvane::platform

namespace corvane::stores {

class AppProfileStore : public QObject {
    Q_OBJECT
public:
    static constexpr const char* storageKey = "app_recipe_rules";

    // preferredLanguages: as for RecipeStore; picks the seed table when one is installed.
    AppProfileStore(platform::Preferences& preferences, platform::Clock& clock, const QStringList& preferredLanguages,
                    QObject* parent = nullptr);

    static AppProfileStore& shared();
    static void setShared(AppProfileStore* store);

    // The default table: 14 rows for the Chinese set, 17 otherwise; no row has a hotkey.
    static QList<AppRecipeRule> seedRules(bool chinese);

    const QList<AppRecipeRule>& rules() const { return m_rules; }
    // The recipe id of the first rule for this app id (exact match); nothing for "".
    std::optional<QString> recipeID(const QString& bundleID) const;
    // Changes the first matching rule's recipe (and its name when the new one is not empty), or
    // appends a rule. An empty bundle id does nothing.
    void setMapping(const QString& bundleID, const QString& appName, const QString& recipeID);
    // Removes every rule of the app; always stores the list.
    void remove(const QString& bundleID);
    // Sets or clears the first matching rule's hotkey; creates no rule.
    void setHotkey(const QString& bundleID, std::optional<qint64> keyCode, std::optional<qint64> modifiers);
    // False while the rules hold a change that the preferences could not store.
    bool isSaved() const;

Q_SIGNALS:
    void changed();

private:
    void save();

    platform::Preferences& m_prefs;
    QList<AppRecipeRule> m_rules;
    StoredJson m_slot;
};

} // namespace corvane::stores
