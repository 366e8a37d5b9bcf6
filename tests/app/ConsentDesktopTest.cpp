// The windows that appear by themselves (the consent question, the permission prompt) on a real X
// server with a window manager (inside the headless test session): while a GTK entry has the focus,
// the window appears, a Space goes to the entry, and the answer is clicked with the real pointer;
// the entry keeps _NET_ACTIVE_WINDOW and the input focus throughout.
#include "app/ConsentWindow.h"
#include "app/PermissionPrompt.h"
#include "platform/fake/FakeAccessibilityStatus.h"
#include "trigger/AccessibilityPermission.h"
#include "platform/SystemClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "services/TelemetryService.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include "support/DesktopProcess.h"
#include "support/WindowManagerSync.h"
#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testsupport;

namespace {

// The bound of every wait: generous, for a machine busy with other test sessions.
constexpr int kPatienceMs = 25000;

QString xdo(const QStringList& args) { return run(QStringLiteral("xdotool"), args).trimmed(); }

// A GTK entry in front with the keyboard focus, started for one scenario.
struct FocusedEntry {
    TestProcess zenity{QStringLiteral("zenity"), {QStringLiteral("--entry"), QStringLiteral("--title=corvane-focus")}};
    QString window, focus;

    bool start() {
        if (!waitFor([this] {
                window = xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                              QStringLiteral("corvane-focus")}).section(QLatin1Char('\n'), 0, 0);
                return !window.isEmpty();
            }, kPatienceMs))
            return false;
        xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
        if (!waitFor([this] { return xdo({QStringLiteral("getactivewindow")}) == window; }, kPatienceMs))
            return false;
        focus = xdo({QStringLiteral("getwindowfocus"), QStringLiteral("-f")});
        return true;
    }
    void expectKeepsFocus(const char* step) const {
        // Whatever the step made the window manager and this process do has been done by now.
        EXPECT_TRUE(windowManagerRoundTrip()) << step << ": the window manager did not answer";
        QGuiApplication::sync();
        EXPECT_EQ(xdo({QStringLiteral("getactivewindow")}), window) << step;
        EXPECT_EQ(xdo({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}), focus) << step;
    }
};

bool viewable(const QWidget& window) {
    return waitFor([&window] {
        return run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window.winId())})
            .contains(QLatin1String("IsViewable"));
    }, kPatienceMs);
}

void clickOn(const QWidget* button) {
    const QPoint p = button->mapToGlobal(button->rect().center());
    xdo({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()), QString::number(p.y())});
    xdo({QStringLiteral("click"), QStringLiteral("1")});
}

TEST(ConsentOnDesktop, TheQuestionLeavesTheFocusOnTheApplication) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs the X11 test session";
    FocusedEntry entry;
    ASSERT_TRUE(entry.start()) << "zenity did not come up";
    const auto expectEntryKeepsFocus = [&entry](const char* step) { entry.expectKeepsFocus(step); };

    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    stores::KeychainHelper keychain(secrets);
    stores::SettingsStore settings(prefs, keychain);
    platform::SystemClock clock;
    services::TelemetryService telemetry(prefs, clock, settings, {});
    app::ConsentWindow window(telemetry);
    window.present();
    ASSERT_TRUE(viewable(window)) << "the question never appeared";
    expectEntryKeepsFocus("after the question appeared");
    QDir().mkpath(QStringLiteral(CORVANE_CONSENT_ARTIFACTS));
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                   QStringLiteral(CORVANE_CONSENT_ARTIFACTS "/consent-question.png")});

    xdo({QStringLiteral("key"), QStringLiteral("space")});
    expectEntryKeepsFocus("after a Space");
    EXPECT_FALSE(telemetry.consentAnswer()) << "the Space answered the question";

    clickOn(window.findChild<QPushButton*>(QStringLiteral("consentAllowButton")));
    EXPECT_TRUE(waitFor([&] { return telemetry.consentAnswer() == true && !window.isVisible(); }, kPatienceMs));
    expectEntryKeepsFocus("after the answer");
}

TEST(ConsentOnDesktop, ThePermissionPromptAsksWithoutTakingTheFocus) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs the X11 test session";
    FocusedEntry entry;
    ASSERT_TRUE(entry.start()) << "zenity did not come up";

    platform::fake::FakeAccessibilityStatus session;
    session.current.enabled = false;
    trigger::AccessibilityPermission permission(session);
    app::PermissionPrompt prompt(permission);
    prompt.present();
    ASSERT_TRUE(viewable(prompt)) << "the prompt never appeared";
    entry.expectKeepsFocus("after the prompt appeared");
    QDir().mkpath(QStringLiteral(CORVANE_CONSENT_ARTIFACTS));
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                   QStringLiteral(CORVANE_CONSENT_ARTIFACTS "/permission-prompt.png")});

    xdo({QStringLiteral("key"), QStringLiteral("space")});
    entry.expectKeepsFocus("after a Space");
    EXPECT_EQ(session.enableCalls, 0) << "the Space answered the prompt";

    clickOn(prompt.findChild<QPushButton*>(QStringLiteral("permissionSwitchOnButton")));
    EXPECT_TRUE(waitFor([&] { return session.enableCalls == 1 && !prompt.isVisible(); }, kPatienceMs));
    entry.expectKeepsFocus("after the answer");
}

} // namespace
