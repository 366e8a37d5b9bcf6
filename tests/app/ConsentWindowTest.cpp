// The consent question: it never takes the keyboard focus, Space or Enter cannot answer it, and each
// button stores its answer.
#include "app/ConsentWindow.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "services/TelemetryService.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace corvane;

TEST(ConsentWindow, NeverTakesTheFocusAndEachButtonStoresItsAnswer) {
    for (bool allow : {true, false}) {
        platform::fake::MemoryPreferences prefs;
        platform::fake::MemorySecretStore secrets;
        stores::KeychainHelper keychain(secrets);
        stores::SettingsStore settings(prefs, keychain);
        platform::fake::FakeClock clock;
        services::TelemetryService telemetry(prefs, clock, settings, {});
        app::ConsentWindow window(telemetry);
        window.present();
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        EXPECT_TRUE(window.testAttribute(Qt::WA_ShowWithoutActivating));
        const auto buttons = window.findChildren<QPushButton*>();
        ASSERT_EQ(buttons.size(), 2);
        for (QPushButton* b : buttons) {
            EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
            EXPECT_FALSE(b->isDefault() || b->autoDefault()) << b->objectName().toStdString();
        }
        QTest::keyClick(&window, Qt::Key_Space);
        QTest::keyClick(&window, Qt::Key_Return);
        EXPECT_FALSE(telemetry.consentAnswer()) << "keys answer nothing";

        auto* button = window.findChild<QPushButton*>(allow ? QStringLiteral("consentAllowButton")
                                                            : QStringLiteral("consentDenyButton"));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(telemetry.consentAnswer(), allow);
        EXPECT_FALSE(window.isVisible());
    }
}
