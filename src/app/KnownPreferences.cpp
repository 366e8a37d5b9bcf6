#include "app/KnownPreferences.h"
#include "app/AppDelegate.h"
#include "panel/RestoreSnapshot.h"
#include "services/TelemetryService.h"
#include "services/UpdateService.h"
#include "stores/AppProfileStore.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"
#include "stores/StoredJson.h"
#include <QRegularExpression>

namespace corvane::app {

namespace {

using stores::SettingsStore, stores::RecipeStore, services::TelemetryService, services::UpdateService;

// One setting: an address, a name, a number, a flag, a short message.
constexpr qsizetype kSetting = 64 * 1024;
// A JSON list or a prompt text. The largest, the activity log, holds at most 200 records of two
// previews cut to 80 characters and a few short notes each: a few megabytes at the very most.
constexpr qsizetype kList = 16 * 1024 * 1024;

struct Known {
    const char* key;
    qsizetype limit;
};

constexpr Known kKnown[] = {
    {SettingsStore::apiEndpointKey, kSetting},
    {SettingsStore::apiCustomEndpointKey, kSetting},
    {SettingsStore::apiModelKey, kSetting},
    {SettingsStore::apiVendorKey, kSetting},
    {SettingsStore::apiFormatKey, kSetting},
    {SettingsStore::apiTimeoutKey, kSetting},
    {SettingsStore::triggerSpaceCountKey, kSetting},
    {SettingsStore::triggerIntervalMsKey, kSetting},
    {SettingsStore::cooldownSecondsKey, kSetting},
    {SettingsStore::minTextLengthKey, kSetting},
    {SettingsStore::hotkeyEnabledKey, kSetting},
    {SettingsStore::hotkeyKeyCodeKey, kSetting},
    {SettingsStore::hotkeyModifiersKey, kSetting},
    {SettingsStore::useBuiltInQuotaKey, kSetting},
    {SettingsStore::outputLanguageKey, kSetting},
    {SettingsStore::legacyProviderKey, kSetting},
    {SettingsStore::deviceIDFallbackKey, kSetting},
    {RecipeStore::selectedKey, kSetting},
    {RecipeStore::migratedKey, kSetting},
    {RecipeStore::legacyPromptKey, kList},
    {RecipeStore::userKey, kList},
    {RecipeStore::overrideKey, kList},
    {stores::AppProfileStore::storageKey, kList},
    {stores::OptimizationLogger::storageKey, kList},
    {TelemetryService::consentKey, kSetting},
    {TelemetryService::queueKey, kList},
    {TelemetryService::launchCountKey, kSetting},
    {TelemetryService::debugHostKey, kSetting},
    {UpdateService::minVersionKey, kSetting},
    {UpdateService::autoCheckKey, kSetting},
    {UpdateService::autoInstallKey, kSetting},
    {UpdateService::lastErrorKey, kSetting},
    {UpdateService::debugHostKey, kSetting},
    {UpdateService::newestManifestKey, kSetting},
    {panel::RestoreSnapshot::preferenceKey, kList},
    {AppDelegate::hotkeyRefusalsToldKey, kSetting},
};

// The JSON values whose unreadable contents are kept aside under "<key>.corrupt-<stamp>".
constexpr const char* kJsonSlots[] = {RecipeStore::userKey, RecipeStore::overrideKey, RecipeStore::legacyPromptKey,
                                      stores::AppProfileStore::storageKey, stores::OptimizationLogger::storageKey};

} // namespace

qsizetype knownPreferenceLimit(const QString& key) {
    for (const Known& known : kKnown)
        if (key == QLatin1String(known.key))
            return known.limit;
    // Only as StoredJson::keepAside names them: whole seconds, then "-2", "-3"... when taken.
    static const QRegularExpression stamp(QStringLiteral("^-?[0-9]{1,19}(-[1-9][0-9]{0,8})?$"));
    for (const char* slot : kJsonSlots)
        if (const QString prefix = QLatin1String(slot) + QLatin1String(stores::StoredJson::keptAsideMark);
            key.startsWith(prefix) && stamp.match(key.mid(prefix.size())).hasMatch())
            return kList;
    return 0;
}

} // namespace corvane::app
