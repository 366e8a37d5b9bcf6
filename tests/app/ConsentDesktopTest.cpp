// The consent question on a real X server with a window manager (inside the headless test session):
// while a GTK entry has the focus, the question appears, a Space goes to the entry, and the answer
// is clicked with the real pointer; the entry keeps _NET_ACTIVE_WINDOW and the input focus throughout.
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

QString xdo(const QStringList& args) { return run(QStringLiteral("xdotool"), args).trimmed(); }

TEST(ConsentOnDesktop, TheQuestionLeavesTheFocusOnTheApplication) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs the X11 test session";
    TestProcess zenity(QStringLiteral("zenity"), {QStringLiteral("--entry"), QStringLiteral("--title=corvane-consent")});
    QString entry;
    ASSERT_TRUE(waitFor([&entry] {
        entry = xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                     QStringLiteral("corvane-consent")}).section(QLatin1Char('\n'), 0, 0);
        return !entry.isEmpty();
    }, 10000)) << "zenity did not come up";
    xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), entry});
    ASSERT_TRUE(waitFor([&entry] { return xdo({QStringLiteral("getactivewindow")}) == entry; }, 5000));
    const QString entryFocus = xdo({QStringLiteral("getwindowfocus"), QStringLiteral("-f")});
    const auto expectEntryKeepsFocus = [&](const char* step) {
        settle(150);
        EXPECT_EQ(xdo({QStringLiteral("getactivewindow")}), entry) << step;
        EXPECT_EQ(xdo({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}), entryFocus) << step;
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
    }, 5000)) << "the question never appeared";
    expectEntryKeepsFocus("after the question appeared");
    QDir().mkpath(QStringLiteral(CORVANE_CONSENT_ARTIFACTS));
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                   QStringLiteral(CORVANE_CONSENT_ARTIFACTS "/consent-question.png")});

    xdo({QStringLiteral("key"), QStringLiteral("space")});
    expectEntryKeepsFocus("after a Space");
    EXPECT_FALSE(telemetry.consentAnswer()) << "the Space answered the question";

    const auto* allow = window.findChild<QPushButton*>(QStringLiteral("consentAllowButton"));
    const QPoint p = allow->mapToGlobal(allow->rect().center());
    xdo({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()), QString::number(p.y())});
    xdo({QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(waitFor([&] { return telemetry.consentAnswer() == true && !window.isVisible(); }, 5000));
    expectEntryKeepsFocus("after the answer");
}

} // namespace
