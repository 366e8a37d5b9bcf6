// The keyboard backends on a real X server (run inside the headless test session): keys typed
// with xdotool through XTEST, applications that really receive them, the real clipboard.
#include "platform/SystemClock.h"
#include "support/DesktopProcess.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11HotkeyGrabber.h"
#include "platform/linux/XInputKeyTap.h"
#include "platform/linux/XTestKeySynth.h"
#include "platform/linux/XkbKeyboard.h"
#include "platform/linux/XkbKeyboardLayout.h"
#include "trigger/EventMonitor.h"
#include "trigger/HotkeyCenter.h"
#include "trigger/HotkeyDescription.h"
#include <QProcess>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::platform::linux_;
using namespace corvane::testsupport;

namespace {

constexpr qint64 kCtrlAlt = 0x40000 | 0x80000;

// How long a step may take before the test gives up on it: generous, for a busy machine.
constexpr int kPatienceMs = 25000;


// A GTK entry dialog; its text is printed when the user presses Return.
class Zenity {
public:
    explicit Zenity(const QString& text) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        m_proc.setProcessEnvironment(env);
        m_proc.start(QStringLiteral("zenity"), {QStringLiteral("--entry"), QStringLiteral("--title=corvane-input-test"),
                                                QStringLiteral("--entry-text=") + text});
        const QString id = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--sync"),
                                                           QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                                           QStringLiteral("corvane-input-test")})
                               .split(QLatin1Char('\n'))
                               .value(0);
        m_window = id.toULongLong();
        if (m_window) {
            xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(m_window)});
            xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(m_window)});
        }
    }
    ~Zenity() {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }
    quint64 window() const { return m_window; }
    // Presses Return and gives back what the entry held.
    QString finish() {
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        m_proc.waitForFinished(kPatienceMs);
        return QString::fromUtf8(m_proc.readAllStandardOutput()).chopped(1);
    }

private:
    QProcess m_proc;
    quint64 m_window = 0;
};

QString clipboard() { return run(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}); }

struct FixedTapSettings final : trigger::TapSettings {
    qint64 triggerSpaceCount() const override { return 3; }
    double triggerIntervalMs() const override { return 500; }
    // Long enough that a slow machine still types the second burst inside it; the end of the
    // cooldown is the unit tests' business.
    double cooldownSeconds() const override { return 60; }
};

class InputDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the headless desktop session";
        conn = std::make_unique<X11Connection>();
        ASSERT_TRUE(conn->isOpen()) << conn->error().toStdString();
        ASSERT_NE(conn->keyboard(), nullptr);
    }
    std::unique_ptr<X11Connection> conn;
};

TEST_F(InputDesktopTest, TripleSpaceInAnotherAppFiresOnceAndRespectsTheCooldown) {
    XInputKeyTap tap(*conn);
    platform::SystemClock clock;
    FixedTapSettings settings;
    trigger::EventMonitor monitor(tap, clock, settings);
    int fired = 0;
    monitor.onTrigger = [&] { ++fired; };
    ASSERT_TRUE(monitor.start()) << tap.lastError().toStdString();
    // A second tap on the same connection sees each event right after the monitor has.
    XInputKeyTap counter(*conn);
    int spaces = 0;
    ASSERT_TRUE(counter.start([&](const platform::KeyEvent& e) { spaces += e.pressed && e.keyCode == 49; }));

    Zenity entry(QString{});
    ASSERT_NE(entry.window(), 0u);
    xdotool({QStringLiteral("type"), QStringLiteral("ab")});
    xdotool({QStringLiteral("key"), QStringLiteral("space"), QStringLiteral("space"), QStringLiteral("space")});
    ASSERT_TRUE(waitFor([&] { return fired == 1; }, kPatienceMs));
    xdotool({QStringLiteral("key"), QStringLiteral("space"), QStringLiteral("space"), QStringLiteral("space")});
    ASSERT_TRUE(waitFor([&] { return spaces == 6; }, kPatienceMs));
    // The monitor hands a trigger on through the clock: a hop through it queued now comes after.
    bool handedOn = false;
    clock.schedule(0, &monitor, [&handedOn] { handedOn = true; });
    ASSERT_TRUE(waitFor([&] { return handedOn; }, kPatienceMs));
    EXPECT_EQ(fired, 1) << "three more spaces inside the cooldown";

    EXPECT_EQ(entry.finish(), QStringLiteral("ab") + QString(6, QLatin1Char(' '))) << "every space reached the app";
    monitor.stop();
    EXPECT_FALSE(tap.isRunning());
}

// The server's modifier state as the pointer query reports it.
uint16_t modifierState(X11Connection& c) {
    auto* reply = xcb_query_pointer_reply(c.xcb(), xcb_query_pointer(c.xcb(), c.root()), nullptr);
    const uint16_t mask = reply ? reply->mask : 0;
    free(reply);
    return mask;
}

