#pragma once
// The recipes and per-app rules as the panel sees them: the picker's list, the global selection and
// whether an app's rule already names a recipe. Implemented over the stores by StoreRecipeCatalog;
// tests use an in-memory catalog.
#include <QList>
#include <QString>
#include <optional>

namespace corvane::panel {

// A recipe as the picker shows it.
struct RecipeChoice {
    QString id;
    QString name;
    bool operator==(const RecipeChoice&) const = default;
};

class RecipeCatalog {
public:
    virtual ~RecipeCatalog() = default;
    // Every recipe in display order.
    virtual QList<RecipeChoice> all() const = 0;
    // Whether a recipe with this id exists.
    virtual bool contains(const QString& id) const = 0;
    // The globally selected recipe id.
    virtual QString selectedRecipeID() const = 0;
    // Selects a recipe globally (persisted); an unknown id changes nothing.
    virtual void select(const QString& id) = 0;
    // The recipe id of the rule for an application, or nothing.
    virtual std::optional<QString> appRecipeID(const QString& bundleID) const = 0;
    // False while the rules hold a change that could not be stored.
    virtual bool appRulesSaved() const { return true; }
};

} // namespace corvane::panel
