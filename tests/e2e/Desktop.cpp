#include "e2e/Desktop.h"
#include <QDir>
#include <QFile>

namespace corvane::e2e {

QByteArray run(const QString& program, const QStringList& args, int* status) {
    return testsupport::runTool(program, args, {}, status, desktopEnvironment(), kPatienceMs);
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

bool App::waitActive(int timeoutMs) {
    return waitUntil([this] { return running() && activeWindowPid() == pid(); }, timeoutMs);
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