TEST_F(InputDesktopTest, AHotkeyWorksWithNumLockOnAndRepeatsAreIgnored) {
    X11HotkeyGrabber grabber(*conn);
    QList<QPair<quint32, bool>> events;
    grabber.setHandler([&](quint32 id, bool pressed) { events.append({id, pressed}); });
    ASSERT_EQ(grabber.grab(7, 40, kCtrlAlt), platform::GrabStatus::Grabbed); // Ctrl+Alt+K
    // Another shortcut as a marker: once its release is reported, every key before it has been.
    ASSERT_EQ(grabber.grab(8, 37, kCtrlAlt), platform::GrabStatus::Grabbed); // Ctrl+Alt+L
    const auto untilMarker = [&] {
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+l")});
        const bool seen = waitFor([&] { return events.contains(QPair<quint32, bool>{8, false}); }, kPatienceMs);
        events.removeIf([](const QPair<quint32, bool>& e) { return e.first == 8; });
        return seen;
    };

    xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
    ASSERT_TRUE(waitFor([&] { return (modifierState(*conn) & conn->keyboard()->numLockMask()) != 0; }, kPatienceMs));
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")});
    EXPECT_TRUE(waitFor([&] { return events.size() == 2; }, kPatienceMs));
    EXPECT_EQ(events, (QList<QPair<quint32, bool>>{{7, true}, {7, false}}));

    events.clear();
    xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
    xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")});
    xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")});
    EXPECT_TRUE(waitFor([&] { return events.size() == 2; }, kPatienceMs)) << "with Caps Lock on";

    // Held for a second: the server repeats the key, the grab reports one press and one release.
    events.clear();
    xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+k")});
    settle(1000);
    xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+k")});
    EXPECT_TRUE(waitFor([&] { return events.size() >= 2; }, kPatienceMs));
    ASSERT_TRUE(untilMarker());
    EXPECT_EQ(events, (QList<QPair<quint32, bool>>{{7, true}, {7, false}}));

    events.clear();
    grabber.ungrab(7);
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")});
    ASSERT_TRUE(untilMarker());
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(InputDesktopTest, AHotkeyAnotherClientHoldsIsReported) {
    X11Connection otherClient;
    X11HotkeyGrabber other(otherClient);
    ASSERT_EQ(other.grab(1, 38, kCtrlAlt), platform::GrabStatus::Grabbed); // Ctrl+Alt+J

    X11HotkeyGrabber grabber(*conn);
    EXPECT_EQ(grabber.grab(1, 38, kCtrlAlt), platform::GrabStatus::Taken);

    platform::SystemClock clock;
    trigger::HotkeyCenter center(grabber, clock);
    QStringList pressed;
    center.sync({{QStringLiteral("global"), 38, kCtrlAlt}, {QStringLiteral("org.example.app"), 40, kCtrlAlt}},
                [&](const QString& id) { pressed << id; });
    ASSERT_EQ(center.lastErrors().size(), 1);
    EXPECT_EQ(center.lastErrors()[0].id, QStringLiteral("global"));
    EXPECT_EQ(center.lastErrors()[0].reason, trigger::HotkeyError::Reason::Taken);
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")});
    EXPECT_TRUE(waitFor([&] { return !pressed.isEmpty(); }, kPatienceMs));
    EXPECT_EQ(pressed, QStringList{QStringLiteral("org.example.app")}) << "the other shortcut still works";

    // The window manager of the test session owns Alt+Space, as most do.
    if (run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("pgrep -x openbox")}).isEmpty())
        GTEST_SKIP() << "no window manager in this session";
    EXPECT_EQ(grabber.grab(2, 49, 0x80000), platform::GrabStatus::Taken);
}

