#pragma once
// Everything the settings window reads and edits, handed in by the composition root (or a test).
#include "llm/LLMClient.h"
#include <QString>
#include <functional>
#include <qcoro/qcorotask.h>

namespace corvane::platform {
class ActiveApp;
class Clock;
class InstalledApps;
class KeyboardLayout;
class Preferences;
class SecretStoreLocation;
} // namespace corvane::platform

namespace corvane::stores {
class AppProfileStore;
class RecipeStore;
class SettingsStore;
} // namespace corvane::stores

namespace corvane::trigger {
class AccessibilityPermission;
class HotkeyCenter;
} // namespace corvane::trigger

namespace corvane::services {
class TelemetryService;
class UpdateService;
} // namespace corvane::services

namespace corvane::settings {

using ProbeFunction = std::function<QCoro::Task<llm::ProbeOutcome<llm::ProbeResult>>(
    QString endpoint, llm::APIFormat format, QString model, QString apiKey, double timeout)>;
using FetchModelsFunction = std::function<QCoro::Task<llm::ProbeOutcome<QStringList>>(
    QString endpoint, llm::APIFormat format, QString apiKey)>;

struct SettingsDependencies {
    stores::SettingsStore& settings;
    stores::RecipeStore& recipes;
    stores::AppProfileStore& appRules;
    platform::Preferences& preferences; // the update switches
    trigger::HotkeyCenter& hotkeys;
    trigger::AccessibilityPermission& permission;
    platform::ActiveApp& activeApp;
    platform::KeyboardLayout& layout;
    platform::Clock& clock;
    platform::InstalledApps* installedApps = nullptr;          // app-id suggestions
    const platform::SecretStoreLocation* keyStorage = nullptr; // where keys live
    services::TelemetryService* telemetry = nullptr;
    services::UpdateService* updates = nullptr;
    std::function<void()> openFeedback;
    ProbeFunction probe = [](QString endpoint, llm::APIFormat format, QString model, QString apiKey, double timeout) {
        return llm::LLMClient::probe(std::move(endpoint), format, std::move(model), std::move(apiKey), timeout);
    };
    FetchModelsFunction fetchModels = [](QString endpoint, llm::APIFormat format, QString apiKey) {
        return llm::LLMClient::fetchModelIDs(std::move(endpoint), format, std::move(apiKey));
    };
    QString version;
};

} // namespace corvane::settings
