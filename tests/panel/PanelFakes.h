#pragma once
// Test doubles around the panel: an engine that records what the panel asks of it, recipes in
// memory, and a fixed monitor layout with a pointer.
#include "panel/DesktopGeometry.h"
#include "panel/RecipeCatalog.h"
#include "trigger/EngineControl.h"

#include <QMap>
#include <QStringList>
#include <functional>

namespace corvane::panel::testing {

class RecordingEngine : public trigger::EngineControl {
public:
    bool isIdle() const override { return idle; }
    bool isAwaitingInstruction() const override { return awaitingInstruction; }
    bool hasFailed() const override { return false; }
    trigger::RecipeSource currentRecipeSource() const override { return source; }
    QString currentBundleID() const override { return bundleID; }

    void finishDraft(const QString& instruction) override { record(QStringLiteral("finishDraft(%1)").arg(instruction)); }
    void replaceText() override { record(QStringLiteral("replaceText")); }
    void cancel() override { record(QStringLiteral("cancel")); }
    void abandon(bool silent) override { record(QStringLiteral("abandon(%1)").arg(silent ? "true" : "false")); }
    void rerun(std::optional<QString> manualRecipeId) override {
        record(QStringLiteral("rerun(%1)").arg(manualRecipeId ? *manualRecipeId : QStringLiteral("none")));
    }
    void stageManualRecipe(const QString& recipeId) override { record(QStringLiteral("stage(%1)").arg(recipeId)); }
    void rememberAsAppDefault(const QString& recipeId) override {
        record(QStringLiteral("remember(%1)").arg(recipeId));
        if (onRemember)
            onRemember(recipeId);
    }

    bool idle = true;
    bool awaitingInstruction = false;
    trigger::RecipeSource source = trigger::RecipeSource::globalDefault();
    QString bundleID;
    QStringList calls;
    std::function<void(const QString&)> onRemember;
    std::function<void(const QString&)> onCall;

private:
    void record(const QString& call) {
        calls << call;
        if (onCall)
            onCall(call);
    }
};

class MemoryRecipeCatalog : public RecipeCatalog {
public:
    MemoryRecipeCatalog() {
        recipes = {{QStringLiteral("optimize"), QStringLiteral("Optimize Prompt")},
                   {QStringLiteral("concise"), QStringLiteral("Make Concise")},
                   {QStringLiteral("translate-en"), QStringLiteral("Translate to English")}};
    }
    QList<RecipeChoice> all() const override { return recipes; }
    bool contains(const QString& id) const override {
        return std::any_of(recipes.begin(), recipes.end(), [&](const RecipeChoice& r) { return r.id == id; });
    }
    QString selectedRecipeID() const override { return selected; }
    void select(const QString& id) override {
        if (contains(id))
            selected = id;
    }
    std::optional<QString> appRecipeID(const QString& bundleID) const override {
        if (bundleID.isEmpty() || !rules.contains(bundleID))
            return std::nullopt;
        return rules.value(bundleID);
    }
    bool appRulesSaved() const override { return rulesSaved; }

    QList<RecipeChoice> recipes;
    QString selected = QStringLiteral("optimize");
    QMap<QString, QString> rules;
    bool rulesSaved = true;
};

class FixedDesktop : public DesktopGeometry {
public:
    QList<ScreenArea> screens() const override { return areas; }
    QPointF pointer() const override { return pointerAt; }

    QList<ScreenArea> areas{{QRectF(0, 0, 1440, 900), QRectF(0, 25, 1440, 875)}};
    QPointF pointerAt{700, 400};
};

} // namespace corvane::panel::testing
