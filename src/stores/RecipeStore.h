#pragma once
// The recipes: six built-ins (English or Chinese set), the user's own recipes, prompt overrides
// of the built-ins and the global selection, persisted in the preferences.
#include "stores/PromptRecipe.h"
#include "stores/StoredJson.h"
#include <QMap>
#include <QObject>
#include <QStringList>

namespace corvane::platform {
class Preferences;
class Clock;
} // namespace corvane::platform

namespace corvane::stores {

class RecipeStore : public QObject {
    Q_OBJECT
public:
    static constexpr const char* userKey = "recipes_user";
    static constexpr const char* overrideKey = "recipes_builtin_overrides";
    static constexpr const char* selectedKey = "recipes_selected_id";
    static constexpr const char* migratedKey = "recipes_migrated_v1";
    static constexpr const char* legacyPromptKey = "systemPrompt";
    static constexpr const char* defaultRecipeID = "optimize";

    // preferredLanguages: the user's UI languages in order (QLocale::system().uiLanguages()); the
    // Chinese built-in set is used when the first starts with "zh". Loads and migrates.
    RecipeStore(platform::Preferences& preferences, platform::Clock& clock, const QStringList& preferredLanguages,
                QObject* parent = nullptr);

    static RecipeStore& shared();
    static void setShared(RecipeStore* store);

    // The language rule: the first entry begins with "zh" (case-sensitive); false when empty.
    static bool prefersChinese(const QStringList& preferredLanguages);
    // The six built-ins in their fixed order, in the chosen language set.
    static QList<PromptRecipe> builtInRecipes(bool chinese);
    // The earlier versions' default single system prompt (the Chinese "optimize" prompt + "\n").
    static QString legacyDefaultPrompt();

    // This store's built-in set, fixed at construction.
    const QList<PromptRecipe>& builtIn() const { return m_builtIn; }

    // Built-ins with their overrides applied, then the user's recipes.
    QList<PromptRecipe> all() const;
    // The first recipe of all() with exactly this id.
    std::optional<PromptRecipe> effective(const QString& id) const;
    QString selectedRecipeID() const { return m_selectedRecipeID; }
    // The selection, or the first recipe when the selected id resolves to nothing.
    PromptRecipe selectedRecipe() const;
    // Selects and stores an id that resolves; any other id changes nothing.
    void select(const QString& id);

    const QList<PromptRecipe>& userRecipes() const { return m_userRecipes; }
    const QMap<QString, QString>& overrides() const { return m_overrides; }

    // A user recipe's prompt, or a built-in's override (even an empty one or the default text).
    void updateSystemPrompt(const QString& id, const QString& prompt);
    void renameUserRecipe(const QString& id, const QString& name);
    // Appends a recipe with id "user-<UUID>"; an empty name becomes "Untitled recipe".
    PromptRecipe addUserRecipe(const QString& name, const QString& systemPrompt);
    // Removes every user recipe with the id; a selected id falls back to "optimize".
    void deleteUserRecipe(const QString& id);
    void resetBuiltInOverride(const QString& id);

Q_SIGNALS:
    // After every change of the user recipes, the overrides or the selection.
    void changed();

private:
    bool isBuiltIn(const QString& id) const;
    void saveUserRecipes();
    void saveOverrides();

    platform::Preferences& m_prefs;
    QList<PromptRecipe> m_builtIn;
    QList<PromptRecipe> m_userRecipes;
    QMap<QString, QString> m_overrides;
    QString m_selectedRecipeID;
    StoredJson m_userSlot;
    StoredJson m_overrideSlot;
};

} // namespace corvane::stores
