#pragma once
// The settings window over real stores: preferences in an INI file in a temporary folder, keys in
// a memory keyring, a fake desktop and a virtual clock. The probe and the model list are scripted:
// they answer when the test advances the clock.
#include "platform/InstalledApps.h"
#include "platform/SecretStoreLocation.h"
#include "platform/fake/FakeAccessibilityStatus.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeHotkeyGrabber.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/linux/SettingsPreferences.h"
#include "services/TelemetryService.h"
#include "settings/SettingsView.h"
#include "stores/AppProfileStore.h"
#include "stores/KeychainHelper.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"
#include "trigger/AccessibilityPermission.h"
#include "trigger/HotkeyCenter.h"
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace corvane::settings::testing {

struct FakeApps final : platform::InstalledApps {
    QList<platform::InstalledApp> list() override {
        return {{QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor")},
                {QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox")}};
    }
};

struct FileKeys final : platform::SecretStoreLocation {
    bool usesSecretService() const override { return false; }
    QString fallbackReason() const override { return QStringLiteral("no Secret Service on the session bus"); }
    QString fallbackPath() const override { return QStringLiteral("/home/u/.local/share/corvane/secrets"); }
};

class SettingsTest : public ::testing::Test {
public:
    SettingsTest() {
        platform::Clock::setShared(&clock);
        deps.probe = [this](QString endpoint, llm::APIFormat, QString model, QString key, double) {
            probeCalls.append({endpoint, model, key});
            return scripted(probeAnswer);
        };
        deps.fetchModels = [this](QString, llm::APIFormat, QString) { return scriptedList(modelsAnswer); };
    }
    ~SettingsTest() override { platform::Clock::setShared(nullptr); }

    // The view is built on first use, so a test can prepare the stores before.
    SettingsView& view() {
        if (!m_view) {
            m_view = std::make_unique<SettingsView>(deps);
            m_view->show();
            QApplication::processEvents();
        }
        return *m_view;
    }
    template <typename T>
    T* find(const char* name) {
        T* widget = view().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // The value as the preferences file holds it now, read by a fresh reader.
    QString fileValue(const QString& key) {
        prefs.sync();
        QSettings file(prefs.filePath(), QSettings::IniFormat);
        return file.value(key).toString();
    }

    QCoro::Task<llm::ProbeOutcome<llm::ProbeResult>> scripted(llm::ProbeOutcome<llm::ProbeResult> answer) {
        co_await clock.sleep(100);
        co_return answer;
    }
    QCoro::Task<llm::ProbeOutcome<QStringList>> scriptedList(llm::ProbeOutcome<QStringList> answer) {
        co_await clock.sleep(100);
        co_return answer;
    }

    QTemporaryDir dir;
    platform::linux_::SettingsPreferences prefs{dir.filePath(QStringLiteral("corvane.conf"))};
    platform::fake::MemorySecretStore secrets;
    stores::KeychainHelper keychain{secrets};
    stores::SettingsStore settings{prefs, keychain};
    platform::fake::FakeClock clock;
    stores::RecipeStore recipes{prefs, clock, {QStringLiteral("en-US")}};
    stores::AppProfileStore rules{prefs, clock, {QStringLiteral("en-US")}};
    platform::fake::FakeHotkeyGrabber grabber;
    trigger::HotkeyCenter hotkeys{grabber, clock};
    platform::fake::FakeAccessibilityStatus status;
    trigger::AccessibilityPermission permission{status};
    platform::fake::FakeDesktop desktop{clock};
    platform::fake::FakeKeyboardLayout layout;
    services::TelemetryService telemetry{prefs, clock, settings, {}};
    FakeApps apps;
    FileKeys fileKeys;
    int feedbackOpened = 0;
    SettingsDependencies deps{.settings = settings,
                              .recipes = recipes,
                              .appRules = rules,
                              .preferences = prefs,
                              .hotkeys = hotkeys,
                              .permission = permission,
                              .activeApp = desktop,
                              .layout = layout,
                              .clock = clock,
                              .installedApps = &apps,
                              .keyStorage = &fileKeys,
                              .telemetry = &telemetry,
                              .updates = nullptr,
                              .openFeedback = [this] { ++feedbackOpened; },
                              .version = QStringLiteral("1.4.2")};

    struct ProbeCall {
        QString endpoint, model, key;
    };
    QList<ProbeCall> probeCalls;
    llm::ProbeOutcome<llm::ProbeResult> probeAnswer{llm::ProbeResult{42, QStringLiteral("Hello! How can I help?")}, {}};
    llm::ProbeOutcome<QStringList> modelsAnswer{QStringList{}, {}};

private:
    std::unique_ptr<SettingsView> m_view;
};

} // namespace corvane::settings::testing
