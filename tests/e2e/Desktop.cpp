#include "e2e/Desktop.h"
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <csignal>

namespace corvane::e2e {

QByteArray run(const QString& program, const QStringList& args, int* status) {
    return testsupport::runTool(program, args, {}, status, desktopEnvironment(), kPatienceMs);
}

bool pressKeys(const QStringList& keys) { return xdotool(QStringList{QStringLiteral("key")} + keys); }

bool waitPromptly(const std::function<bool()>& cond, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick; // a loop that never slept would take a core from the desktop and slow every process
    tick.start(2);
    while (!cond()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool pressKeysPromptly(const QStringList& keys) {
    QProcess xdotool;
    xdotool.setProcessEnvironment(desktopEnvironment());
    xdotool.start(QStringLiteral("xdotool"), QStringList{QStringLiteral("key")} + keys);
    return xdotool.waitForStarted(10000) &&
           waitPromptly([&] { return xdotool.state() == QProcess::NotRunning; }, 10000) &&
           xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

bool clickAt(int x, int y) {
    // A synchronous move to where the pointer already is waits for a motion that never comes.
    const QByteArray at = run(QStringLiteral("xdotool"), {QStringLiteral("getmouselocation")});
    const bool there = at.startsWith(QStringLiteral("x:%1 y:%2 ").arg(x).arg(y).toLatin1());
    return (there ||
            xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(x), QString::number(y)})) &&
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

bool setClipboardText(const QString& text) {
    int status = -1;
    testsupport::runTool(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")},
                         text.toUtf8(), &status, desktopEnvironment(), kPatienceMs);
    return status == 0 && waitUntil([&] { return clipboardText() == text; });
}

QString activeWindowTitle() {
    return QString::fromUtf8(
        run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}).trimmed());
}

QString activeWindowId() {
    return QString::fromUtf8(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")})).trimmed();
}

QRect activeWindowRect() {
    const QString info = QString::fromUtf8(run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), activeWindowId()}));
    const auto value = [&](const char* key) {
        return info.section(QLatin1String(key), 1).section(QLatin1Char('\n'), 0, 0).trimmed().toInt();
    };
    return {value("Absolute upper-left X:"), value("Absolute upper-left Y:"), value("Width:"), value("Height:")};
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

std::unique_ptr<App> startInaccessibleChat(const QString& appId, const QString& text) {
    static const char* const script = R"(
import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
app = Gtk.Application(application_id=sys.argv[1])
def activate(app):
    win = Gtk.ApplicationWindow(application=app, title="Corvane e2e chat")
    entry = Gtk.Entry(text=sys.argv[2])
    def done(entry):
        print(entry.get_text(), flush=True)
        app.quit()
    entry.connect("activate", done)
    win.add(entry)
    win.show_all()
app.connect("activate", activate)
app.run([])
)";
    QProcessEnvironment env = desktopEnvironment();
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    return std::make_unique<App>(QStringLiteral("/usr/bin/python3"),
                                 QStringList{QStringLiteral("-c"), QString::fromUtf8(script), appId, text}, env);
}

namespace {
// The processes of this session's accessibility bus.
QList<pid_t> accessibilityBusProcesses() {
    const QByteArray runtime = "XDG_RUNTIME_DIR=" + qgetenv("XDG_RUNTIME_DIR");
    QList<pid_t> out;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly) || !environ.open(QIODevice::ReadOnly))
            continue;
        const QByteArray command = cmdline.readAll();
        const bool bus = command.contains("at-spi-bus-launcher") || command.contains("at-spi2-registryd") ||
                         (command.contains("dbus-daemon") && command.contains("at-spi2"));
        if (bus && environ.readAll().split('\0').contains(runtime))
            out.append(pid);
    }
    return out;
}
} // namespace

bool stopAccessibilityBus() {
    const QList<pid_t> pids = accessibilityBusProcesses();
    for (const pid_t pid : pids)
        ::kill(pid, SIGKILL);
    // Anyone asking for the bus's address meanwhile (corvane included) starts a new one: wait for the
    // killed processes only.
    return !pids.isEmpty() && waitUntil([&] {
        const QList<pid_t> now = accessibilityBusProcesses();
        return std::none_of(pids.begin(), pids.end(), [&](pid_t pid) { return now.contains(pid); });
    });
}

bool startAccessibilityBus() {
    const auto ask = [](const QStringList& args) {
        int status = -1;
        run(QStringLiteral("dbus-send"), QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                                     QStringLiteral("--dest=org.a11y.Bus"),
                                                     QStringLiteral("/org/a11y/bus")} + args,
            &status);
        return status == 0;
    };
    return waitUntil([&] { return ask({QStringLiteral("org.a11y.Bus.GetAddress")}); }) &&
           ask({QStringLiteral("org.freedesktop.DBus.Properties.Set"), QStringLiteral("string:org.a11y.Status"),
                QStringLiteral("string:IsEnabled"), QStringLiteral("variant:boolean:true")});
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

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

