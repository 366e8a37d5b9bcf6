#pragma once
// Helpers for driving real applications inside the headless test session (tests/support/session.sh):
// external tools, waits that poll real state with the event loop running, screenshots, and the
// applications the scenarios type into. Nothing here measures or asserts how long anything took.
#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include "support/DesktopProcess.h"
#include <functional>
#include <memory>
#include <ostream>

namespace corvane::e2e {

// The bound of every wait: generous, for a machine busy with other test sessions.
inline constexpr int kPatienceMs = 25000;

// Runs the event loop until cond holds or timeoutMs passed; true when it held.
inline bool waitUntil(const std::function<bool()>& cond, int timeoutMs = kPatienceMs) {
    return testsupport::waitFor(cond, timeoutMs);
}

// For stamps taken in this process: runs the event loop until cond holds or timeoutMs passed. The
// loop sleeps in the kernel and wakes at once for the X server's events and the bytes of processes
// and sockets (so their handlers stamp on time), and looks at cond every 2 ms meanwhile.
bool waitPromptly(const std::function<bool()>& cond, int timeoutMs);
// xdotool presses the keys, waited for promptly.
bool pressKeysPromptly(const QStringList& keys);

// Runs a program to completion (event loop running meanwhile); its standard output.
QByteArray run(const QString& program, const QStringList& args, int* status = nullptr);
using testsupport::xdotool;
// Presses the keys one after the other ("space", "ctrl+a", ...).
bool pressKeys(const QStringList& keys);
// Moves the real pointer to (x, y) and clicks the left button there.
bool clickAt(int x, int y);
// The process id of the active window's owner, or 0.
qint64 activeWindowPid();
// The text owned by the CLIPBOARD selection.
QString clipboardText();
// The user copies text: xclip owns the CLIPBOARD selection with it (in the background).
bool setClipboardText(const QString& text);
// The title of the active window ("" when none).
QString activeWindowTitle();
// The id of the active window ("" when none), and where it lies on the screen.
QString activeWindowId();
QRect activeWindowRect();

// Saves a picture of the whole screen as <artifacts>/<name>.png.
void screenshot(const QString& name);

// The environment that desktop programs are started with: the session's, without the settings
// that only this test process runs with.
QProcessEnvironment desktopEnvironment();

// A program started for one scenario and stopped at its end.
class App : public testsupport::TestProcess {
public:
    App(const QString& program, const QStringList& args, const QProcessEnvironment& env = desktopEnvironment())
        : TestProcess(program, args, env) {}
    // Waits until one of the app's windows is the active one.
    bool waitActive(int timeoutMs = kPatienceMs);
    // Waits for the app to exit by itself; its standard output.
    QByteArray finish(int timeoutMs = kPatienceMs) { return TestProcess::finish(timeoutMs); }
};

// A GTK text entry (zenity --entry). It prints the entry's text when the user presses Return.
std::unique_ptr<App> startGtkEntry(const QString& text);
// A GTK chat window known by its application id that shows nothing on the accessibility bus (as
// many chat apps do). It prints the entry's text when the user presses Return.
std::unique_ptr<App> startInaccessibleChat(const QString& appId, const QString& text);

// Stops the session's accessibility bus (launcher, bus daemon and registry) as a crash would; true
// once all of them are gone. Applications that were on it stay on the dead bus.
bool stopAccessibilityBus();
// Starts the accessibility bus again as any client does, by asking the session bus for its address,
// and switches accessibility on; true once it hands out an address.
bool startAccessibilityBus();
// The tests' Qt editor; with dumpPath it writes both fields there after every change.
std::unique_ptr<App> startQtEditor(const QStringList& args, const QProcessEnvironment& env = desktopEnvironment());
// An xterm whose shell is replaced by a raw reader: every byte that reaches the terminal's input
// (typed, pasted, or a control key such as Ctrl+C) is appended to inputLog as it arrives.
std::unique_ptr<App> startTerminal(const QString& inputLog);

// The applications people type in most, each with a fresh profile under dir. Their windows belong
// to other processes than the one started (LibreOffice), so wait for them by title.
struct DesktopApp {
    const char* id;   // the test's name for it
    const char* name;
    QString title; // a part of the window title once the field has the keyboard
    // Its bus reports writes as done that change nothing (Firefox), so Replace pastes, and the
    // result stays on the clipboard as after every paste. Its window title shows the field's text.
    bool pastes = false;
    std::function<std::unique_ptr<App>(const QString& dir)> start;
    // What the user does once its window is up, before the scenario; true when it worked.
    std::function<bool()> prepare = {};
};
inline void PrintTo(const DesktopApp& app, std::ostream* os) { *os << app.name; }
// gnome-text-editor (GTK 4) in a second window (Ctrl+N) away from the screen's corner, LibreOffice
// Writer, a text area of a local page in Firefox ESR, and a GTK 3 text view (zenity --text-info
// --editable).
DesktopApp textEditorApp();
// Firefox ESR on a local page (written to dir) with a fresh profile.
std::unique_ptr<App> startFirefox(const QString& dir, const QByteArray& page);
// Thunderbird's HTML compose window, its body the given HTML, with a fresh profile that has one
// local identity (it neither sends nor fetches anything).
std::unique_ptr<App> startThunderbirdCompose(const QString& dir, const QByteArray& bodyHtml);
DesktopApp writerApp();
DesktopApp firefoxTextAreaApp();
DesktopApp gtk3TextViewApp();

// Reads a whole file ("" when it is missing); writes one whole, with the folders it needs.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

// The two fields of the Qt editor as its dump file last showed them.
struct EditorFields {
    QString line;
    QString plain;
    bool operator==(const EditorFields&) const = default;
};
EditorFields readEditorDump(const QString& path);

} // namespace corvane::e2e
