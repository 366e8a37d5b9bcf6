// The shell in a private session: the tray menu as a StatusNotifierItem host reads it over D-Bus,
// the status line across an accessibility switch, one instance per session, SIGTERM, and the menu
// opened by a left click on an XEmbed tray icon.
#include "e2e/CorvaneProcess.h"
#include "e2e/Desktop.h"
#include "e2e/ScenarioFixture.h"
#include "e2e/TrayHost.h"
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <gtest/gtest.h>
#include <optional>

namespace corvane::e2e {

namespace {

// Whether accessibility is switched on, as the session's accessibility bus says now.
bool accessibilityOn() {
    QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled")});
    return QDBusConnection::sessionBus().call(get, QDBus::Block, 3000).arguments().value(0).value<QDBusVariant>().variant().toBool();
}

void setAccessibility(bool on) {
    QDBusMessage set = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Set"));
    set.setArguments({QStringLiteral("org.a11y.Status"), QStringLiteral("IsEnabled"),
                      QVariant::fromValue(QDBusVariant(on))});
    QDBusConnection::sessionBus().call(set, QDBus::Block, 3000);
}

const QString kListening = QStringLiteral("Status: Listening ✓|1|0");
const QString kNotGranted = QStringLiteral("⚠️ Accessibility not granted — click to grant|1|1");

} // namespace

TEST(ShellDesktop, MenuOverStatusNotifierFollowsTheAccessibilitySwitch) {
    TestWatcher watcher;
    ASSERT_TRUE(watcher.publish());
    CorvaneProcess corvane({});
    QString why;
    ASSERT_TRUE(corvane.start(&why)) << why.toStdString();
    ASSERT_TRUE(waitUntil([&] { return exportedMenu(watcher).value(0) == kListening; }))
        << exportedMenu(watcher).join(QLatin1Char('\n')).toStdString();
    const QStringList listening = exportedMenu(watcher);
    EXPECT_EQ(listening.mid(1),
              (QStringList{QStringLiteral("-"), QStringLiteral("Re-open Permission Prompt|0|0"),
                           QStringLiteral("Clean Up Stale Authorization Entries…|0|0"),
                           QStringLiteral("Process Selected Text|1|1"), QStringLiteral("Activity Log|1|1"),
                           QStringLiteral("Send Feedback…|1|1"), QStringLiteral("Version " CORVANE_VERSION "|1|0"),
                           QStringLiteral("Check for Updates…|1|1"), QStringLiteral("Open Settings…|1|1"),
                           QStringLiteral("-"), QStringLiteral("Quit Corvane|1|1")}))
        << listening.join(QLatin1Char('\n')).toStdString();

    // Losing accessibility asks in the prompt window and switches nothing back by itself; the menu
    // says so and offers the permission items.
    setAccessibility(false);
    ASSERT_TRUE(waitUntil([&] { return corvane.diagHas(QStringLiteral("AX NOT trusted")); }));
    ASSERT_TRUE(waitUntil([&] { return exportedMenu(watcher).value(0) == kNotGranted; }))
        << exportedMenu(watcher).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(exportedMenu(watcher).value(2), QStringLiteral("Re-open Permission Prompt|1|1"));
    // Corvane has handled the switch: a switch back would have reached the bus before this question.
    EXPECT_FALSE(accessibilityOn()) << "switched back on without asking";
    EXPECT_EQ(exportedMenu(watcher).value(0), kNotGranted);
    const qsizetype startsBefore = corvane.diagLog().count(QStringLiteral("monitor STARTED"));
    setAccessibility(true);
    ASSERT_TRUE(waitUntil([&] { return exportedMenu(watcher).value(0) == kListening; }));
    // The log is appended by its own thread, so its line may land after the menu changed.
    const auto starts = [&] { return corvane.diagLog().count(QStringLiteral("monitor STARTED")); };
    EXPECT_TRUE(waitUntil([&] { return starts() > startsBefore; })) << corvane.diagLog().toStdString();
    // A second start is handled after every change of the bus that came before it, and its line
    // is written after theirs.
    EXPECT_EQ(corvane.startSecondInstance(), 0);
    EXPECT_TRUE(waitUntil([&] { return corvane.diagHas(QStringLiteral("Second start asked for the settings window")); }));
    EXPECT_EQ(starts(), startsBefore + 1) << corvane.diagLog().toStdString(); // one attempt
    EXPECT_EQ(corvane.terminateAndWait(), 0);
}

TEST(ShellDesktop, OneInstanceLeftClickMenuAndSigterm) {
    CorvaneProcess corvane({});
    QString why;
    ASSERT_TRUE(corvane.start(&why)) << why.toStdString();
    EXPECT_EQ(corvane.startSecondInstance(), 0);
    EXPECT_TRUE(waitUntil([&] { return corvane.diagHas(QStringLiteral("Second start asked for the settings window")); }));
    EXPECT_TRUE(corvane.running());
    EXPECT_EQ(corvane.diagLog().count(QStringLiteral("App launching")), 1);

    // The XEmbed tray of the session (trayer, top right, icons docked at its right end): a left
    // click opens the menu.
    const QStringList screen = QString::fromUtf8(run(QStringLiteral("xdotool"), {QStringLiteral("getdisplaygeometry")}))
                                   .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_EQ(screen.size(), 2);
    const auto shownWindows = [&] {
        return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                               QString::number(corvane.pid())})
            .count('\n');
    };
    const qsizetype shownBefore = shownWindows();
    clickAt(screen[0].toInt() - 12, 12);
    EXPECT_TRUE(waitUntil([&] { return shownWindows() > shownBefore; })) << "no menu opened";
    screenshot(QStringLiteral("shell-tray-menu-xembed"));
    pressKeys({QStringLiteral("Escape")});
    EXPECT_EQ(corvane.terminateAndWait(), 0);
    EXPECT_TRUE(corvane.diagHas(QStringLiteral("Signal 15: quitting")));
}

