#pragma once
// Helpers for the desktop tests, which run inside tests/support/session.sh: real applications,
// real X server, real accessibility bus. Waits poll real state with a deadline; nothing here
// asserts how long anything took.
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11ActiveApp.h"
#include "support/DesktopProcess.h"
#include <QProcess>
#include <QStringList>
#include <functional>
#include <memory>

namespace corvane::desktoptest {

// The bound of every wait: generous, for a machine busy with other test sessions.
inline constexpr int kPatienceMs = 25000;

// Waits (running the event loop) until cond holds or timeoutMs passed; true when it held.
inline bool waitUntil(const std::function<bool()>& cond, int timeoutMs = kPatienceMs) {
    return testsupport::waitFor(cond, timeoutMs);
}

using testsupport::xdotool;
// Runs a command to completion, feeding input, while our event loop keeps running (it may be
// reading the clipboard from us); returns its standard output.
inline QByteArray run(const QString& program, const QStringList& args, const QByteArray& input = {},
                      int* status = nullptr) {
    return testsupport::runTool(program, args, input, status);
}

// A program started for one test and stopped at its end.
class TestApp : public testsupport::TestProcess {
public:
    using TestProcess::TestProcess;
    // Waits until the app's window is the active one; true when it is.
    bool waitActive(platform::linux_::X11ActiveApp& activeApp, int timeoutMs = kPatienceMs);
    // Waits until the app's focused field (an element holding text or a number) shows on the
    // accessibility bus.
    platform::ElementRef waitFocused(platform::linux_::AtspiAccessibility& a11y, int timeoutMs = kPatienceMs);
    // Closes the app and collects its standard output.
    QByteArray finish(int timeoutMs = kPatienceMs) { return TestProcess::finish(timeoutMs); }
};

// Limits for a loaded test machine: apps that just started may answer slowly. A call that would
// hang (a deadlock) still fails, as it never answers at all.
platform::linux_::AtspiAccessibility::Limits patientLimits();

// Path of the test editor built next to the test executable.
QString qtEditorPath();

} // namespace corvane::desktoptest
