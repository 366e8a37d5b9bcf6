#include "DesktopHarness.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

namespace corvane::desktoptest {

bool waitUntil(const std::function<bool()>& cond, int timeoutMs) {
    return QTest::qWaitFor(cond, timeoutMs);
}

QByteArray run(const QString& program, const QStringList& args, const QByteArray& input, int* status) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000)) {
        if (status)
            *status = -1;
        return {};
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    // Keep our event loop running: the command may be reading the clipboard from us.
    waitUntil([&] { return p.state() == QProcess::NotRunning; }, 10000);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (status)
        *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

bool xdotool(const QStringList& args) {
    int status = -1;
    run(QStringLiteral("xdotool"), args, {}, &status);
    return status == 0;
}

TestApp::TestApp(const QString& program, const QStringList& args) : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(program, args);
    m_process->waitForStarted(5000);
}

TestApp::~TestApp() {
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

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

QByteArray TestApp::finish(int timeoutMs) {
    waitUntil([&] { return m_process->state() == QProcess::NotRunning; }, timeoutMs);
    return m_process->readAllStandardOutput();
}

platform::linux_::AtspiAccessibility::Limits patientLimits() {
    platform::linux_::AtspiAccessibility::Limits limits;
    limits.callTimeoutMs = 3000;
    limits.searchBudgetMs = 8000;
    return limits;
}

QString qtEditorPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/corvane_test_qt_editor"); }

} // namespace corvane::desktoptest
