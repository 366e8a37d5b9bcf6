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

    // When not trusted, offers what can be switched on from here (the session's accessibility
    // switch) without waiting for the apps to follow. Returns the trust state afterwards.
    bool prompt();
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

private:
    platform::AccessibilityStatus& m_status;
};

} // namespace corvane::trigger
