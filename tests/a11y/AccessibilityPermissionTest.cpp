// The permission as the shell and the settings window see it, over a scripted session.
#include "platform/fake/FakeAccessibilityStatus.h"
#include "trigger/AccessibilityPermission.h"
#include <QSignalSpy>
#include <gtest/gtest.h>

using corvane::platform::AccessibilityFacts;
using corvane::platform::fake::FakeAccessibilityStatus;
using corvane::trigger::AccessibilityPermission;

namespace {

AccessibilityFacts usable() {
    AccessibilityFacts f;
    f.x11Display = f.xinput2 = f.xtest = f.busReachable = f.enabled = true;
    return f;
}

struct SessionCase {
    const char* name;
    std::function<void(AccessibilityFacts&)> change;
    bool trusted;
    const char* reasonMentions;   // a phrase the user must see
    bool switchOnTries;           // whether switchOn() tries to switch accessibility on
    bool offersSwitch;            // whether the prompt offers the switch (nothing else is missing)
};

const SessionCase kSessions[] = {
    {"usable", [](AccessibilityFacts&) {}, true, "", false, false},
    {"switched_off", [](AccessibilityFacts& f) { f.enabled = false; }, false, "switched off", true, true},
    {"wayland", [](AccessibilityFacts& f) { f.waylandSession = true; }, false, "Wayland", false, false},
    {"no_display", [](AccessibilityFacts& f) { f.x11Display = f.xinput2 = f.xtest = false; }, false, "X11 display", false,
     false},
    {"no_xinput2", [](AccessibilityFacts& f) { f.xinput2 = false; f.enabled = false; }, false, "XInput2", false, false},
    {"no_xtest", [](AccessibilityFacts& f) { f.xtest = false; }, false, "XTest", false, false},
    {"no_bus",
     [](AccessibilityFacts& f) {
         f.busReachable = f.enabled = false;
         f.busError = QStringLiteral("The name org.a11y.Bus was not provided");
     },
     false, "org.a11y.Bus was not provided", true, false},
    // A stale "enabled" answer from a bus we cannot reach still is not trust.
    {"enabled_but_unreachable", [](AccessibilityFacts& f) { f.busReachable = false; }, false, "accessibility bus", true,
     false},
};

class PermissionSessionTest : public ::testing::TestWithParam<SessionCase> {
protected:
    FakeAccessibilityStatus status;
    AccessibilityPermission permission{status};
    void SetUp() override {
        AccessibilityFacts f = usable();
        GetParam().change(f);
        status.current = f;
        status.enableWorks = false; // judge switchOn() by what it tries, not by what it achieves
    }
};

TEST_P(PermissionSessionTest, TrustAndReasonFollowTheSession) {
    EXPECT_EQ(permission.isTrusted(), GetParam().trusted);
    const QString reason = permission.reason();
    if (GetParam().trusted)
        EXPECT_TRUE(reason.isEmpty()) << reason.toStdString();
    else
        EXPECT_TRUE(reason.contains(QString::fromUtf8(GetParam().reasonMentions))) << reason.toStdString();
}

TEST_P(PermissionSessionTest, PromptAsksAndOnlyTheAnswerSwitches) {
    QSignalSpy asked(&permission, &AccessibilityPermission::promptRequested);
    EXPECT_EQ(permission.prompt(), GetParam().trusted);
    EXPECT_EQ(asked.size(), GetParam().trusted ? 0 : 1);
    EXPECT_EQ(status.enableCalls, 0) << "asking changes nothing";
    EXPECT_EQ(permission.canSwitchOn(), GetParam().offersSwitch);
    EXPECT_EQ(permission.switchOn(), GetParam().trusted);
    EXPECT_EQ(status.enableCalls, GetParam().switchOnTries ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Sessions, PermissionSessionTest, ::testing::ValuesIn(kSessions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AccessibilityPermission, SwitchingOnReportsTrustAndAnnouncesTheChange) {
    FakeAccessibilityStatus status;
    status.current.enabled = false;
    AccessibilityPermission permission(status);
    QSignalSpy changed(&permission, &AccessibilityPermission::changed);
    EXPECT_TRUE(permission.switchOn());
    EXPECT_TRUE(permission.isTrusted());
    EXPECT_EQ(changed.size(), 1);
    // Asking again while trusted changes nothing.
    EXPECT_TRUE(permission.switchOn());
    EXPECT_EQ(status.enableCalls, 1);
}

TEST(AccessibilityPermission, EveryReadAsksTheSessionAgain) {
    FakeAccessibilityStatus status;
    AccessibilityPermission permission(status);
    EXPECT_TRUE(permission.isTrusted());
    auto off = status.current;
    off.enabled = false;
    status.set(off);
    EXPECT_FALSE(permission.isTrusted());
}

TEST(AccessibilityPermission, SettingsPaneSaysSoWhenNoToolIsKnown) {
    FakeAccessibilityStatus status;
    AccessibilityPermission permission(status);
    EXPECT_EQ(permission.openSettingsPane(), std::nullopt);

    status.settingsToolKnown = false;
    auto text = permission.openSettingsPane();
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->contains(QStringLiteral("toolkit-accessibility"))) << text->toStdString();
    EXPECT_EQ(status.openSettingsCalls, 2);
}

TEST(AccessibilityPermission, CleanUpExplainsThereIsNothingToCleanAndTouchesNothing) {
    for (bool enabled : {true, false}) {
        FakeAccessibilityStatus status;
        status.current.enabled = enabled;
        AccessibilityPermission permission(status);
        auto text = permission.runCleanupFlow();
        ASSERT_TRUE(text);
        EXPECT_TRUE(text->contains(QStringLiteral("nothing")) || text->contains(QStringLiteral("no stale")))
            << text->toStdString();
        const auto reset = permission.resetOwnRecords();
        EXPECT_FALSE(reset.ok);
        EXPECT_FALSE(reset.message.isEmpty());
        EXPECT_EQ(status.enableCalls, 0);
        EXPECT_EQ(status.openSettingsCalls, 0);
        EXPECT_EQ(status.current.enabled, enabled);
    }
}

TEST(AccessibilityPermission, UnwiredSharedInstanceIsNotTrustedAndSafe) {
    AccessibilityPermission::setShared(nullptr);
    EXPECT_FALSE(AccessibilityPermission::shared().isTrusted());
    EXPECT_FALSE(AccessibilityPermission::shared().reason().isEmpty());
    EXPECT_FALSE(AccessibilityPermission::shared().prompt());
    EXPECT_TRUE(AccessibilityPermission::shared().openSettingsPane());

    FakeAccessibilityStatus status;
    AccessibilityPermission wired(status);
    AccessibilityPermission::setShared(&wired);
    EXPECT_EQ(&AccessibilityPermission::shared(), &wired);
    EXPECT_TRUE(AccessibilityPermission::shared().isTrusted());
    AccessibilityPermission::setShared(nullptr);
}

} // namespace
