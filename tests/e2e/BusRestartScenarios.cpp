// The session's accessibility bus stops and starts again while corvane runs: fields are read and
// written on the new bus without restarting corvane. Corvane's own panel stays on the old bus (its
// toolkit does not follow a restart), so after the restart the scenario finds the panel's window on
// the X server and clicks its buttons where the bus showed them before.
//
// A new bus hands out the names of the old one again. The new application is given the name that
// corvane's own panel had on the old bus, as happens by chance on a desktop with many applications:
// whatever corvane learnt about that name before the restart must not hide the new application.
#include "e2e/ScenarioFixture.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QRegularExpression>

namespace corvane::e2e {
namespace {

class BusRestart : public Scenario {
protected:
    // Corvane's largest visible window: the panel (the tray icon is the other one).
    std::optional<QRect> panelWindow() const {
        std::optional<QRect> best;
        const QStringList ids = QString::fromUtf8(run(QStringLiteral("xdotool"),
                                                      {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                       QStringLiteral("--pid"), QString::number(corvane->pid())}))
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        static const QRegularExpression field(QStringLiteral("^(X|Y|WIDTH|HEIGHT)=(-?\\d+)$"),
                                              QRegularExpression::MultilineOption);
        for (const QString& id : ids) {
            const QString shell = QString::fromUtf8(run(
                QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}));
            QMap<QString, int> g;
            for (auto it = field.globalMatch(shell); it.hasNext();) {
                const auto m = it.next();
                g.insert(m.captured(1), m.captured(2).toInt());
            }
            const QRect r(g.value(QStringLiteral("X")), g.value(QStringLiteral("Y")), g.value(QStringLiteral("WIDTH")),
                          g.value(QStringLiteral("HEIGHT")));
            if (r.width() > 100 && r.height() > 60 && (!best || r.width() * r.height() > best->width() * best->height()))
                best = r;
        }
        return best;
    }

    // While the bus still shows the panel: where Replace sits from the window's bottom-right corner
    // and Close from its top-right corner.
    void learnButtons() {
        const auto window = panelWindow();
        ASSERT_TRUE(window) << context();
        for (const PanelProbe::Item& item : panel->showing()) {
            if (item.kind != PanelProbe::Item::Kind::Button || item.extents.isEmpty())
                continue;
            if (item.name == QLatin1String("Replace"))
                m_replace = item.extents.center() - window->bottomRight();
            if (item.name == QLatin1String("Close"))
                m_close = item.extents.center() - window->topRight();
        }
        ASSERT_TRUE(m_replace && m_close) << context();
    }
    bool clickReplace() {
        const auto window = panelWindow();
        return window && clickAt(window->right() + m_replace->x(), window->bottom() + m_replace->y());
    }
    bool closePanel() {
        const auto window = panelWindow();
        return window && clickAt(window->right() + m_close->x(), window->top() + m_close->y()) &&
               waitUntil([&] { return !panelWindow(); });
    }
    bool waitForRecords(int n, int timeoutMs = kPatienceMs) const {
        return waitUntil([&] { return corvane->activity().size() >= n; }, timeoutMs);
    }