class ShellRun : public Scenario {};

TEST_F(ShellRun, TheActivityLogWindowShowsARunWhileOpen) {
    TestWatcher watcher;
    ASSERT_TRUE(watcher.publish());
    server.respond(streamedAnswer({QStringLiteral("Polished "), QStringLiteral("text.")}, 50));
    startCorvane();
    ASSERT_TRUE(waitUntil([&] { return !exportedMenu(watcher).isEmpty(); }));
    auto entry = startGtkEntry(QStringLiteral("some text to polish"));
    ASSERT_TRUE(entry->waitActive()) << "zenity did not come up";

    ASSERT_TRUE(clickExportedEntry(watcher, QStringLiteral("Activity Log")));
    ASSERT_TRUE(waitUntil([&] { return panel->shows(QStringLiteral("0 entries")); })) << context();
    // A triple space typed in Corvane's own window starts no run against Corvane itself.
    ASSERT_TRUE(waitUntil([&] { return activeWindowPid() == corvane->pid(); }));
    tripleSpace();
    EXPECT_TRUE(waitUntil([&] { return corvane->diagHas(QStringLiteral("IGNORED: Corvane's own window is frontmost")); }))
        << context();
    ASSERT_TRUE(xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("Corvane e2e entry"),
                         QStringLiteral("windowactivate"), QStringLiteral("--sync")}));
    ASSERT_TRUE(entry->waitActive());
    ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
    tripleSpace();
    ASSERT_TRUE(waitForRecord(stored::completed)) << context();
    // The run's two records (triggered, completed) are rows of the open window, newest first.
    EXPECT_TRUE(waitUntil([&] { return panel->shows(QStringLiteral("2 entries")); })) << context();
    QStringList rows;
    for (const PanelProbe::Item& item : panel->showing())
        if (item.name.endsWith(QStringLiteral(": some text to polish")))
            rows << item.name;
    EXPECT_EQ(rows, (QStringList{QStringLiteral("Completed: some text to polish"),
                                 QStringLiteral("Triggered: some text to polish")}));
    shot(QStringLiteral("activity-log-live"));
}

} // namespace corvane::e2e

