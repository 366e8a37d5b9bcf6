#include "e2e/Desktop.h"
#include <QDir>
#include <QFile>
#include <QTest>

namespace corvane::e2e {

bool waitUntil(const std::function<bool()>& cond, int timeoutMs) { return QTest::qWaitFor(cond, timeoutMs); }

QByteArray run(const QString& program, const QStringList& args, int* status) {
    QProcess p;
    p.setProcessEnvironment(desktopEnvironment());
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        if (status)
            *status = -1;
        return {};
    }
    p.closeWriteChannel();
    // The event loop keeps running: the program may be asking us for something meanwhile.
    waitUntil([&] { return p.state() == QProcess::NotRunning; }, kPatienceMs);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(3000);
    }
    if (status)
        *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

bool xdotool(const QStringList& args) {
    int status = -1;
    run(QStringLiteral("xdotool"), args, &status);
    return status == 0;
}

bool pressKeys(const QStringList& keys) { return xdotool(QStringList{QStringLiteral("key")} + keys); }

bool clickAt(int x, int y) {
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(x), QString::number(y)}) &&
           xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

qint64 activeWindowPid() {
    int status = -1;
    const QByteArray out =
        run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowpid")}, &status);
    return status == 0 ? out.trimmed().toLongLong() : 0;
}

QString clipboardText() {
    return QString::fromUtf8(
        run(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}));
}

void screenshot(const QString& name) {
    const QString dir = QStringLiteral(CORVANE_E2E_ARTIFACTS);
    QDir().mkpath(dir);
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), dir + QLatin1Char('/') + name +
                                                                                          QStringLiteral(".png")});
}

QProcessEnvironment desktopEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

App::App(const QString& program, const QStringList& args, const QProcessEnvironment& env)
    : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(program, args);
    m_process->waitForStarted(10000);
}

App::~App() {
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

qint64 App::pid() const { return m_process->processId(); }

bool App::running() const { return m_process->state() == QProcess::Running; }

bool App::waitActive(int timeoutMs) {
    return waitUntil([this] { return running() && activeWindowPid() == pid(); }, timeoutMs);
}

QByteArray App::finish(int timeoutMs) {
    waitUntil([this] { return m_process->state() == QProcess::NotRunning; }, timeoutMs);
    return m_process->readAllStandardOutput();
}

std::unique_ptr<App> startGtkEntry(const QString& text) {
    return std::make_unique<App>(QStringLiteral("zenity"),
                                 QStringList{QStringLiteral("--entry"), QStringLiteral("--title=Corvane e2e entry"),
                                             QStringLiteral("--text=Message"), QStringLiteral("--entry-text=") + text});
}

std::unique_ptr<App> startQtEditor(const QStringList& args, const QProcessEnvironment& env) {
    return std::make_unique<App>(QStringLiteral(CORVANE_E2E_QT_EDITOR), args, env);
}

std::unique_ptr<App> startTerminal(const QString& inputLog) {
    // Raw mode: no line editing, no signals; each byte reaches cat (and the log) as it is typed.
    const QString reader = QStringLiteral("stty raw -echo; exec cat > '%1'").arg(inputLog);
    return std::make_unique<App>(QStringLiteral("xterm"),
                                 QStringList{QStringLiteral("-geometry"), QStringLiteral("80x12+80+480"),
                                             QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"), reader});
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

EditorFields readEditorDump(const QString& path) {
    const QByteArray bytes = readFile(path);
    const qsizetype split = bytes.indexOf('\0');
    if (split < 0)
        return {};
    return {QString::fromUtf8(bytes.left(split)), QString::fromUtf8(bytes.mid(split + 1))};
}

} // namespace corvane::e2e
