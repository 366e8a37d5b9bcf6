// Starting a run: the gates, reading the field (accessibility first, the clipboard second), the
// refusals, the recipe choice and the hand-over to the model stream.
#include "platform/RunTrace.h"
#include "stores/DiagLog.h"
#include "stores/Graphemes.h"
#include "stores/OptimizationLogger.h"
#include "stores/SettingsStore.h"
#include "trigger/AppSets.h"
#include "trigger/TextMetrics.h"
#include "trigger/TriggerEngine.h"

namespace corvane::trigger {

using stores::DiagLog;
using stores::OptimizationLog;

namespace {

QString flag(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }

} // namespace

QCoro::Task<> TriggerEngine::trigger(std::optional<QString> forcedRecipeID, TriggerSource source) {
    platform::runtrace::mark("run");
    // A description kept by Retry belongs to this run's draft only: a run that ends before its
    // read drops it.
    std::optional<KeptDescription> kept = std::exchange(m_keptDescription, std::nullopt);
    // 1. Gates.
    if (m_busy != Busy::None) {
        DiagLog::event(QStringLiteral("trigger IGNORED: engine busy (") + busyName() + QLatin1Char(')'));
        co_return;
    }
    if (m_state.kind != TriggerState::Kind::Idle) {
        // The case name only: the text a result or error carries is the user's and stays out of the log.
        DiagLog::event(QStringLiteral("trigger IGNORED: engine not idle (state=") +
                       m_state.description().section(QLatin1Char('('), 0, 0) +
                       QLatin1Char(')'));
        co_return;
    }
    if (m_updates.isUpdateRequired()) {
        DiagLog::event(QStringLiteral("trigger BLOCKED: forced update required"));
        m_updates.showForcedUpdateWindow();
        co_return;
    }
    // The run means to send: the connection is opened now, and is set up while the field is read
    // and the panel shown. A run that ends before sending leaves it for the next one.
    m_model.prewarm();

    // The application and window are taken once; keys only ever go to this window.
    const auto app = m_activeApp.frontmost();
    const QString bundleID = app ? app->appId : QString();
    platform::runtrace::mark("app");
    DiagLog::event(QStringLiteral("trigger BEGIN frontApp=") + (bundleID.isEmpty() ? QStringLiteral("?") : bundleID) +
                   QStringLiteral(" forced=") + forcedRecipeID.value_or(QStringLiteral("nil")));

    // 2.–5. Read the field and check what it gave.
    const platform::KeyTarget target{app ? app->windowId : 0, apps::pasteCautiousBundleIDs().contains(bundleID)};
    m_keptDescription = std::move(kept);
    std::optional<RunInput> checked = co_await readInput(app, target, source);
    m_keptDescription.reset();
    if (!checked)
        co_return;
    using KeyAccess = stores::SettingsStore::KeyAccess;
    KeyAccess keyAccess = m_settings.apiKeyAccess();
    if (keyAccess == KeyAccess::Locked) {
        // The key is stored in a locked keyring: the desktop asks for its password while the run waits.
        DiagLog::event(QStringLiteral("trigger: API key in a locked keyring, asking to unlock it"));
        const UnlockWait unlock = co_await unlockKeyring();
        if (unlock.ended)
            co_return;
        keyAccess = m_settings.apiKeyAccess();
        if (unlock.waited && keyAccess == KeyAccess::Present) {
            // The user may have typed in the field while the prompt was open: the run goes on with
            // what the field holds now, read once its window has the focus back.
            const quint64 generation = m_generation;
            m_busy = Busy::Unlocking;
            const bool back = co_await windowActiveAgain(target.windowId);
            if (generation != m_generation)
                co_return; // ended meanwhile: reset() has let the engine go
            m_busy = Busy::None;
            if (!back) {
                fail(readFailedMessage(checked->read.terminal),
                     QStringLiteral("the window of app=") + bundleID +
                         QStringLiteral(" did not get the focus back after the keyring prompt"),
                     QString(), QStringLiteral("read_failed"), m_activeApp.windowFrame(target.windowId));
                co_return;
            }
            checked = co_await readInput(app, target, source);
            if (!checked)
                co_return;
        }
    }
    const QString input = std::move(checked->text);
    const FieldRead& read = checked->read;
    if (keyAccess != KeyAccess::Present) {
        failWithoutKey(keyAccess, input);
        co_return;
    }

    // 6. The request goes out first. The record and the panel follow in this same turn of the event
    // loop, before any token can arrive: a stream delivers nothing from inside the call that starts it.
    m_originalText = input;
    m_readText = input;
    if (!read.fromClipboard)
        m_currentElement = read.info->element;
    else
        m_copiedFromElement = read.copiedFrom;
    startSession(app, read.terminal);
    m_currentBundleID = bundleID;
    const RecipeChoice choice = resolveRecipe(m_currentBundleID, forcedRecipeID);
    m_currentRecipeName = choice.recipe.name;
    m_currentRecipeSource = choice.source;
    const QString readMode = !read.fromClipboard ? QStringLiteral("ax")
                             : read.selectAllRead ? QStringLiteral("clipboard+selectAll")
                                                  : QStringLiteral("clipboard");
    StartedStream started = startStream(composedUserMessage(input, choice.recipe.name, frontmostAppName(), readMode),
                                        choice.recipe);
    platform::runtrace::mark("started");
    setState(TriggerState::optimizing());
    m_activity.setActivity(AppActivity::Triggered);
    m_logger.log(OptimizationLog::LogStatus::Triggered, input, std::nullopt, std::nullopt, choice.recipe.name,
                 QStringLiteral("app=") + m_currentBundleID + QStringLiteral(" read=") + readMode +
                     QStringLiteral(" recipe=") + choice.source.logName());
    if (read.info)
        m_panel.show(input, read.info->position, read.info->size, choice.recipe.id, read.line);
    else
        m_panel.show(input, std::nullopt, QSizeF(0, 0), choice.recipe.id, read.line);
    m_activity.setActivity(AppActivity::Optimizing);
    platform::runtrace::mark("shown");

    // 7. Read the answer.
    co_await readStream(input, std::move(started), choice.recipe.name, QStringLiteral("process"));
}

QCoro::Task<std::optional<TriggerEngine::RunInput>> TriggerEngine::readInput(std::optional<platform::AppInfo> app,
                                                                             platform::KeyTarget target,
                                                                             TriggerSource source) {
    const QString bundleID = app ? app->appId : QString();
    // The engine is busy while the field is read, though its state is still idle.
    m_busy = Busy::Reading;
    FieldRead read = co_await readFocusedField(bundleID, target, m_generation);
    m_busy = Busy::None;
    if (read.ended)
        co_return std::nullopt;

    // 3. Password fields are refused before anything is shown or sent.
    if (read.password) {
        DiagLog::event(QStringLiteral("trigger REFUSED: password field app=") + bundleID);
        fail(tr("Corvane never reads password fields."),
             QStringLiteral("password field not read (app=") + bundleID + QLatin1Char(')'), QString(),
             QStringLiteral("read_failed"));
        co_return std::nullopt;
    }

    // Focus on a page, a link or a button: nothing to work on. Space taps there are the user
    // scrolling or typing elsewhere; the shortcut or the menu item gets told why nothing happens.
    if (read.noField) {
        if (source == TriggerSource::SpaceTaps) {
            DiagLog::event(QStringLiteral("trigger IGNORED: no text field focused (source=space) ") +
                           read.probeDescription);
            co_return std::nullopt;
        }
        DiagLog::event(QStringLiteral("trigger FAIL: no text field focused app=") + bundleID + QLatin1Char(' ') +
                       read.probeDescription);
        fail(tr("No text field has the keyboard focus, so there is nothing to work on. Click into the text you "
                "want to work on, then try again."),
             QStringLiteral("no text field focused (app=") + bundleID + QLatin1Char(' ') + read.probeDescription +
                 QLatin1Char(')'),
             QString(), QStringLiteral("read_failed"));
        co_return std::nullopt;
    }

    // The text without its surrounding blanks, trimmed where it lies: it may be long.
    QString input = read.text ? text::trimmed(std::move(*read.text)) : QString();

    // 4. An empty field read through accessibility opens draft mode.
    if (read.text && input.isEmpty() && read.info) {
        DiagLog::event(QStringLiteral("trigger → DRAFT mode (empty input)"));
        startSession(app, read.terminal);
        enterDraft(*read.info);
        co_return std::nullopt;
    }

    // 5. Refusals.
    if (!read.text) {
        DiagLog::event(QStringLiteral("trigger FAIL: both channels nil app=") + bundleID + QLatin1Char(' ') +
                       read.probeDescription);
        // The advice asks the user to select the text in that window: the panel leaves it free.
        fail(readFailedMessage(read.terminal),
             QStringLiteral("AX direct read and clipboard fallback both failed (app=") + bundleID + QLatin1Char(' ') +
                 read.probeDescription + QLatin1Char(')'),
             QString(), QStringLiteral("read_failed"), m_activeApp.windowFrame(target.windowId), read.line);
        co_return std::nullopt;
    }
    if (!stores::graphemes::hasAtLeast(input, m_settings.minTextLength())) {
        fail(tr("Text is too short (at least %1 characters required)").arg(m_settings.minTextLength()), std::nullopt,
             input, QStringLiteral("text_too_short"));
        co_return std::nullopt;
    }
    co_return RunInput{std::move(read), std::move(input)};
}

QCoro::Task<TriggerEngine::UnlockWait> TriggerEngine::unlockKeyring() {
    const quint64 generation = m_generation;
    // An earlier request whose prompt is still open (its session was cancelled) is waited for again.
    if (!m_keyringUnlock || m_keyringUnlock->finished())
        m_keyringUnlock.emplace(m_settings.unlockApiKey());
    const bool waits = !m_keyringUnlock->finished();
    m_busy = Busy::Unlocking;
    // Awaited on a line of its own: GCC 12 may lay out the coroutine frame wrongly for a
    // co_await inside an if condition, and the waiter is then resumed into a broken frame.
    const std::optional<bool> answer = co_await m_keyringUnlock->wait();
    if (!answer || generation != m_generation)
        co_return UnlockWait{true, waits}; // ended: reset() has let the engine go already
    m_busy = Busy::None;
    co_return UnlockWait{false, waits};
}

QCoro::Task<bool> TriggerEngine::windowActiveAgain(quint64 windowId) {
    const quint64 generation = m_generation;
    constexpr qint64 kStepMs = 50, kLimitMs = 3000;
    bool active = windowId == 0 || m_activeApp.isActiveWindow(windowId);
    for (qint64 waitedMs = 0; !active && waitedMs < kLimitMs && generation == m_generation; waitedMs += kStepMs) {
        co_await m_clock.sleep(kStepMs);
        active = m_activeApp.isActiveWindow(windowId);
    }
    co_return active;
}

void TriggerEngine::failWithoutKey(stores::SettingsStore::KeyAccess access, const QString& original) {
    using KeyAccess = stores::SettingsStore::KeyAccess;
    if (access == KeyAccess::Locked)
        fail(tr("Your keyring is locked, so Corvane can't read your API key. Unlock it (log in again or open your "
                "keyring manager) and try again."),
             std::nullopt, original, QStringLiteral("keyring_locked"));
    else if (access == KeyAccess::Unavailable)
        fail(tr("Your keyring is not available. Start the desktop's keyring (Secret Service) and try again."),
             std::nullopt, original, QStringLiteral("keyring_unavailable"));
    else
        fail(tr("Corvane is free — add your own API key in Settings to keep going"), std::nullopt, original,
             QStringLiteral("no_api_key"));
}

void TriggerEngine::startSession(const std::optional<platform::AppInfo>& app, bool terminal) {
    m_app = app;
    m_terminal = terminal;
}

QCoro::Task<TriggerEngine::FieldRead> TriggerEngine::readFocusedField(QString bundleID, platform::KeyTarget target,
                                                                      quint64 generation) {
    FieldRead read;
    using Miss = AccessibilityService::Miss;
    Miss miss = Miss::None;
    read.info = m_accessibilityService.getFocusedElementInfo(&miss);
    if (read.info) {
        read.text = std::move(read.info->text); // one holder, so that trimming needs no copy
        read.line = read.info->line;
    }
    platform::runtrace::mark("info");
    DiagLog::event(QStringLiteral("trigger AX read: ") +
                   (read.text ? QStringLiteral("OK len=") + QString::number(stores::graphemes::count(*read.text))
                    : miss == Miss::NotAField    ? QStringLiteral("nil (not a text field)")
                    : miss == Miss::Placeholders ? QStringLiteral("nil (embedded objects unreadable)")
                                                 : QStringLiteral("nil")));
    m_usesClipboardFallback = false;
    m_usedSelectAllRead = false;
    read.terminal = target.terminal || (read.info && read.info->kind == FieldKind::Terminal);

    if (apps::clipboardOnlyBundleIDs().contains(bundleID)) {
        read.info.reset();
        read.text.reset();
    }
    if (read.text)
        co_return read;

    // Fallback through the clipboard. The user's line is taken before anything is copied: the
    // copy may select the whole field.
    const auto probe = m_accessibilityService.probeFocusedElement(true);
    read.line = probe ? probe->line : std::nullopt;
    read.probeDescription = probe ? QStringLiteral("role=") + probe->role.value_or(QStringLiteral("nil")) +
                                        QStringLiteral(" hasSelection=") + flag(probe->hasSelection)
                                  : QStringLiteral("probe unavailable (focused element not reachable)");
    if (probe && probe->kind == FieldKind::Password) {
        read.password = true;
        co_return read;
    }
    read.terminal = read.terminal || (probe && probe->kind == FieldKind::Terminal);
    target.terminal = read.terminal;
    // Only a field is read, through the bus or the clipboard. Apps whose bus is known to say too
    // little are copied from as before, and so are terminals.
    const bool busTrusted = !apps::clipboardOnlyBundleIDs().contains(bundleID) &&
                            !apps::selectAllSafeBundleIDs().contains(bundleID);
    if (busTrusted && !read.terminal && (probe ? !probe->field : miss == Miss::NotAField)) {
        read.noField = true;
        co_return read;
    }
    const bool textRole = probe && (probe->kind == FieldKind::TextField || probe->kind == FieldKind::TextArea);
    const bool selectAllAllowed = !read.terminal && (textRole || apps::selectAllSafeBundleIDs().contains(bundleID));
    DiagLog::event(QStringLiteral("trigger fallback: AX nil → probe role=") +
                   (probe ? probe->role.value_or(QStringLiteral("nil")) : QStringLiteral("nil")) +
                   QStringLiteral(" hasSelection=") + flag(probe && probe->hasSelection) +
                   QStringLiteral(" selectAllAllowed=") + flag(selectAllAllowed));

    // A plain copy with nothing selected copies nothing, or (in editors) the current line: it is
    // only tried when something is selected or the selection cannot be known.
    const auto nothingSelected = [this] {
        const auto now = m_accessibilityService.probeFocusedElement();
        return now && now->selectionKnown && !now->hasSelection;
    };
    const auto ended = [&] { return generation != m_generation; };

    std::optional<QString> copied;
    if (probe && probe->hasSelection) {
        copied = co_await m_clipboardBridge.readSelectedText(false, target);
    } else if (selectAllAllowed) {
        copied = co_await m_clipboardBridge.readSelectedText(true, target);
        read.selectAllRead = copied.has_value();
    }
    if (!ended() && !copied) {
        if (nothingSelected()) {
            DiagLog::event(QStringLiteral("trigger fallback: nothing selected, plain copy skipped"));
        } else {
            copied = co_await m_clipboardBridge.readSelectedText(false, target);
            if (copied)
                read.selectAllRead = false;
        }
    }
    if (ended()) {
        // Cancelled while reading: give the user's clipboard back and leave everything else alone.
        if (copied)
            m_clipboardBridge.restoreOriginal();
        DiagLog::event(QStringLiteral("trigger ABORTED: run ended while reading the field"));
        read.ended = true;
        co_return read;
    }
    if (copied) {
        // The element focused once the copy is done (the caret has moved to its end): a later
        // select-all paste goes only into this field. Our clipboard is not being fetched now.
        read.copiedFrom = m_accessibilityService.focusedElement();
        read.text = copied;
        read.fromClipboard = true;
        read.info.reset();
        m_usesClipboardFallback = true;
        m_usedSelectAllRead = read.selectAllRead;
        DiagLog::event(QStringLiteral("trigger fallback: clipboard OK len=") +
                       QString::number(stores::graphemes::count(*copied)));
        m_usage.track(QStringLiteral("ax_fallback"),
                      {{QStringLiteral("kind"), read.selectAllRead ? QStringLiteral("clipboard+selectAll")
                                                                   : QStringLiteral("clipboard")}});
    } else {
        DiagLog::event(QStringLiteral("trigger fallback: clipboard nil as well"));
    }
    co_return read;
}

} // namespace corvane::trigger