DesktopApp textEditorApp() {
    DesktopApp app{"TextEditor", "gnome-text-editor", QStringLiteral("Text Editor"), false, [](const QString&) {
                       return std::make_unique<App>(QStringLiteral("gnome-text-editor"),
                                                    QStringList{QStringLiteral("--standalone"),
                                                                QStringLiteral("--ignore-session"),
                                                                QStringLiteral("--new-window")});
                   }};
    // The user writes in the first window, then opens a second one: GTK 4 marks that one neither
    // active nor showing. It opens away from the screen's corner, and GTK 4 gives its fields' places
    // in window coordinates: the panel shows whether they were placed on the screen.
    app.prepare = [] {
        const QString first = activeWindowId();
        return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), QStringLiteral("First")}) &&
               waitUntil([] { return activeWindowTitle().startsWith(QStringLiteral("First")); }) &&
               pressKeys({QStringLiteral("ctrl+n")}) &&
               waitUntil([&] { return !activeWindowId().isEmpty() && activeWindowId() != first; }) &&
               !activeWindowRect().topLeft().isNull();
    };
    return app;
}

DesktopApp writerApp() {
    return {"Writer", "LibreOffice Writer", QStringLiteral("LibreOffice Writer"), false, [](const QString& dir) {
                // A fresh profile that starts without the tip of the day, and no word completion
                // that would add to what the test types.
                writeFile(dir + QStringLiteral("/user/registrymodifications.xcu"), R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/AutoFunction/Completion"><prop oor:name="Enable" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Setup/Product"><prop oor:name="ooSetupLastVersion" oor:op="fuse"><value>99.0</value></prop></item>
</oor:items>
)");
                QProcessEnvironment env = desktopEnvironment();
                env.insert(QStringLiteral("SAL_USE_VCLPLUGIN"), QStringLiteral("gtk3")); // the one with accessibility
                return std::make_unique<App>(QStringLiteral("soffice"),
                                             QStringList{QStringLiteral("-env:UserInstallation=file://") + dir,
                                                         QStringLiteral("--writer"), QStringLiteral("--norestore"),
                                                         QStringLiteral("--nologo")},
                                             env);
            }};
}

std::unique_ptr<App> startFirefox(const QString& dir, const QByteArray& page) {
    writeFile(dir + QStringLiteral("/profile/user.js"), R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
user_pref("browser.sessionstore.resume_from_crash", false);
)");
    writeFile(dir + QStringLiteral("/page.html"), page);
    return std::make_unique<App>(QStringLiteral("firefox-esr"),
                                 QStringList{QStringLiteral("--no-remote"), QStringLiteral("--profile"),
                                             dir + QStringLiteral("/profile"),
                                             QStringLiteral("file://") + dir + QStringLiteral("/page.html")});
}

std::unique_ptr<App> startThunderbirdCompose(const QString& dir, const QByteArray& bodyHtml) {
    writeFile(dir + QStringLiteral("/profile/user.js"), R"(user_pref("mail.shell.checkDefaultClient", false);
user_pref("mail.accountmanager.accounts", "account1");
user_pref("mail.account.account1.identities", "id1");
user_pref("mail.account.account1.server", "server1");
user_pref("mail.server.server1.type", "pop3");
user_pref("mail.server.server1.hostname", "127.0.0.1");
user_pref("mail.server.server1.port", 1);
user_pref("mail.server.server1.userName", "test");
user_pref("mail.server.server1.login_at_startup", false);
user_pref("mail.identity.id1.useremail", "test@example.org");
user_pref("mail.identity.id1.compose_html", true);
)");
    const QString body = dir + QStringLiteral("/body.html");
    writeFile(body, bodyHtml);
    return std::make_unique<App>(QStringLiteral("thunderbird"),
                                 QStringList{QStringLiteral("--no-remote"), QStringLiteral("--profile"),
                                             dir + QStringLiteral("/profile"), QStringLiteral("-compose"),
                                             QStringLiteral("to=team@example.org,subject=Launch,format=html,message=") +
                                                 body});
}

DesktopApp firefoxTextAreaApp() {
    return {"Firefox", "Firefox ESR text area", QStringLiteral("Corvane notes"), true, [](const QString& dir) {
                return startFirefox(dir, "<!doctype html><html><head><meta charset=\"utf-8\"><title>Corvane notes</title></head>"
                                         "<body><textarea autofocus rows=\"8\" cols=\"70\" "
                                         "oninput=\"document.title = 'Corvane notes: ' + this.value\"></textarea></body></html>\n");
            }};
}

DesktopApp gtk3TextViewApp() {
    return {"Gtk3TextView", "GTK 3 text view", QStringLiteral("Corvane e2e text"), false, [](const QString& dir) {
                const QString path = dir + QStringLiteral("/text.txt");
                writeFile(path, {});
                return std::make_unique<App>(QStringLiteral("zenity"),
                                             QStringList{QStringLiteral("--text-info"), QStringLiteral("--editable"),
                                                         QStringLiteral("--title=Corvane e2e text"),
                                                         QStringLiteral("--filename=") + path});
            }};
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
