// Global shortcuts registered the way the shell syncs them, pressed by the user on the fake desktop.
#include "platform/VirtualKeys.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeHotkeyGrabber.h"
#include "platform/fake/MemorySystemLog.h"
#include "stores/DiagLog.h"
#include "trigger/HotkeyCenter.h"
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace corvane;
using platform::fake::FakeClock;
using platform::fake::FakeHotkeyGrabber;
using trigger::HotkeyCenter;
using trigger::HotkeyError;
using trigger::HotkeyRegistration;
namespace keys = platform::keys;

namespace {

constexpr qint64 kOption = keys::ModOption;
constexpr qint64 kCtrlAlt = keys::ModControl | keys::ModOption;
constexpr qint64 kKeyK = 40, kKeyJ = 38, kKeyA = 0, kF5 = 96, kF13 = 105;

class HotkeyCenterTest : public ::testing::Test {
protected:
    void SetUp() override { stores::DiagLog::configure(&log, &clock, QString()); }
    void TearDown() override { stores::DiagLog::configure(nullptr, nullptr, QString()); }

    void sync(const QList<HotkeyRegistration>& list) {
        center.sync(list, [this](const QString& id) { pressed << id; });
    }
    // The user presses a combination; the dispatch happens on the next turn of the loop.
    void press(qint64 keyCode, qint64 modifiers) {
        grabber.press(keyCode, modifiers);
        clock.advance(0);
    }

