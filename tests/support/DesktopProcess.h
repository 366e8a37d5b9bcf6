#pragma once
// Helpers for tests that drive a real X session from outside: waiting with the event loop running,
// and running the command-line tools (xdotool, xclip, xwininfo...) that stand in for the user.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <functional>

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

// Runs program to its end (killed after 10 s), feeding it input when given, and returns what it
// printed, untouched.
inline QString run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(program, args);
    if (!input.isNull()) {
        p.write(input);
        p.closeWriteChannel();
    }
    if (!p.waitForFinished(10000))
        p.kill();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace corvane::testsupport
