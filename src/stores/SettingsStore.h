#pragma once
// The user's settings. Nothing is cached: every getter reads the preferences (or the secret store)
// at the moment of the call and every setter writes through at once.
#include "llm/APIVendor.h"
#include "platform/SecretStore.h"
#include "stores/OutputLanguage.h"
#include <QMutex>
#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

namespace corvane::platform {
class Preferences;
}

namespace corvane::stores {

class KeychainHelper;

class SettingsStore : public QObject {
    Q_OBJECT
public:
    // Preference keys (three differ from the member names: apiVendor, apiFormat, outputLanguage).
    static constexpr const char* apiEndpointKey = "apiEndpoint";
    static constexpr const char* apiModelKey = "apiModel";
    static constexpr const char* apiVendorKey = "apiVendor";
    static constexpr const char* apiFormatKey = "apiFormat";
    static constexpr const char* apiTimeoutKey = "apiTimeout";
    static constexpr const char* triggerSpaceCountKey = "triggerSpaceCount";
    static constexpr const char* triggerIntervalMsKey = "triggerIntervalMs";
    static constexpr const char* cooldownSecondsKey = "cooldownSeconds";
    static constexpr const char* minTextLengthKey = "minTextLength";
    static constexpr const char* hotkeyEnabledKey = "hotkeyEnabled";
    static constexpr const char* hotkeyKeyCodeKey = "hotkeyKeyCode";
    static constexpr const char* hotkeyModifiersKey = "hotkeyModifiers";
    static constexpr const char* useBuiltInQuotaKey = "useBuiltInQuota";
    static constexpr const char* outputLanguageKey = "outputLanguage";
    static constexpr const char* legacyProviderKey = "apiProvider";
    // The endpoint the user gave the "custom" provider, kept while another provider is picked.
    static constexpr const char* apiCustomEndpointKey = "apiCustomEndpoint";
    // Where the device id lives when the secret store cannot keep it.
    static constexpr const char* deviceIDFallbackKey = "deviceIDFallback";
    // Secret-store accounts.
    static constexpr const char* apiKeyKey = "apiKey";
    static constexpr const char* deviceIDKey = "deviceID";

    // Runs the start-up migrations (vendor, format, built-in quota flag).
    SettingsStore(platform::Preferences& preferences, KeychainHelper& keychain, QObject* parent = nullptr);

    static SettingsStore& shared();
    static void setShared(SettingsStore* store);

    QString apiEndpoint() const;
    void setApiEndpoint(const QString& value);
    QString apiModel() const;
    void setApiModel(const QString& value);
    QString apiVendorID() const;
    void setApiVendorID(const QString& value);
    QString apiFormatRaw() const;
    void setApiFormatRaw(const QString& value);
    double apiTimeout() const;
    void setApiTimeout(double seconds);
    qint64 triggerSpaceCount() const;
    void setTriggerSpaceCount(qint64 value);
    double triggerIntervalMs() const;
    void setTriggerIntervalMs(double value);
    double cooldownSeconds() const;
    void setCooldownSeconds(double value);
    qint64 minTextLength() const;
    void setMinTextLength(qint64 value);
    bool hotkeyEnabled() const;
    void setHotkeyEnabled(bool value);
    qint64 hotkeyKeyCode() const;
    void setHotkeyKeyCode(qint64 value);
    qint64 hotkeyModifiers() const;
    void setHotkeyModifiers(qint64 value);
    bool useBuiltInQuota() const;
    void setUseBuiltInQuota(bool value);
    QString outputLanguageRaw() const;
    void setOutputLanguageRaw(const QString& value);
    // "" when none is kept; an empty value removes it.
    QString customApiEndpoint() const;
    void setCustomApiEndpoint(const QString& value);

    // The stored language, or Auto when the stored text is no raw value.
    OutputLanguage outputLanguage() const;
    void setOutputLanguage(OutputLanguage language);
    // The catalog row of apiVendorID (the first row when the id is unknown).
    llm::APIVendor vendor() const;
    // The stored format, or OpenAI when the stored text is no raw value.
    llm::APIFormat format() const;

    // The single key of an older version (account "apiKey"), or "".
    QString legacyApiKey() const;
    // An empty value deletes the item.
    void setLegacyApiKey(const QString& value);

    // The vendor's own key, else its legacy-named key, else the legacy single key, else "". An item
    // in a locked keyring, or a keyring that does not answer, ends the search: an older key must
    // not stand in for it.
    QString apiKey(const QString& vendorId) const;
    // Stores the key as given; legacy items holding the same key are deleted. An empty key deletes
    // the vendor's item and the older items its lookup would fall back to (the vendor's legacy-named
    // item and the single key of an older version), so that a removed key stays removed. Tells
    // whether the key was stored (or the items deleted), and the cause when not.
    platform::SecretResult setApiKey(const QString& key, const QString& vendorId);
    bool hasApiKey(const QString& vendorId) const;
    bool hasApiKey() const;

    enum class KeyAccess { Present, Absent, Locked, Unavailable };
    // Whether the current vendor has a key, whether it sits in a keyring that is locked, or whether
    // the keyring cannot be asked at all.
    KeyAccess apiKeyAccess() const;
    // Asks the desktop to unlock the keyring holding the current vendor's key (its own prompt; the
    // event loop runs while the user answers). True when the key can be read now.
    QCoro::Task<bool> unlockApiKey();

    // The anonymous install id: made once (upper-case UUID), then the same on every read.
    QString deviceID();

    static QString defaultApiEndpoint();

private:
    void migrate();
    struct KeyRead {
        QString key;
        QString lockedAccount; // the first account found in a locked keyring
        bool unavailable = false; // the keyring did not answer before a key was found
    };
    KeyRead readApiKey(const QString& vendorId) const;

    platform::Preferences& m_prefs;
    KeychainHelper& m_keychain;
    QMutex m_deviceIDMutex;
};

} // namespace corvane::stores