    // A new connection of our own to the accessibility bus as it is now: each takes the next name.
    static QDBusConnection connectToAccessibilityBus(const QString& name) {
        QDBusConnection session = QDBusConnection::sessionBus();
        const QDBusMessage reply = session.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"),
            QStringLiteral("GetAddress")));
        return QDBusConnection::connectToBus(reply.arguments().value(0).toString(), name);
    }
    static int serial(const QString& uniqueName) { return uniqueName.section(QLatin1Char('.'), 1).toInt(); }
    // Before the restart: a run in a GTK entry that was there before corvane (so corvane looks
    // through every application on the bus), replaced.
    void runBeforeTheRestart() {
        m_answers = {QStringLiteral("Replaced before the restart.")};
        m_oldEntry = startGtkEntry(QStringLiteral("text before the restart"));
        ASSERT_TRUE(m_oldEntry->waitActive()) << "zenity did not come up";
        // Other clients came first: the panel's name is one a new bus reaches only later.
        for (int i = 0; i < 12; ++i)
            connectToAccessibilityBus(QStringLiteral("old-client-%1").arg(i));
        startCorvane();
        ASSERT_TRUE(m_oldEntry->waitActive());
        ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
        tripleSpace();
        ASSERT_TRUE(waitForRequests(1)) << context();
        ASSERT_TRUE(waitForTitle(QStringLiteral("Done"))) << context();
        ASSERT_NO_FATAL_FAILURE(learnButtons());
        ASSERT_TRUE(panel->click(QStringLiteral("Replace"))) << context();
        ASSERT_TRUE(waitForRecord(stored::replaced)) << context();
        ASSERT_TRUE(waitUntil([&] { return !panelWindow(); })) << context();
        // The name of corvane's panel: the application on the bus that is corvane.
        const QDBusConnection bus = connectToAccessibilityBus(QStringLiteral("old-bus"));
        const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/accessible/root"),
            QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren")));
        const auto apps = reply.arguments().value(0).value<QDBusArgument>();
        for (apps.beginArray(); !apps.atEnd();) {
            QString name;
            QDBusObjectPath path;
            apps.beginStructure();
            apps >> name >> path;
            apps.endStructure();
            if (bus.interface()->servicePid(name).value() == corvane->pid())
                m_panelName = name;
        }
        ASSERT_FALSE(m_panelName.isEmpty()) << "corvane's panel is not on the bus";
    }

    // Makes the next connection to the new bus get the name the panel had on the old one.
    void handOutThePanelsOldName() {
        ASSERT_TRUE(startAccessibilityBus());
        int last = serial(connectToAccessibilityBus(QStringLiteral("new-bus")).baseService());
        while (last > 0 && last + 1 < serial(m_panelName))
            last = serial(connectToAccessibilityBus(QStringLiteral("new-client-%1").arg(last)).baseService());
        if (last + 1 != serial(m_panelName))
            GTEST_SKIP() << "the new bus handed out " << m_panelName.toStdString() << " already (" << last << ")";
    }

    // After the restart: a GTK entry started now is read through the new bus and written back.
    void runInANewApp() {
        const QString original = QStringLiteral("text after the restart");
        const QString answer = QStringLiteral("Written on the new bus.");
        m_answers.append(answer);
        const int requests = server.requests().size();
        const int records = corvane->activity().size();
        ASSERT_NO_FATAL_FAILURE(handOutThePanelsOldName());
        if (IsSkipped())
            return;
        auto entry = startGtkEntry(original);
        ASSERT_TRUE(entry->waitActive()) << "zenity did not come up";
        ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
        tripleSpace();
        ASSERT_TRUE(waitForRequests(requests + 1)) << context();
        const QString message = userMessage(requests);
        EXPECT_TRUE(message.contains(QStringLiteral("[Input text]\n") + original)) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("(read=ax)"))) << message.toStdString();
        ASSERT_TRUE(waitForRecords(records + 2) && corvane->activityStatuses().first() == stored::completed)
            << context();
        ASSERT_TRUE(waitUntil([&] { return clickReplace() && waitForRecords(records + 3, 3000); })) << context();
        EXPECT_EQ(corvane->activityStatuses().first(), stored::replaced) << context();
        ASSERT_TRUE(pressKeys({QStringLiteral("Return")}));
        EXPECT_EQ(QString::fromUtf8(entry->finish()), answer + QLatin1Char('\n')) << context();
        EXPECT_TRUE(corvane->running());
    }

    void SetUp() override {
        Scenario::SetUp();
        server.respond([this](const test::RecordedRequest&) { return streamedAnswer({m_answers.value(m_served++)}, 0); });
    }

    QStringList m_answers;
    int m_served = 0;
    std::unique_ptr<App> m_oldEntry;
    QString m_panelName; // corvane's panel on the old bus
    std::optional<QPoint> m_replace;
    std::optional<QPoint> m_close;
};

TEST_F(BusRestart, AnAppLeftOnTheOldBusFailsCleanlyThenANewAppIsReadAndWritten) {
    ASSERT_NO_FATAL_FAILURE(runBeforeTheRestart());
    ASSERT_TRUE(stopAccessibilityBus());
    ASSERT_TRUE(startAccessibilityBus());

    // The old entry is no longer on any bus, and nothing is selected to copy: the read fails.
    ASSERT_TRUE(m_oldEntry->waitActive());
    ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
    tripleSpace();
    ASSERT_TRUE(waitForRecord(stored::failed)) << context();
    EXPECT_TRUE(corvane->activity().first().detail.startsWith(
        QStringLiteral("AX direct read and clipboard fallback both failed")))
        << context();
    EXPECT_EQ(server.requests().size(), 1);
    ASSERT_TRUE(closePanel()) << context();

    ASSERT_NO_FATAL_FAILURE(runInANewApp());
}

TEST_F(BusRestart, TheFirstTriggerAfterTheRestartIsInANewApp) {
    ASSERT_NO_FATAL_FAILURE(runBeforeTheRestart());
    // Nothing is triggered between the restart and the new application.
    ASSERT_TRUE(stopAccessibilityBus());
    ASSERT_NO_FATAL_FAILURE(runInANewApp());
}

} // namespace
} // namespace corvane::e2e
