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
