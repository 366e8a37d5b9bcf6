// Writing the result back: through accessibility with a read-back check, else pasted through the
// clipboard into the run's window only. Every path ends with the engine reset.
#include "stores/OptimizationLogger.h"
#include "trigger/AppSets.h"
#include "trigger/TextMetrics.h"
#include "trigger/TriggerEngine.h"

namespace corvane::trigger {

using stores::OptimizationLog;

namespace {

QString windowGoneMessage() {
    return TriggerEngine::tr("The window you started from is no longer in front, so nothing was typed into it. The result is on "
              "your clipboard — paste it where you need it.");
}

const QString kWindowGoneDetail = QStringLiteral("target window gone or not in front; kept on clipboard");

QString fieldChangedMessage() {
    return TriggerEngine::tr("Another field has the focus now, so the result was not pasted over it. The result is on "
                             "your clipboard — paste it where you need it.");
}

const QString kFieldChangedDetail = QStringLiteral("focus moved to another field; kept on clipboard");

QString textChangedMessage() {
    return TriggerEngine::tr("The text in the field changed since the run began, so nothing was written into it. The "
                             "result is on your clipboard — paste it where you need it.");
}

const QString kTextChangedDetail = QStringLiteral("field changed since the run began; kept on clipboard");

} // namespace

void TriggerEngine::replaceText() {
    if (m_state.kind != TriggerState::Kind::Result)
        return;
    const QString result = m_state.text;
    std::optional<PendingPaste> paste;

    if (fieldChangedSinceRead()) {
        // The user typed in the field meanwhile: writing now would overwrite it.
        keepOnClipboard(result, kTextChangedDetail, textChangedMessage());
    } else if (m_usesClipboardFallback || !m_currentElement) {
        paste = attemptClipboardReplace(result, m_usedSelectAllRead, std::nullopt);
    } else if (m_accessibilityService.replaceText(m_currentElement, result) == AccessibilityService::kSuccess) {
        m_panel.hide();
        m_logger.log(OptimizationLog::LogStatus::Replaced, m_originalText, result, std::nullopt, m_currentRecipeName);
    } else {
        paste = attemptClipboardReplace(result, true,
                                        QStringLiteral("AX write-back had no effect; fell back to select-all + "
                                                       "Ctrl+V paste"));
    }

    m_activity.setActivity(AppActivity::Idle);
    reset();
    // The paste runs after the reset; the engine stays busy (not idle) until it is done.
    if (paste)
        auto running = runPaste(std::move(*paste));
}

std::optional<QString> TriggerEngine::fieldTextNow() {
    // Read as the run read it, and only while the bus shows that same field focused.
    const platform::ElementRef& field = m_currentElement ? m_currentElement : m_copiedFromElement;
    if (!field)
        return std::nullopt;
    auto info = m_accessibilityService.getFocusedElementInfo(nullptr, false);
    if (!info || !info->element || !info->element->sameAs(*field))
        return std::nullopt;
    return std::move(info->text);
}

bool TriggerEngine::fieldChangedSinceRead() {
    // A terminal's text is its output, which changes by itself; a paste there goes in at the
    // prompt and overwrites nothing.
    if (m_terminal)
        return false;
    if (const auto now = fieldTextNow()) {
        if (m_fieldAtResult && *now != *m_fieldAtResult)
            return true;  // touched while the result waited, if only by a trigger's spaces
        if (!m_usesClipboardFallback)
            return text::trimmed(*now) != m_readText;
        // Text read by copy differs in form from what the bus shows (line breaks, spacing): it is
        // compared as the paste check compares. A copied selection must still be in the field.
        const QString shown = ClipboardBridge::normalized(*now);
        const QString read = ClipboardBridge::normalized(m_readText);
        return m_usedSelectAllRead ? shown != read : !shown.contains(read);
    }
    if (m_usesClipboardFallback && !m_usedSelectAllRead && m_copiedFromElement &&
        !m_accessibilityService.focusMovedFrom(m_copiedFromElement)) {
        // The paste goes over the selection the run copied: gone, it would land at the caret.
        const auto probe = m_accessibilityService.probeFocusedElement();
        return probe && probe->selectionKnown && !probe->hasSelection;
    }
    return false;  // nothing to compare with
}

std::optional<TriggerEngine::PendingPaste> TriggerEngine::attemptClipboardReplace(const QString& text,
                                                                                 bool selectAllFirst,
                                                                                 const std::optional<QString>& note) {
    const auto front = m_activeApp.frontmost();
    const QString frontID = front ? front->appId : QString();
    const bool terminal = m_terminal || apps::pasteCautiousBundleIDs().contains(frontID);

    if (terminal && text::containsLineBreak(text)) {
        keepOnClipboard(text, QStringLiteral("multi-line text not auto-pasted in terminal; kept on clipboard"),
                        tr("Multi-line content could run as commands in a terminal, so it wasn't pasted "
                           "automatically. It's on your clipboard — paste manually with Ctrl+Shift+V."));
        return std::nullopt;
    }
    const platform::KeyTarget target{m_app ? m_app->windowId : 0, terminal};
    if (!m_activeApp.isActiveWindow(target.windowId)) {
        keepOnClipboard(text, kWindowGoneDetail, windowGoneMessage());
        return std::nullopt;
    }
    // Terminals have no select-all: the text goes in at the prompt.
    const bool selectAll = selectAllFirst && !terminal;
    // The field the text came from: the accessibility element, or the element the bus showed focused
    // once the text was copied.
    const platform::ElementRef field = m_currentElement ? m_currentElement : m_copiedFromElement;
    if (selectAll && m_accessibilityService.focusMovedFrom(field)) {
        keepOnClipboard(text, kFieldChangedDetail, fieldChangedMessage());
        return std::nullopt;
    }
    m_panel.hide();
    m_logger.log(OptimizationLog::LogStatus::Replaced, m_originalText, text, note, m_currentRecipeName);
    return PendingPaste{text, selectAll, target, field, m_originalText, m_currentRecipeName};
}

void TriggerEngine::keepOnClipboard(const QString& text, const QString& detail, const QString& message) {
    m_logger.log(OptimizationLog::LogStatus::Failed, m_originalText, text, detail, m_currentRecipeName);
    m_clipboardBridge.putOnClipboard(text);
    m_panel.hide();
    m_panel.showErrorMessage(message);
}

QCoro::Task<> TriggerEngine::runPaste(PendingPaste paste) {
    m_busy = Busy::WritingBack;
    const auto outcome = co_await m_clipboardBridge.pasteText(paste.text, paste.selectAllFirst, paste.target, paste.field);
    m_busy = Busy::None;
    switch (outcome) {
    case ClipboardBridge::PasteOutcome::Done:
        break;
    case ClipboardBridge::PasteOutcome::VerificationFailed: {
        QString detail = QStringLiteral("paste verification failed");
        if (const auto& seen = m_clipboardBridge.lastVerifySnapshot())
            detail += QStringLiteral("; ") + *seen;
        m_logger.log(OptimizationLog::LogStatus::Failed, paste.originalText, paste.text, detail, paste.recipeName);
        m_panel.showErrorMessage(tr("Couldn't confirm the replacement automatically. Check the field for correctness "
                                    "or duplicates. The content is on your clipboard — paste with Ctrl+V to "
                                    "overwrite."));
        break;
    }
    case ClipboardBridge::PasteOutcome::TargetUnavailable:
        m_logger.log(OptimizationLog::LogStatus::Failed, paste.originalText, paste.text, kWindowGoneDetail,
                     paste.recipeName);
        m_panel.showErrorMessage(windowGoneMessage());
        break;
    case ClipboardBridge::PasteOutcome::FieldChanged:
        m_logger.log(OptimizationLog::LogStatus::Failed, paste.originalText, paste.text, kFieldChangedDetail,
                     paste.recipeName);
        m_panel.showErrorMessage(fieldChangedMessage());
        break;
    }
}

} // namespace corvane::trigger