    FakeClock clock;
    FakeHotkeyGrabber grabber;
    platform::fake::MemorySystemLog log;
    HotkeyCenter center{grabber, clock};
    QStringList pressed;
};

TEST_F(HotkeyCenterTest, TheDefaultHotkeyIsGrabbedAsAltSpaceAndDispatchesItsId) {
    sync({{QStringLiteral("global"), keys::Space, kOption}});
    ASSERT_EQ(grabber.grabs().size(), 1);
    EXPECT_EQ(grabber.grabs()[0].grabId, 0x484B0001u);
    EXPECT_EQ(grabber.grabs()[0].keyCode, 49);
    EXPECT_EQ(grabber.grabs()[0].modifiers, kOption);
    EXPECT_TRUE(center.lastErrors().isEmpty());

    grabber.press(keys::Space, kOption);
    EXPECT_TRUE(pressed.isEmpty()) << "presses are dispatched from the loop, not from the grab handler";
    clock.advance(0);
    EXPECT_EQ(pressed, QStringList{QStringLiteral("global")}) << "one use per press and release";
}

TEST_F(HotkeyCenterTest, AShortcutIsUsedWhenItsGrabEndsNotWhenItsKeyGoesDown) {
    sync({{QStringLiteral("global"), keys::Space, kOption}});
    const quint32 id = center.activeSignatures().value(0);
    grabber.deliverRelease(id); // a release whose press came before we listened
    clock.advance(0);
    EXPECT_TRUE(pressed.isEmpty());
    grabber.deliverPress(id);
    clock.advance(0);
    EXPECT_TRUE(pressed.isEmpty()) << "the field is read while the grab still holds the keyboard";
    grabber.deliverRelease(id);
    grabber.deliverRelease(id);
    clock.advance(0);
    EXPECT_EQ(pressed, QStringList{QStringLiteral("global")});
}

TEST_F(HotkeyCenterTest, SignaturesRiseAndAreNeverReused) {
    sync({{QStringLiteral("a"), -1, kCtrlAlt}, {QStringLiteral("b"), kKeyK, kCtrlAlt}, {QStringLiteral("c"), kKeyJ, kCtrlAlt}});
    EXPECT_EQ(center.activeSignatures(), (QList<quint32>{0x484B0001u, 0x484B0002u}))
        << "a negative key code uses up no signature";
    sync({{QStringLiteral("b"), kKeyK, kCtrlAlt}});
    EXPECT_EQ(center.activeSignatures(), QList<quint32>{0x484B0003u});
    sync({});
    EXPECT_TRUE(center.activeSignatures().isEmpty());
    EXPECT_TRUE(grabber.grabs().isEmpty());
    sync({{QStringLiteral("b"), kKeyK, kCtrlAlt}});
    EXPECT_EQ(center.activeSignatures(), QList<quint32>{0x484B0004u});
}

TEST_F(HotkeyCenterTest, AnEmptySyncSilencesEveryShortcut) {
    sync({{QStringLiteral("global"), keys::Space, kOption}, {QStringLiteral("org.gnome.gedit"), kKeyK, kCtrlAlt}});
    sync({});
    press(keys::Space, kOption);
    press(kKeyK, kCtrlAlt);
    EXPECT_TRUE(pressed.isEmpty());
    EXPECT_TRUE(grabber.hasHandler());
}

TEST_F(HotkeyCenterTest, APressQueuedBeforeASyncThatDroppedItCallsNothing) {
    sync({{QStringLiteral("global"), keys::Space, kOption}});
    const quint32 old = center.activeSignatures().value(0);
    grabber.press(keys::Space, kOption); // queued, not yet dispatched
    sync({{QStringLiteral("global"), kKeyK, kCtrlAlt}});
    clock.advance(0);
    EXPECT_TRUE(pressed.isEmpty());
    grabber.deliverPress(old); // a late event of the old grab
    clock.advance(0);
    EXPECT_TRUE(pressed.isEmpty());
}

TEST_F(HotkeyCenterTest, LockAndOtherBitsDoNotChangeTheCombination) {
    sync({{QStringLiteral("global"), keys::Space, 0x90000}}); // Caps Lock + Option
    ASSERT_EQ(grabber.grabs().size(), 1);
    EXPECT_EQ(grabber.grabs()[0].modifiers, kOption);
    EXPECT_EQ(HotkeyCenter::grabModifiers(0x1E0000 | 0x10000 | 0x800000 | 0xFF), 0x1E0000);
}

TEST_F(HotkeyCenterTest, OneIdMayOwnSeveralCombinationsAndPressesArriveInOrder) {
    sync({{QStringLiteral("x"), kKeyK, kCtrlAlt}, {QStringLiteral("x"), kKeyJ, kCtrlAlt}, {QStringLiteral("y"), kF5, 0}});
    grabber.press(kKeyJ, kCtrlAlt);
    grabber.press(kF5, 0);
    grabber.press(kKeyK, kCtrlAlt);
    clock.advance(0);
    EXPECT_EQ(pressed, (QStringList{QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("x")}));
}

struct RefusalCase {
    const char* name;
    qint64 keyCode;
    qint64 modifiers;
    bool grabbed;
    HotkeyError::Reason reason;
};

TEST_F(HotkeyCenterTest, PlainKeysAreNeverGrabbedButFunctionKeysAre) {
    const RefusalCase cases[] = {
        {"bare space", keys::Space, 0, false, HotkeyError::Reason::NeedsModifier},
        {"bare letter", kKeyA, 0, false, HotkeyError::Reason::NeedsModifier},
        {"Shift and a letter", kKeyA, keys::ModShift, false, HotkeyError::Reason::NeedsModifier},
        {"Caps Lock bit alone", kKeyA, 0x10000, false, HotkeyError::Reason::NeedsModifier},
        {"bare Return", keys::Return, 0, false, HotkeyError::Reason::NeedsModifier},
        {"bare F5", kF5, 0, true, {}},
        {"Shift+F13", kF13, keys::ModShift, true, {}},
        {"bare F20", 90, 0, true, {}},
        {"Super and a letter", kKeyA, keys::ModCommand, true, {}},
        {"Ctrl+Shift and a letter", kKeyA, keys::ModControl | keys::ModShift, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sync({{QStringLiteral("global"), c.keyCode, c.modifiers}});
        EXPECT_EQ(grabber.grabs().size(), c.grabbed ? 1 : 0);
        ASSERT_EQ(center.lastErrors().size(), c.grabbed ? 0 : 1);
        if (!c.grabbed) {
            EXPECT_EQ(center.lastErrors()[0].reason, c.reason);
            EXPECT_EQ(center.lastErrors()[0].keyCode, c.keyCode);
        }
    }
}

TEST_F(HotkeyCenterTest, EveryShortcutThatCannotBeGrabbedIsReportedAndTheOthersStillWork) {
    grabber.takenByOtherApp(keys::Space, kOption); // the window manager owns Alt+Space
    grabber.setUnknownKey(93);
    QSignalSpy changed(&center, &HotkeyCenter::errorsChanged);
    sync({{QStringLiteral("global"), keys::Space, kOption},
          {QStringLiteral("org.gnome.gedit"), kKeyK, kCtrlAlt},
          {QStringLiteral("org.kde.kate"), kKeyK, kCtrlAlt},
          {QStringLiteral("org.mozilla.firefox"), 93, kCtrlAlt}});

    const QList<HotkeyError> errors = center.lastErrors();
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors[0].id, QStringLiteral("global"));
    EXPECT_EQ(errors[0].reason, HotkeyError::Reason::Taken);
    EXPECT_EQ(errors[0].message, QStringLiteral("This shortcut is already used by another application."));
    EXPECT_EQ(errors[1].id, QStringLiteral("org.kde.kate"));
    EXPECT_EQ(errors[1].reason, HotkeyError::Reason::Duplicate);
    EXPECT_EQ(errors[2].reason, HotkeyError::Reason::UnknownKey);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(log.lines().contains(
        QStringLiteral("diag|HotkeyCenter shortcut \"global\" not registered: already taken by another application")));

    press(kKeyK, kCtrlAlt);
    EXPECT_EQ(pressed, QStringList{QStringLiteral("org.gnome.gedit")});

    sync({{QStringLiteral("global"), keys::Space, kOption}});
    EXPECT_EQ(changed.count(), 2);
    sync({{QStringLiteral("global"), keys::Space, kOption}});
    EXPECT_EQ(changed.count(), 2) << "the same failure again is no change";
    sync({{QStringLiteral("global"), kKeyK, kCtrlAlt}});
    EXPECT_TRUE(center.lastErrors().isEmpty());
    EXPECT_EQ(changed.count(), 3);
}

TEST_F(HotkeyCenterTest, WithoutADesktopEveryShortcutIsReportedUnavailable) {
    grabber.setUnavailable(true);
    sync({{QStringLiteral("global"), keys::Space, kOption}});
    ASSERT_EQ(center.lastErrors().size(), 1);
    EXPECT_EQ(center.lastErrors()[0].reason, HotkeyError::Reason::Unavailable);

    // The process instance before the composition root wires one: no crash, nothing grabbed.
    HotkeyCenter& fallback = HotkeyCenter::shared();
    fallback.sync({{QStringLiteral("global"), keys::Space, kOption}}, [](const QString&) {});
    ASSERT_EQ(fallback.lastErrors().size(), 1);
    EXPECT_EQ(fallback.lastErrors()[0].reason, HotkeyError::Reason::Unavailable);
}

TEST_F(HotkeyCenterTest, WhileSuspendedNothingIsGrabbedAndResumeAppliesTheLatestSync) {
    sync({{QStringLiteral("global"), keys::Space, kOption}});
    center.suspend();
    EXPECT_TRUE(grabber.grabs().isEmpty()) << "a recorder must see the press of a grabbed combination";
    press(keys::Space, kOption);
    EXPECT_TRUE(pressed.isEmpty());

    // The shell's refresh keeps syncing while the recorder runs; the new list waits for resume().
    sync({{QStringLiteral("global"), kKeyK, kCtrlAlt}});
    EXPECT_TRUE(grabber.grabs().isEmpty());
    center.resume();
    ASSERT_EQ(grabber.grabs().size(), 1);
    EXPECT_EQ(grabber.grabs()[0].keyCode, kKeyK);
    press(kKeyK, kCtrlAlt);
    EXPECT_EQ(pressed, QStringList{QStringLiteral("global")});
}

} // namespace
