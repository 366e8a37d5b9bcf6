#pragma once
// Helpers for tests that drive a real X session from outside: waiting with the event loop running,
// and running the command-line tools (xdotool, xclip, xwininfo...) that stand in for the user.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>
#include <functional>
#include <memory>

namespace corvane::testsupport {

// Lets the event loop run until pred holds (true) or timeoutMs have passed (false).
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

// Lets the event loop run for ms.
inline void settle(int ms) {
    waitFor([] { return false; }, ms);
}

// Runs program to its end (killed after timeoutMs), feeding it input when given, with our event
// loop running meanwhile (the program may be asking us for the clipboard). Its standard output,
// untouched; *status is its exit code, or -1 when it did not start or did not end normally.
inline QByteArray runTool(const QString& program, const QStringList& args, const QByteArray& input = {},
                          int* status = nullptr,
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                          int timeoutMs = 30000) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(timeoutMs)) {
        if (status)
            *status = -1;
        return {};
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    waitFor([&] { return p.state() == QProcess::NotRunning; }, timeoutMs);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(3000);
    }
    if (status)
        *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

inline QString run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    return QString::fromUtf8(runTool(program, args, input));
}

// xdotool with args; true on exit status 0. Keys go through XTest, as a user's would.
inline bool xdotool(const QStringList& args) {
    int status = -1;
    runTool(QStringLiteral("xdotool"), args, {}, &status);
    return status == 0;
}

// A program started for one test and stopped (terminated, then killed) at its end.
class TestProcess {
public:
    TestProcess(const QString& program, const QStringList& args,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
        : m_process(std::make_unique<QProcess>()) {
        m_process->setProcessEnvironment(env);
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->start(program, args);
        m_process->waitForStarted(10000);
    }
    ~TestProcess() {
        if (m_process->state() == QProcess::NotRunning)
            return;
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    qint64 pid() const { return m_process->processId(); }
    bool running() const { return m_process->state() == QProcess::Running; }
    QProcess& process() { return *m_process; }
    // Waits for the program to end by itself; its standard output.
    QByteArray finish(int timeoutMs) {
        waitFor([this] { return m_process->state() == QProcess::NotRunning; }, timeoutMs);
        return m_process->readAllStandardOutput();
    }

private:
    std::unique_ptr<QProcess> m_process;
};

} // namespace corvane::testsupport