TEST_F(InputDesktopTest, LabelsFollowTheLayout) {
    XkbKeyboardLayout layout(*conn);
    struct Case {
        const char* layout;
        qint64 keyCode;
        const char* label;
    } cases[] = {
        {"us", 6, "Z"}, {"us", 0, "A"}, {"us", 41, ";"}, {"de", 6, "Y"}, {"de", 16, "Z"},
        {"de", 41, "Ö"}, {"fr", 0, "Q"}, {"us", 6, "Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " " + std::to_string(c.keyCode));
        run(QStringLiteral("setxkbmap"), {QString::fromLatin1(c.layout)});
        const QString expected = QString::fromUtf8(c.label);
        EXPECT_TRUE(waitFor([&] { return trigger::HotkeyDescription::keyName(c.keyCode, layout) == expected; }, kPatienceMs))
            << trigger::HotkeyDescription::keyName(c.keyCode, layout).toStdString();
    }
    EXPECT_EQ(trigger::HotkeyDescription::string(49, 0x80000, layout), QStringLiteral("Alt+Space"));
}

TEST_F(InputDesktopTest, HeldKeysAreSeen) {
    XTestKeySynth synth(*conn);
    EXPECT_FALSE(synth.modifiersHeld());
    // xdotool's keys reach the server on its own connection: wait until the server has them.
    for (const char* key : {"ctrl", "alt", "shift", "super"}) {
        SCOPED_TRACE(key);
        xdotool({QStringLiteral("keydown"), QString::fromLatin1(key)});
        EXPECT_TRUE(waitFor([&] { return synth.modifiersHeld(); }, kPatienceMs));
        xdotool({QStringLiteral("keyup"), QString::fromLatin1(key)});
        EXPECT_TRUE(waitFor([&] { return !synth.modifiersHeld(); }, kPatienceMs));
    }
    // The key of a shortcut still down after its modifiers came up keeps the keyboard grabbed.
    X11HotkeyGrabber grabber(*conn);
    ASSERT_EQ(grabber.grab(3, 40, kCtrlAlt), platform::GrabStatus::Grabbed);
    xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+k")});
    xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl"), QStringLiteral("alt")});
    ASSERT_TRUE(waitFor([&] { return (modifierState(*conn) & (XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1)) == 0; }, kPatienceMs));
    EXPECT_TRUE(synth.modifiersHeld());
    xdotool({QStringLiteral("keyup"), QStringLiteral("k")});
    EXPECT_TRUE(waitFor([&] { return !synth.modifiersHeld(); }, kPatienceMs));

    xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
    ASSERT_TRUE(waitFor([&] { return (modifierState(*conn) & conn->keyboard()->numLockMask()) != 0; }, kPatienceMs));
    EXPECT_FALSE(synth.modifiersHeld()) << "a lock that is on is not a held key";
    xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
    EXPECT_TRUE(waitFor([&] { return (modifierState(*conn) & conn->keyboard()->numLockMask()) == 0; }, kPatienceMs));
}

TEST_F(InputDesktopTest, SelectAllCopyAndPasteReachAGtkEntry) {
    XTestKeySynth synth(*conn);
    Zenity entry(QStringLiteral("hello world"));
    ASSERT_NE(entry.window(), 0u);
    const platform::KeyTarget target{entry.window(), false};

    EXPECT_FALSE(synth.send(platform::KeyCommand::Copy, {entry.window() + 12345, false})) << "not the active window";
    EXPECT_FALSE(synth.send(platform::KeyCommand::Copy, {0, false}));
    EXPECT_FALSE(synth.send(platform::KeyCommand::Copy, {entry.window(), true})) << "never Ctrl+C into a terminal";

    ASSERT_TRUE(synth.send(platform::KeyCommand::SelectAll, target));
    ASSERT_TRUE(synth.send(platform::KeyCommand::Copy, target));
    EXPECT_TRUE(waitFor([] { return clipboard() == QStringLiteral("hello world"); }, kPatienceMs));

    ASSERT_TRUE(synth.send(platform::KeyCommand::CollapseSelection, target));
    xdotool({QStringLiteral("type"), QStringLiteral("!")});
    // xclip serves the text twice (our check, then the entry's paste) and exits: then the entry has it.
    QProcess owner;
    owner.start(QStringLiteral("xclip"), {QStringLiteral("-loops"), QStringLiteral("2"), QStringLiteral("-i"),
                                          QStringLiteral("-selection"), QStringLiteral("clipboard")});
    owner.write("replaced");
    owner.closeWriteChannel();
    ASSERT_TRUE(waitFor([] { return clipboard() == QStringLiteral("replaced"); }, kPatienceMs));
    xdotool({QStringLiteral("type"), QStringLiteral("?")});
    ASSERT_TRUE(synth.send(platform::KeyCommand::Paste, target));
    // The entry has the text before the Return that finish() presses reaches it.
    EXPECT_TRUE(waitFor([&] { return owner.state() == QProcess::NotRunning; }, kPatienceMs)) << "the entry fetched the paste";
    const QString expected = QStringLiteral("hello world!?replaced");
    EXPECT_EQ(entry.finish(), expected) << "the selection collapsed to its end, and the paste landed after it";
}

} // namespace

TEST_F(InputDesktopTest, KeysReleasedDuringOurGrabAreNotTakenForRepeatsAfterIt) {
    // While our grab holds the keyboard the raw releases of its keys never come; the tap learns
    // from the grab's end that they are up.
    X11HotkeyGrabber grabber(*conn);
    ASSERT_EQ(grabber.grab(3, 40, kCtrlAlt), platform::GrabStatus::Grabbed); // Ctrl+Alt+K
    XInputKeyTap tap(*conn);
    QList<platform::KeyEvent> keys;
    ASSERT_TRUE(tap.start([&](const platform::KeyEvent& e) {
        if (e.keyCode == 40)
            keys.append(e);
    }));
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+k")});
    xdotool({QStringLiteral("key"), QStringLiteral("k")});
    ASSERT_TRUE(waitFor([&] { return !keys.isEmpty() && !keys.last().pressed && keys.size() >= 3; }, kPatienceMs));
    const platform::KeyEvent& next = keys.at(keys.size() - 2);
    EXPECT_TRUE(next.pressed);
    EXPECT_FALSE(next.autoRepeat) << "the press after the shortcut is a new press";
}
