#include "stores/SettingsStore.h"
#include "platform/Preferences.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/StoredJson.h"
#include <atomic>

namespace corvane::stores {

namespace {
std::atomic<SettingsStore*> g_shared{nullptr};

QString key(const char* name) { return QString::fromLatin1(name); }
QString vendorAccount(const QString& vendorId) { return QStringLiteral("apiKey.") + vendorId; }
} // namespace

SettingsStore& SettingsStore::shared() {
    SettingsStore* store = g_shared.load();
    if (!store)
        qFatal("SettingsStore::shared() used before the composition root set it");
    return *store;
}

void SettingsStore::setShared(SettingsStore* store) { g_shared.store(store); }

QString SettingsStore::defaultApiEndpoint() { return llm::APIVendor::all().first().endpoint; }

SettingsStore::SettingsStore(platform::Preferences& preferences, KeychainHelper& keychain, QObject* parent)
    : QObject(parent), m_prefs(preferences), m_keychain(keychain) {
    migrate();
}

void SettingsStore::migrate() {
    if (!m_prefs.contains(key(apiVendorKey))) {
        const QString legacy = m_prefs.string(key(legacyProviderKey)).value_or(QStringLiteral("OpenAI"));
        m_prefs.setValue(key(apiVendorKey), llm::APIVendor::legacyIDMap().value(legacy, QStringLiteral("openai")));
    }
    if (!m_prefs.contains(key(apiFormatKey)))
        m_prefs.setValue(key(apiFormatKey), llm::APIFormat(llm::APIFormat::OpenAI).rawValue());
    if (m_prefs.boolean(key(useBuiltInQuotaKey)).value_or(false))
        m_prefs.setValue(key(useBuiltInQuotaKey), false);
}

QString SettingsStore::apiEndpoint() const { return m_prefs.string(key(apiEndpointKey)).value_or(defaultApiEndpoint()); }
void SettingsStore::setApiEndpoint(const QString& value) { m_prefs.setValue(key(apiEndpointKey), value); }

QString SettingsStore::customApiEndpoint() const { return m_prefs.string(key(apiCustomEndpointKey)).value_or(QString()); }
void SettingsStore::setCustomApiEndpoint(const QString& value) {
    if (value.isEmpty())
        m_prefs.remove(key(apiCustomEndpointKey));
    else
        m_prefs.setValue(key(apiCustomEndpointKey), value);
}

QString SettingsStore::apiModel() const { return m_prefs.string(key(apiModelKey)).value_or(QStringLiteral("gpt-4o")); }
void SettingsStore::setApiModel(const QString& value) { m_prefs.setValue(key(apiModelKey), value); }

QString SettingsStore::apiVendorID() const { return m_prefs.string(key(apiVendorKey)).value_or(QStringLiteral("openai")); }
void SettingsStore::setApiVendorID(const QString& value) { m_prefs.setValue(key(apiVendorKey), value); }

QString SettingsStore::apiFormatRaw() const {
    return m_prefs.string(key(apiFormatKey)).value_or(llm::APIFormat(llm::APIFormat::OpenAI).rawValue());
}
void SettingsStore::setApiFormatRaw(const QString& value) { m_prefs.setValue(key(apiFormatKey), value); }

double SettingsStore::apiTimeout() const { return m_prefs.number(key(apiTimeoutKey)).value_or(30.0); }
void SettingsStore::setApiTimeout(double seconds) { m_prefs.setValue(key(apiTimeoutKey), seconds); }

qint64 SettingsStore::triggerSpaceCount() const { return m_prefs.integer(key(triggerSpaceCountKey)).value_or(3); }
void SettingsStore::setTriggerSpaceCount(qint64 value) { m_prefs.setValue(key(triggerSpaceCountKey), value); }

double SettingsStore::triggerIntervalMs() const { return m_prefs.number(key(triggerIntervalMsKey)).value_or(500.0); }
void SettingsStore::setTriggerIntervalMs(double value) { m_prefs.setValue(key(triggerIntervalMsKey), value); }

double SettingsStore::cooldownSeconds() const { return m_prefs.number(key(cooldownSecondsKey)).value_or(2.0); }
void SettingsStore::setCooldownSeconds(double value) { m_prefs.setValue(key(cooldownSecondsKey), value); }

qint64 SettingsStore::minTextLength() const { return m_prefs.integer(key(minTextLengthKey)).value_or(10); }
void SettingsStore::setMinTextLength(qint64 value) { m_prefs.setValue(key(minTextLengthKey), value); }

bool SettingsStore::hotkeyEnabled() const { return m_prefs.boolean(key(hotkeyEnabledKey)).value_or(true); }
void SettingsStore::setHotkeyEnabled(bool value) { m_prefs.setValue(key(hotkeyEnabledKey), value); }

qint64 SettingsStore::hotkeyKeyCode() const { return m_prefs.integer(key(hotkeyKeyCodeKey)).value_or(49); }
void SettingsStore::setHotkeyKeyCode(qint64 value) { m_prefs.setValue(key(hotkeyKeyCodeKey), value); }

// Ctrl+Alt+Space unless the user recorded another: Alt+Space alone opens the window menu on most
// Linux desktops, which then refuse it to anyone else. A stored value is always the user's.
qint64 SettingsStore::hotkeyModifiers() const {
    return m_prefs.integer(key(hotkeyModifiersKey)).value_or(0x40000 | 0x80000);
}
void SettingsStore::setHotkeyModifiers(qint64 value) { m_prefs.setValue(key(hotkeyModifiersKey), value); }

bool SettingsStore::useBuiltInQuota() const { return m_prefs.boolean(key(useBuiltInQuotaKey)).value_or(false); }
void SettingsStore::setUseBuiltInQuota(bool value) { m_prefs.setValue(key(useBuiltInQuotaKey), value); }

QString SettingsStore::outputLanguageRaw() const {
    return m_prefs.string(key(outputLanguageKey)).value_or(OutputLanguage(OutputLanguage::Auto).rawValue());
}
void SettingsStore::setOutputLanguageRaw(const QString& value) { m_prefs.setValue(key(outputLanguageKey), value); }

OutputLanguage SettingsStore::outputLanguage() const {
    return OutputLanguage::fromRawValue(outputLanguageRaw()).value_or(OutputLanguage::Auto);
}
void SettingsStore::setOutputLanguage(OutputLanguage language) { setOutputLanguageRaw(language.rawValue()); }

llm::APIVendor SettingsStore::vendor() const { return llm::APIVendor::by(apiVendorID()); }

llm::APIFormat SettingsStore::format() const {
    return llm::APIFormat::fromRawValue(apiFormatRaw()).value_or(llm::APIFormat::OpenAI);
}

QString SettingsStore::legacyApiKey() const { return m_keychain.load(key(apiKeyKey)).value_or(QString()); }

void SettingsStore::setLegacyApiKey(const QString& value) {
    if (value.isEmpty())
        m_keychain.remove(key(apiKeyKey));
    else
        m_keychain.save(key(apiKeyKey), value);
}

SettingsStore::KeyRead SettingsStore::readApiKey(const QString& vendorId) const {
    QStringList accounts{vendorAccount(vendorId)};
    if (const auto legacyName = llm::APIVendor::legacyName(vendorId))
        accounts << vendorAccount(*legacyName);
    accounts << key(apiKeyKey);
    for (const QString& account : std::as_const(accounts)) {
        const platform::SecretLookup found = m_keychain.lookup(account);
        if (found.secret && !found.secret->isEmpty())
            return {*found.secret, {}};
        if (found.locked)
            return {{}, account};
        if (found.unavailable)
            return {{}, {}, true};
    }
    return {};
}

QString SettingsStore::apiKey(const QString& vendorId) const { return readApiKey(vendorId).key; }

platform::SecretResult SettingsStore::setApiKey(const QString& apiKeyValue, const QString& vendorId) {
    const std::optional<QString> legacyName = llm::APIVendor::legacyName(vendorId);
    if (apiKeyValue.isEmpty()) {
        // The lookup falls back to the older items: they go too, or the removed key would come back.
        QStringList accounts{vendorAccount(vendorId)};
        if (legacyName)
            accounts << vendorAccount(*legacyName);
        accounts << key(apiKeyKey);
        for (const QString& account : std::as_const(accounts)) {
            if (platform::SecretResult removed = m_keychain.remove(account); !removed) {
                DiagLog::event(QStringLiteral("SettingsStore: the API key for %1 could not be removed").arg(vendorId));
                return removed;
            }
        }
        return {true, {}};
    }
    // Legacy copies are deleted only once the new item is safely stored.
    if (platform::SecretResult saved = m_keychain.save(vendorAccount(vendorId), apiKeyValue); !saved) {
        DiagLog::event(QStringLiteral("SettingsStore: the API key for %1 could not be stored").arg(vendorId));
        return saved;
    }
    if (legacyApiKey() == apiKeyValue)
        m_keychain.remove(key(apiKeyKey));
    if (legacyName && m_keychain.load(vendorAccount(*legacyName)) == apiKeyValue)
        m_keychain.remove(vendorAccount(*legacyName));
    return {true, {}};
}

bool SettingsStore::hasApiKey(const QString& vendorId) const { return !apiKey(vendorId).isEmpty(); }

bool SettingsStore::hasApiKey() const { return hasApiKey(apiVendorID()); }

SettingsStore::KeyAccess SettingsStore::apiKeyAccess() const {
    const KeyRead read = readApiKey(apiVendorID());
    if (!read.key.isEmpty())
        return KeyAccess::Present;
    if (!read.lockedAccount.isEmpty())
        return KeyAccess::Locked;
    return read.unavailable ? KeyAccess::Unavailable : KeyAccess::Absent;
}

QCoro::Task<bool> SettingsStore::unlockApiKey() {
    const QString account = readApiKey(apiVendorID()).lockedAccount;
    if (!account.isEmpty())
        co_await m_keychain.unlock(account);
    co_return apiKeyAccess() == KeyAccess::Present;
}

// Made once and kept: in the secret store when it works, else under a preference key. Reads are
// serialised so two first reads cannot each make an id.
QString SettingsStore::deviceID() {
    QMutexLocker lock(&m_deviceIDMutex);
    if (const auto stored = m_keychain.load(key(deviceIDKey)); stored && !stored->isEmpty())
        return *stored;
    if (const auto kept = m_prefs.string(key(deviceIDFallbackKey)); kept && !kept->isEmpty())
        return *kept;
    const QString id = storedjson::newUuidText();
    // Only an id that reads back is trusted to the secret store; otherwise the next read would not
    // find it and would make another.
    if (m_keychain.save(key(deviceIDKey), id) && m_keychain.load(key(deviceIDKey)) == id)
        return id;
    m_prefs.setValue(key(deviceIDFallbackKey), id);
    DiagLog::event(QStringLiteral("SettingsStore: the secret store cannot keep the device id; it is kept in the "
                                  "preferences"));
    return id;
}

} // namespace corvane::stores
