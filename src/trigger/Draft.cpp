// Draft mode: an empty field opens the panel for a description of what to write; the submitted
// description is then run like any other input, with the read mode "draft".
#include "stores/DiagLog.h"
#include "stores/Graphemes.h"
#include "stores/OptimizationLogger.h"
#include "stores/SettingsStore.h"
#include "trigger/TextMetrics.h"
#include "trigger/TriggerEngine.h"

namespace corvane::trigger {

using stores::DiagLog;
using stores::OptimizationLog;

void TriggerEngine::enterDraft(const AccessibilityService::ElementInfo& info) {
    m_currentElement = info.element;
    m_usesClipboardFallback = false;
    m_currentBundleID = m_app ? m_app->appId : QString();
    m_originalText.clear();
    m_readText.clear();  // the field was empty, but for the trigger's spaces
    setState(TriggerState::awaitingInstruction());
    // A recipe forced by a hotkey does not apply to a draft.
    const RecipeChoice choice = resolveRecipe(m_currentBundleID, std::nullopt);
    m_currentRecipeName = choice.recipe.name;
    m_currentRecipeSource = choice.source;
    m_activity.setActivity(AppActivity::Triggered);
    m_panel.showDraft(info.position, info.size, choice.recipe.id, info.line);
    // Retry after a draft: what the user described comes back rather than an empty box.
    if (const auto kept = std::exchange(m_keptDescription, std::nullopt)) {
        m_panel.setDraftText(kept->text);
        if (kept->sendAgain) {
            // A recipe picked for this retry was taken by the choice above; the submission takes it again.
            if (choice.source.kind == RecipeSource::Kind::SessionManual)
                m_pendingManualRecipeID = choice.recipe.id;
            finishDraft(kept->text);
        }
    }
}

void TriggerEngine::finishDraft(const QString& instruction) {
    if (m_state.kind != TriggerState::Kind::AwaitingInstruction)
        return;
    if (m_busy == Busy::Unlocking) {
        // Submitted again while the keyring's prompt is open: the newest description is the one
        // that goes out once the keyring is unlocked.
        DiagLog::event(QStringLiteral("draft: submitted again while waiting for the keyring; the newer description "
                                      "is sent once it is unlocked"));
        m_draftAwaitingKey = instruction;
        m_draftDescription = instruction;
        return;
    }
    if (m_busy != Busy::None)
        return;
    m_draftDescription = instruction;
    const QString description = text::trimmed(instruction);
    const qint64 minimum = m_settings.minTextLength();
    if (stores::graphemes::count(description) < minimum) {
        fail(tr("Description is too short (at least %1 characters required)")
                 .arg(minimum),
             std::nullopt, description, QStringLiteral("text_too_short"));
        return;
    }
    const auto keyAccess = m_settings.apiKeyAccess();
    if (keyAccess == stores::SettingsStore::KeyAccess::Locked) {
        m_draftAwaitingKey = instruction;
        auto unlocking = unlockThenFinishDraft();
        return;
    }
    if (keyAccess != stores::SettingsStore::KeyAccess::Present) {
        failWithoutKey(keyAccess, description);
        return;
    }
    m_originalText = description;
    // The session's application was taken when the draft began and stays the one written to.
    const RecipeChoice choice = resolveRecipe(m_currentBundleID, std::nullopt);
    m_currentRecipeName = choice.recipe.name;
    m_currentRecipeSource = choice.source;
    // As for a run: the request goes out first, the record and the panel follow in the same turn.
    StartedStream started = startStream(
        composedUserMessage(description, choice.recipe.name, frontmostAppName(), QStringLiteral("draft")),
        choice.recipe);
    setState(TriggerState::optimizing());
    m_activity.setActivity(AppActivity::Optimizing);
    m_usage.track(QStringLiteral("draft_submit"));
    m_logger.log(OptimizationLog::LogStatus::Triggered, description, std::nullopt, std::nullopt, choice.recipe.name,
                 QStringLiteral("app=") + m_currentBundleID + QStringLiteral(" read=draft recipe=") +
                     choice.source.logName());
    m_panel.beginStreamingResult(choice.recipe.id);
    auto run = readStream(description, std::move(started), choice.recipe.name, QStringLiteral("draft"));
}

// As in a run: the desktop asks for the keyring's password while the draft waits, then the latest
// submitted description goes out, or the locked keyring is reported. Cancelling the draft ends the
// wait at once.
QCoro::Task<> TriggerEngine::unlockThenFinishDraft() {
    const UnlockWait unlock = co_await unlockKeyring();
    if (unlock.ended || m_state.kind != TriggerState::Kind::AwaitingInstruction)
        co_return;
    const QString instruction = std::exchange(m_draftAwaitingKey, QString());
    if (const auto keyAccess = m_settings.apiKeyAccess(); keyAccess == stores::SettingsStore::KeyAccess::Locked)
        failWithoutKey(keyAccess, text::trimmed(instruction));
    else
        finishDraft(instruction);
}

} // namespace corvane::trigger
