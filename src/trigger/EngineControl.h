#pragma once
// What the floating panel asks of the trigger engine. Implemented by TriggerEngine; the panel's
// tests use a recording fake. Main thread only.
#include "trigger/RecipeSource.h"
#include <QString>
#include <optional>

namespace corvane::trigger {

class EngineControl {
public:
    virtual ~EngineControl() = default;

    virtual bool isIdle() const = 0;
    virtual bool isAwaitingInstruction() const = 0;
    // The session ended in an error that the panel may still show: nothing of it runs any more.
    virtual bool hasFailed() const = 0;
    virtual RecipeSource currentRecipeSource() const = 0;
    virtual QString currentBundleID() const = 0;

    virtual void finishDraft(const QString& instruction) = 0;
    virtual void replaceText() = 0;
    virtual void cancel() = 0;
    virtual void abandon(bool silent) = 0;
    virtual void rerun(std::optional<QString> manualRecipeId) = 0;
    virtual void stageManualRecipe(const QString& recipeId) = 0;
    virtual void rememberAsAppDefault(const QString& recipeId) = 0;
};

} // namespace corvane::trigger
