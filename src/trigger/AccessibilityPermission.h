#pragma once
// Corvane's own accessibility permission on this desktop: an X11 session with XInput2 and XTest,
// and the accessibility bus reachable and switched on. Every read asks the session again.
// Main thread only; writes no diagnostics line.
#include "platform/AccessibilityStatus.h"
#include <QObject>
#include <QString>
#include <optional>

namespace corvane::trigger {

class AccessibilityPermission : public QObject {
    Q_OBJECT
public:
    explicit AccessibilityPermission(platform::AccessibilityStatus& status, QObject* parent = nullptr);

    // The process instance. Until main wires one, an instance that reports "not trusted"
    // (no desktop wired) stands in, so early callers never crash.
    static AccessibilityPermission& shared();
    static void setShared(AccessibilityPermission* instance);

    bool isTrusted() const;
    // Why the permission is missing, as a sentence for the user; empty when trusted.
    QString reason() const;

    // When not trusted, asks the shell to show its permission prompt (promptRequested); changes
    // nothing by itself and does not wait for the user. Returns the trust state.
    bool prompt();
    // Whether the session's accessibility switch is all that is missing, so switching it on helps.
    bool canSwitchOn() const;
    // The prompt's answer: switches the session's accessibility on, and the desktop-wide setting
    // toolkits read at start, without waiting for the apps to follow. A missing X11 session or
    // extension is not ours to change. Returns the trust state afterwards.
    bool switchOn();
    // Opens the desktop's accessibility settings. Returns nothing when they opened, else a
    // sentence saying why not and what to do instead.
    std::optional<QString> openSettingsPane();

    struct ResetResult {
        bool ok = false;
        QString message;
    };
    // This desktop keeps no per-app grant records, so there is nothing to reset: the result
    // says so and nothing is run.
    ResetResult resetOwnRecords();
    // The clean-up flow of the menu and the settings window. There are no stale grant entries
    // to remove here; returns the sentence that explains it, for the caller's alert.
    std::optional<QString> runCleanupFlow();

Q_SIGNALS:
    // The session's accessibility state may have changed; callers re-read isTrusted().
    void changed();
    // prompt() was called while not trusted: the shell asks the user.
    void promptRequested();

private:
    platform::AccessibilityStatus& m_status;
};

} // namespace corvane::trigger
