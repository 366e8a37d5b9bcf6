#pragma once
// The clipboard channel of the trigger pipeline: copies the focused field's text with synthetic
// key commands when accessibility cannot read it, pastes results back, and keeps the user's
// clipboard (every format, byte for byte) so that it can be put back. Main thread only; every
// wait suspends on the clock, none blocks the loop.
#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/KeySynth.h"
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::trigger {

class ClipboardBridge {
public:
    struct Snapshot {
        quint64 changeCount = 0;
        platform::ClipboardSnapshot items;
    };
    enum class PasteOutcome {
        Done,                // pasted (and, after a select-all, seen in the field)
        VerificationFailed,  // the field did not show the text, or could not be read, in two looks
        TargetUnavailable,   // the run's window is gone or not in front: nothing was typed
        FieldChanged,        // another field than the one read has the focus: nothing was pasted
    };

    static constexpr qint64 kKeyPauseMs = 20;
    static constexpr qint64 kCopyPollMs = 30;
    static constexpr int kCopyPolls = 20;
    static constexpr qint64 kAfterWriteMs = 30;
    static constexpr qint64 kAfterSelectAllMs = 180;
    static constexpr qint64 kFirstLookMs = 250;
    static constexpr qint64 kSecondLookMs = 400;
    static constexpr qint64 kModifierWaitMs = 1000;
    static constexpr qint64 kFetchWaitMs = 1000;

    ClipboardBridge(platform::Clipboard& clipboard, platform::KeySynth& keys, platform::Accessibility& accessibility,
                    platform::Clock& clock);

    // Copies the selection (with autoSelectAll, the whole field) of the target window's focused
    // field. The copied text, or nothing; the user's clipboard is back when nothing is returned.
    QCoro::Task<std::optional<QString>> readSelectedText(bool autoSelectAll, platform::KeyTarget target);
    // Pastes text into the target window's focused field, over the whole field with selectAllFirst
    // (then verified). With a field, a select-all paste goes on only while the bus shows that field
    // focused (or nothing). The text stays on the clipboard on every outcome.
    QCoro::Task<PasteOutcome> pasteText(QString text, bool selectAllFirst, platform::KeyTarget target,
                                        platform::ElementRef field = nullptr);
    // Puts back the clipboard saved by the last successful copy, unless the user has copied
    // something else since (a new owner that offers the text we copied is still our copy).
    void restoreOriginal();
    // Leaves text on the clipboard for the user; the saved clipboard is dropped.
    void putOnClipboard(const QString& text);

    bool hasPendingSnapshot() const { return m_pending.has_value(); }
    // What the last failed paste check saw, as lengths ("read length=N normalized=N target=N").
    const std::optional<QString>& lastVerifySnapshot() const { return m_lastVerifySnapshot; }

    // Without zero-width characters, white space, line breaks, and what the clipboard cannot carry.
    static QString normalized(const QString& s);

private:
    // A saved clipboard is pending and the clipboard still holds the text of our last copy.
    bool holdsOurCopy() const;
    Snapshot takeSnapshot() const;
    void restore(const Snapshot& snapshot);
    void write(const QString& text);
    QCoro::Task<bool> postKey(platform::KeyCommand command, platform::KeyTarget target);
    QCoro::Task<bool> verifyReplacement(QString text);

    platform::Clipboard& m_clipboard;
    platform::KeySynth& m_keys;
    platform::Accessibility& m_a11y;
    platform::Clock& m_clock;
    std::optional<Snapshot> m_pending;
    quint64 m_copiedChangeCount = 0;  // the clipboard's change count right after our last copy
    QString m_copiedText;             // the text of that copy
    std::optional<QString> m_lastVerifySnapshot;
};

} // namespace corvane::trigger
