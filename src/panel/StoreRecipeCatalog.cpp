#include "panel/StoreRecipeCatalog.h"

#include "stores/AppProfileStore.h"
#include "stores/RecipeStore.h"

namespace corvane::panel {

StoreRecipeCatalog::StoreRecipeCatalog(stores::RecipeStore& recipes, stores::AppProfileStore& appRules)
    : m_recipes(recipes), m_appRules(appRules) {}

QList<RecipeChoice> StoreRecipeCatalog::all() const {
    QList<RecipeChoice> out;
    const auto recipes = m_recipes.all();
    out.reserve(recipes.size());
    for (const auto& r : recipes)
        out.append({r.id, r.name});
    return out;
}

bool StoreRecipeCatalog::contains(const QString& id) const { return m_recipes.effective(id).has_value(); }

QString StoreRecipeCatalog::selectedRecipeID() const { return m_recipes.selectedRecipeID(); }

void StoreRecipeCatalog::select(const QString& id) { m_recipes.select(id); }

std::optional<QString> StoreRecipeCatalog::appRecipeID(const QString& bundleID) const {
    return m_appRules.recipeID(bundleID);
}

bool StoreRecipeCatalog::appRulesSaved() const { return m_appRules.isSaved(); }

} // namespace corvane::panel
