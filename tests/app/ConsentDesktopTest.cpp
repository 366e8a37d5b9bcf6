// The consent question on a real X server with a window manager (inside the headless test session):
// while a GTK entry has the focus, the question appears and is answered with the real pointer, and
// the entry keeps _NET_ACTIVE_WINDOW and the input focus throughout.
#include "app/ConsentWindow.h"
#include "platform/SystemClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "services/TelemetryService.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include "support/DesktopProcess.h"
#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testsupport;

namespace {

constexpr int kPatienceMs = 5000;

QString xdo(const QStringList& args) { return run(QStringLiteral("xdotool"), args).trimmed(); }
quint64 activeWindow() { return xdo({QStringLiteral("getactivewindow")}).toULongLong(); }
quint64 focusWindow() { return xdo({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}).toULongLong(); }

TEST(ConsentOnDesktop, TheQuestionLeavesTheFocusOnTheApplication) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs the X11 test session";
    TestProcess zenity(QStringLiteral("zenity"), {QStringLiteral("--entry"), QStringLiteral("--title=corvane-consent-test"),
                                                  QStringLiteral("--entry-text=typing here")});
    QString id;
    ASSERT_TRUE(waitFor([&id] {
        id = xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                  QStringLiteral("corvane-consent-test")}).section(QLatin1Char('\n'), 0, 0);
        return !id.isEmpty();
    }, 10000)) << "zenity did not come up";
    xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
    ASSERT_TRUE(waitFor([&id] { return activeWindow() == id.toULongLong(); }, kPatienceMs));
    const quint64 entryFocus = focusWindow();
    const auto expectEntryKeepsFocus = [&](const char* step) {
        settle(150);
        EXPECT_EQ(activeWindow(), id.toULongLong()) << step;
        EXPECT_EQ(focusWindow(), entryFocus) << step;
    };

    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    stores::KeychainHelper keychain(secrets);
    stores::SettingsStore settings(prefs, keychain);
    platform::SystemClock clock;
    services::TelemetryService telemetry(prefs, clock, settings, {});
    app::ConsentWindow window(telemetry);
    window.present();
    ASSERT_TRUE(waitFor([&window] {
        return run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window.winId())})
            .contains(QLatin1String("IsViewable"));
    }, kPatienceMs)) << "the question never appeared";
    expectEntryKeepsFocus("after the question appeared");
    QDir().mkpath(QStringLiteral(CORVANE_CONSENT_ARTIFACTS));
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                   QStringLiteral(CORVANE_CONSENT_ARTIFACTS "/consent-question.png")});

    xdo({QStringLiteral("key"), QStringLiteral("space")});
    expectEntryKeepsFocus("after a Space");
    EXPECT_FALSE(telemetry.consentAnswer()) << "the Space went to the entry";

    auto* allow = window.findChild<QPushButton*>(QStringLiteral("consentAllowButton"));
    const QPoint p = allow->mapToGlobal(allow->rect().center());
    xdo({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()), QString::number(p.y())});
    xdo({QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(waitFor([&telemetry] { return telemetry.consentAnswer().has_value(); }, kPatienceMs));
    EXPECT_EQ(telemetry.consentAnswer(), true);
    EXPECT_TRUE(waitFor([&window] { return !window.isVisible(); }, kPatienceMs));
    expectEntryKeepsFocus("after the answer");
}

} // namespace
