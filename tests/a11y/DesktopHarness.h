#pragma once
// Helpers for the desktop tests, which run inside tests/support/session.sh: real applications,
// real X server, real accessibility bus. Waits poll real state with a deadline; nothing here
// asserts how long anything took.
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11ActiveApp.h"
#include <QProcess>
#include <QStringList>
#include <functional>
#include <memory>

namespace corvane::desktoptest {

// Waits (running the event loop) until cond holds or timeoutMs passed; returns cond's last value.
bool waitUntil(const std::function<bool()>& cond, int timeoutMs = 10000);

// Runs xdotool with args and waits for it; true on exit status 0.
bool xdotool(const QStringList& args);
// Runs a command to completion, feeding input, while our event loop keeps running (it may be
// reading the clipboard from us); returns its standard output.
QByteArray run(const QString& program, const QStringList& args, const QByteArray& input = {}, int* status = nullptr);

// A program started for one test and stopped at its end.
class TestApp {
public:
    TestApp(const QString& program, const QStringList& args);
    ~TestApp();
    qint64 pid() const { return m_process->processId(); }
    QProcess& process() { return *m_process; }
    // Waits until the app's window is the active one; true when it is.
    bool waitActive(platform::linux_::X11ActiveApp& activeApp, int timeoutMs = 15000);
    // Waits until the app's focused element shows on the accessibility bus.
    platform::ElementRef waitFocused(platform::linux_::AtspiAccessibility& a11y, int timeoutMs = 15000);
    // Closes the app and collects its standard output.
    QByteArray finish(int timeoutMs = 5000);

private:
    std::unique_ptr<QProcess> m_process;
};

// Limits for a loaded test machine: apps that just started may answer slowly. A call that would
// hang (a deadlock) still fails, as it never answers at all.
platform::linux_::AtspiAccessibility::Limits patientLimits();

// Path of the test editor built next to the test executable.
QString qtEditorPath();

} // namespace corvane::desktoptest
