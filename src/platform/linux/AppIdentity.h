#pragma once
// Who an X window belongs to: the application id and display name, from the window's
// properties, its process and the installed desktop files.
#include "platform/ActiveApp.h"
#include "platform/linux/DesktopEntries.h"

namespace corvane::platform::linux_ {

struct WindowFacts {
    quint64 windowId = 0;
    qint64 pid = 0;              // _NET_WM_PID
    QString gtkApplicationId;    // _GTK_APPLICATION_ID
    QString wmInstance;          // WM_CLASS, first string
    QString wmClass;             // WM_CLASS, second string
    bool operator==(const WindowFacts&) const = default;
};

struct SandboxFacts {
    QString flatpakId;
    QString snapName;
};

// Reads the sandbox of a process from procRoot ("/proc"): FLATPAK_ID or the app name in
// .flatpak-info for Flatpak, SNAP_INSTANCE_NAME or SNAP_NAME for Snap. Unreadable: nothing.
SandboxFacts readSandbox(qint64 pid, const QString& procRoot = QStringLiteral("/proc"));

// The app id is the Flatpak or Snap id, else the desktop-file id (_GTK_APPLICATION_ID, else a
// desktop file that names the window class), else the WM_CLASS class (else its instance).
// The display name comes from the desktop file, in the given locale; empty when there is none.
AppInfo resolveApp(const WindowFacts& window, const SandboxFacts& sandbox, DesktopEntryIndex& entries,
                   const QString& locale);

} // namespace corvane::platform::linux_
