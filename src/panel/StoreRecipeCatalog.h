#pragma once
// The panel's view of the recipe store and the per-app rules.
#include "panel/RecipeCatalog.h"

namespace corvane::stores {
class AppProfileStore;
class RecipeStore;
} // namespace corvane::stores

namespace corvane::panel {

class StoreRecipeCatalog final : public RecipeCatalog {
public:
    StoreRecipeCatalog(stores::RecipeStore& recipes, stores::AppProfileStore& appRules);

    QList<RecipeChoice> all() const override;
    bool contains(const QString& id) const override;
    QString selectedRecipeID() const override;
    void select(const QString& id) override;
    std::optional<QString> appRecipeID(const QString& bundleID) const override;
    bool appRulesSaved() const override;

private:
    stores::RecipeStore& m_recipes;
    stores::AppProfileStore& m_appRules;
};

} // namespace corvane::panel
