#include "DesktopHarness.h"
#include <QCoreApplication>
#include <QDeadlineTimer>

namespace corvane::desktoptest {

bool TestApp::waitActive(platform::linux_::X11ActiveApp& activeApp, int timeoutMs) {
    return waitUntil(
        [&] {
            auto app = activeApp.frontmost();
            return app && app->pid == pid();
        },
        timeoutMs);
}

platform::ElementRef TestApp::waitFocused(platform::linux_::AtspiAccessibility& a11y, int timeoutMs) {
    platform::ElementRef found;
    waitUntil(
        [&] {
            // Toolkits mark the window's client area focused for a moment before the field inside
            // it: only a focused element that holds text or a number is the one a test is after.
            // It is checked on a handle of its own, so the one handed out has learnt nothing yet.
            const platform::ElementRef field = a11y.focusedElement();
            if (!field || a11y.processId(field) != pid() || !a11y.value(field))
                return false;
            found = a11y.focusedElement();
            return found && a11y.processId(found) == pid();
        },
        timeoutMs);
    return found && a11y.processId(found) == pid() ? found : nullptr;
}

platform::linux_::AtspiAccessibility::Limits patientLimits() {
    platform::linux_::AtspiAccessibility::Limits limits;
    limits.callTimeoutMs = 3000;
    limits.searchBudgetMs = 8000;
    return limits;
}

QString qtEditorPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/corvane_test_qt_editor"); }

} // namespace corvane::desktoptest
