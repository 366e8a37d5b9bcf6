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

// One exported menu entry: "title|visible|enabled", separators as "-"; ids, when asked, in the same order.
void readEntries(const QDBusArgument& arg, QStringList& out, bool root, QList<int>* ids = nullptr) {
    int id = 0;
    QVariantMap props;
    arg.beginStructure();
    arg >> id >> props;
    if (!root) {
        if (ids)
            ids->append(id);
        if (props.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
            out << QStringLiteral("-");
        else
            out << QStringLiteral("%1|%2|%3")
                       .arg(props.value(QStringLiteral("label")).toString())
                       .arg(props.value(QStringLiteral("visible"), true).toBool())
                       .arg(props.value(QStringLiteral("enabled"), true).toBool());
    }
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        if (root)
            readEntries(child.variant().value<QDBusArgument>(), out, false, ids);
    }
    arg.endArray();
    arg.endStructure();
}

struct MenuAddress {
    QString service;
    QString path;
};

// Where the first registered item exports its menu.
std::optional<MenuAddress> menuAddress(const TestWatcher& watcher) {
    if (watcher.items().isEmpty())
        return std::nullopt;
    QString service = watcher.items().first();
    QString itemPath = QStringLiteral("/StatusNotifierItem");
    if (const qsizetype slash = service.indexOf(QLatin1Char('/')); slash > 0) {
        itemPath = service.mid(slash);
        service = service.left(slash);
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage get = QDBusMessage::createMethodCall(service, itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
    const QDBusMessage menuPath = bus.call(get, QDBus::Block, 3000);
    if (menuPath.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return MenuAddress{service,
                       menuPath.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path()};
}

// The menu layout that the first registered item exports.
QStringList exportedMenu(const TestWatcher& watcher, QList<int>* ids = nullptr) {
    const auto address = menuAddress(watcher);
    if (!address)
        return {};
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage layout = QDBusMessage::createMethodCall(address->service, address->path,
                                                         QStringLiteral("com.canonical.dbusmenu"),
                                                         QStringLiteral("GetLayout"));
    layout.setArguments({0, -1, QStringList()});
    const QDBusMessage reply = bus.call(layout, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return {};
    QStringList out;
    readEntries(reply.arguments().at(1).value<QDBusArgument>(), out, true, ids);
    return out;
}

// Chooses the entry with this title, as a tray host does when the user clicks it.
bool clickExportedEntry(const TestWatcher& watcher, const QString& title) {
    QList<int> ids;
    const QStringList entries = exportedMenu(watcher, &ids);
    const auto address = menuAddress(watcher);
    for (int i = 0; i < entries.size() && address; ++i) {
        if (entries[i].section(QLatin1Char('|'), 0, 0) != title)
            continue;
        QDBusMessage event = QDBusMessage::createMethodCall(address->service, address->path,
                                                            QStringLiteral("com.canonical.dbusmenu"),
                                                            QStringLiteral("Event"));
        event.setArguments({ids[i], QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QString())), 0u});
        return QDBusConnection::sessionBus().call(event, QDBus::Block, 3000).type() == QDBusMessage::ReplyMessage;
    }
    return false;
}

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

