// Ending or restarting a run from the panel: cancel, abandon and rerun.
#include "stores/Graphemes.h"
#include "stores/OptimizationLogger.h"
#include "stores/SettingsStore.h"
#include "trigger/TextMetrics.h"
#include "trigger/TriggerEngine.h"

namespace corvane::trigger {

using stores::OptimizationLog;

void TriggerEngine::cancel() {
    m_logger.log(OptimizationLog::LogStatus::Cancelled, m_originalText);
    const bool restore = m_usesClipboardFallback;
    m_activity.setActivity(AppActivity::Idle);
    m_panel.hide();
    reset();
    if (restore)
        m_clipboardBridge.restoreOriginal();
}

void TriggerEngine::abandon(bool silent) {
    // Only a session can be abandoned; a read or a paste in flight finishes on its own.
    if (m_state.kind == TriggerState::Kind::Idle)
        return;
    if (!silent)
        m_logger.log(OptimizationLog::LogStatus::Cancelled, m_originalText);
    const bool restore = m_usesClipboardFallback;
    m_activity.setActivity(AppActivity::Idle);
    reset();
    if (restore)
        m_clipboardBridge.restoreOriginal();
}

void TriggerEngine::rerun(std::optional<QString> manualRecipeId) {
    m_panel.hide();
    const bool restore = m_usesClipboardFallback;
    // A draft's description is never lost to a failure: the draft the field opens again holds it,
    // and one that was long enough to send goes out again, as a rewrite's Retry sends its text.
    const QString description = m_draftDescription;
    reset();
    m_pendingManualRecipeID = std::move(manualRecipeId);
    if (!text::trimmed(description).isEmpty())
        m_keptDescription = KeptDescription{
            description, stores::graphemes::hasAtLeast(text::trimmed(description), m_settings.minTextLength())};
    auto running = runAgain(restore);
}

QCoro::Task<> TriggerEngine::runAgain(bool restoreClipboardFirst) {
    // The field is read again from the user's own clipboard, not from the text our copy left there.
    if (restoreClipboardFirst)
        m_clipboardBridge.restoreOriginal();
    co_await trigger(std::nullopt);
}

} // namespace corvane::trigger
