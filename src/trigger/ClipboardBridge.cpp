#include "trigger/ClipboardBridge.h"
#include "stores/Graphemes.h"
#include "trigger/AccessibilityService.h"
#include "trigger/TextMetrics.h"

namespace corvane::trigger {

using platform::KeyCommand;

ClipboardBridge::ClipboardBridge(platform::Clipboard& clipboard, platform::KeySynth& keys,
                                 platform::Accessibility& accessibility, platform::Clock& clock)
    : m_clipboard(clipboard), m_keys(keys), m_a11y(accessibility), m_clock(clock) {}

ClipboardBridge::Snapshot ClipboardBridge::takeSnapshot() const {
    Snapshot s;
    s.items = m_clipboard.snapshot();
    s.changeCount = m_clipboard.changeCount();
    return s;
}

void ClipboardBridge::restore(const Snapshot& snapshot) {
    if (snapshot.items.isEmpty())
        return;
    m_clipboard.restore(snapshot.items);
}

void ClipboardBridge::write(const QString& text) { m_clipboard.setText(text); }

QCoro::Task<bool> ClipboardBridge::postKey(KeyCommand command, platform::KeyTarget target) {
    // Keys the user still holds would combine with ours (Ctrl+C would become Ctrl+Alt+C).
    for (qint64 waited = 0; m_keys.modifiersHeld(); waited += kKeyPauseMs) {
        if (waited >= kModifierWaitMs)
            co_return false;
        co_await m_clock.sleep(kKeyPauseMs);
    }
    const bool sent = m_keys.send(command, target);
    // One pause after the key-down and one after the key-up.
    co_await m_clock.sleep(2 * kKeyPauseMs);
    co_return sent;
}

bool ClipboardBridge::holdsOurCopy() const {
    if (!m_pending)
        return false;
    // A clipboard manager takes over what was copied a moment later: a new owner with the same text.
    return m_clipboard.changeCount() == m_copiedChangeCount || m_clipboard.text() == m_copiedText;
}

QCoro::Task<std::optional<QString>> ClipboardBridge::readSelectedText(bool autoSelectAll, platform::KeyTarget target) {
    const bool heldOurCopy = holdsOurCopy();
    const Snapshot snapshot = takeSnapshot();
    if (autoSelectAll) {
        const bool selected = co_await postKey(KeyCommand::SelectAll, target);
        if (!selected)
            co_return std::nullopt;
    }
    const bool copySent = co_await postKey(KeyCommand::Copy, target);
    if (!copySent)
        co_return std::nullopt;
    for (int i = 0; i < kCopyPolls && m_clipboard.changeCount() == snapshot.changeCount; ++i)
        co_await m_clock.sleep(kCopyPollMs);

    const bool changed = m_clipboard.changeCount() != snapshot.changeCount;
    const QString copied = changed ? m_clipboard.text() : QString();
    if (copied.isEmpty()) {
        // Nothing to put back when the clipboard never moved.
        if (changed)
            restore(snapshot);
        co_return std::nullopt;
    }
    // While the clipboard still holds our previous copy, the user's own clipboard is the one saved
    // before that copy: keep it rather than saving our copied text.
    if (!heldOurCopy)
        m_pending = snapshot;
    m_copiedChangeCount = m_clipboard.changeCount();
    m_copiedText = copied;
    if (autoSelectAll)
        co_await postKey(KeyCommand::CollapseSelection, target);
    co_return copied;
}

QCoro::Task<ClipboardBridge::PasteOutcome> ClipboardBridge::pasteText(QString text, bool selectAllFirst,
                                                                      platform::KeyTarget target,
                                                                      platform::ElementRef field) {
    write(text);
    m_pending.reset();
    co_await m_clock.sleep(kAfterWriteMs);
    // Select-all + paste replaces a whole field: never another one than the field the run read.
    // Both looks come before Ctrl+V, while the target is not fetching our clipboard.
    const auto focusMoved = [&] { return selectAllFirst && AccessibilityService(m_a11y).focusMovedFrom(field); };
    if (selectAllFirst) {
        if (focusMoved())
            co_return PasteOutcome::FieldChanged;
        const bool selected = co_await postKey(KeyCommand::SelectAll, target);
        if (!selected)
            co_return PasteOutcome::TargetUnavailable;
        co_await m_clock.sleep(kAfterSelectAllMs);
        if (focusMoved())
            co_return PasteOutcome::FieldChanged;
    }
    const quint64 fetchesBefore = m_clipboard.fetchCount();
    const bool pasted = co_await postKey(KeyCommand::Paste, target);
    if (!pasted)
        co_return PasteOutcome::TargetUnavailable;
    // The target reads our clipboard synchronously: no accessibility call may go into it (ours, or
    // the next run's) before it has fetched the data, or both sides hang.
    for (qint64 waited = 0; m_clipboard.fetchCount() == fetchesBefore && waited < kFetchWaitMs; waited += kKeyPauseMs)
        co_await m_clock.sleep(kKeyPauseMs);
    co_await m_clock.sleep(kKeyPauseMs);
    if (!selectAllFirst)
        co_return PasteOutcome::Done;
    const bool verified = co_await verifyReplacement(std::move(text));
    co_return verified ? PasteOutcome::Done : PasteOutcome::VerificationFailed;
}

QCoro::Task<bool> ClipboardBridge::verifyReplacement(QString text) {
    // Only a look that shows the text confirms the paste: a field that cannot be read confirms nothing.
    // What was seen is kept as lengths only, never as the field's text.
    m_lastVerifySnapshot.reset();
    const QString target = normalized(text);
    const QString targetLength = QString::number(stores::graphemes::count(target));
    const qint64 waits[] = {kFirstLookMs, kSecondLookMs};
    for (const qint64 wait : waits) {
        co_await m_clock.sleep(wait);
        AccessibilityService service(m_a11y);
        const auto value = service.focusedElementValue();
        if (!value) {
            m_lastVerifySnapshot = QStringLiteral("field unreadable target=") + targetLength;
            continue;
        }
        const QString got = normalized(*value);
        if (got == target)
            co_return true;
        if (got.contains(target) && stores::graphemes::count(got) - stores::graphemes::count(target) <= 20)
            co_return true;
        m_lastVerifySnapshot = QStringLiteral("read length=") + QString::number(stores::graphemes::count(*value)) +
                               QStringLiteral(" normalized=") + QString::number(stores::graphemes::count(got)) +
                               QStringLiteral(" target=") + targetLength;
    }
    co_return false;
}

void ClipboardBridge::restoreOriginal() {
    if (!m_pending)
        return;
    const Snapshot saved = std::move(*m_pending);
    // Never overwrite what the user copied after our copy.
    const bool ours = holdsOurCopy();
    m_pending.reset();
    if (ours)
        restore(saved);
}

void ClipboardBridge::putOnClipboard(const QString& text) {
    write(text);
    m_pending.reset();
}

QString ClipboardBridge::normalized(const QString& s) {
    // What the clipboard cannot carry is left out on both sides too: a surrogate without its
    // partner, which reaches the field as U+FFFD or not at all.
    const QString carried = text::writable(s);
    QString out;
    out.reserve(carried.size());
    for (const QChar c : carried) {
        switch (c.unicode()) {
        case 0x200B: case 0x200C: case 0x200D: case 0x2060: case 0xFEFF: case 0xFFFD:
            continue;
        default:
            break;
        }
        if (!c.isSpace())
            out.append(c);
    }
    return out;
}

} // namespace corvane::trigger
