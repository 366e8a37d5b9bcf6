// The session's accessibility status and the permission built on it, in a real session: the
// switch turned off and on from outside and from the prompt, and sessions without the bus.
#include "DesktopHarness.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/SessionAccessibilityStatus.h"
#include "trigger/AccessibilityPermission.h"
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace corvane::platform;
using namespace corvane::platform::linux_;
using namespace corvane::desktoptest;
using corvane::trigger::AccessibilityPermission;

namespace {

bool setIsEnabled(bool on) {
    int status = -1;
    run(QStringLiteral("dbus-send"),
        {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=org.a11y.Bus"),
         QStringLiteral("/org/a11y/bus"), QStringLiteral("org.freedesktop.DBus.Properties.Set"),
         QStringLiteral("string:org.a11y.Status"), QStringLiteral("string:IsEnabled"),
         on ? QStringLiteral("variant:boolean:true") : QStringLiteral("variant:boolean:false")},
        {}, &status);
    return status == 0;
}

// Changes the session's switch: run in a session of its own.
TEST(AccessibilitySwitch, FollowsTheSwitchAndThePromptTurnsItBackOn) {
    SessionAccessibilityStatus status;
    AccessibilityPermission permission(status);
    QSignalSpy changed(&permission, &AccessibilityPermission::changed);

    const AccessibilityFacts facts = status.facts();
    EXPECT_TRUE(facts.x11Display);
    EXPECT_TRUE(facts.xinput2);
    EXPECT_TRUE(facts.xtest);
    EXPECT_FALSE(facts.waylandSession);
    EXPECT_TRUE(facts.busReachable) << facts.busError.toStdString();
    EXPECT_TRUE(facts.enabled);
    EXPECT_TRUE(permission.isTrusted()) << permission.reason().toStdString();

    ASSERT_TRUE(setIsEnabled(false));
    EXPECT_TRUE(waitUntil([&] { return changed.size() > 0; }));
    EXPECT_FALSE(permission.isTrusted());
    EXPECT_TRUE(permission.reason().contains(QStringLiteral("switched off"))) << permission.reason().toStdString();

    changed.clear();
    EXPECT_TRUE(permission.switchOn());
    EXPECT_TRUE(permission.isTrusted());
    EXPECT_TRUE(waitUntil([&] { return changed.size() > 0; }));
}

// Run without a reachable accessibility bus (see CMakeLists.txt for the variants).
TEST(NoBus, NotTrustedWithAClearReasonAndNoCrash) {
    SessionAccessibilityStatus status;
    AccessibilityPermission permission(status);
    const AccessibilityFacts facts = status.facts();
    EXPECT_TRUE(facts.x11Display);
    EXPECT_FALSE(facts.busReachable);
    EXPECT_FALSE(facts.busError.isEmpty());
    EXPECT_FALSE(permission.isTrusted());
    EXPECT_TRUE(permission.reason().contains(QStringLiteral("accessibility bus"))) << permission.reason().toStdString();
    EXPECT_FALSE(permission.prompt());

    AtspiAccessibility a11y;
    EXPECT_FALSE(a11y.available());
    EXPECT_FALSE(a11y.focusedElement());
}

} // namespace
