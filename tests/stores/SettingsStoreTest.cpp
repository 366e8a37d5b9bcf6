#include "StoresFixture.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include <QSet>
#include <QThread>
#include <QUuid>
#include <latch>
#include <memory>

using namespace corvane::stores;
using corvane::llm::APIFormat;

namespace {

const QString kService = QString::fromLatin1(KeychainHelper::service);

class SettingsStoreTest : public test::StoresTest {
protected:
    test::SaveRefusingStore refusing{secrets};
    KeychainHelper keychain{refusing};

    std::unique_ptr<SettingsStore> start() { return std::make_unique<SettingsStore>(prefs, keychain); }
    void putSecret(const QString& account, const QString& value) { secrets.save(kService, account, value); }
    bool hasSecret(const QString& account) const { return secrets.has(kService, account); }
};

TEST_F(SettingsStoreTest, FreshStartWritesOnlyVendorAndFormatAndReadsDefaults) {
    auto s = start();
    EXPECT_EQ(keys(), (QSet<QString>{QStringLiteral("apiVendor"), QStringLiteral("apiFormat")}));
    EXPECT_EQ(prefs.string(QStringLiteral("apiVendor")), QStringLiteral("openai"));
    EXPECT_EQ(prefs.string(QStringLiteral("apiFormat")), QStringLiteral("openai"));

    EXPECT_EQ(s->apiEndpoint(), corvane::llm::APIVendor::by(QStringLiteral("openai")).endpoint);
    EXPECT_EQ(s->apiModel(), QStringLiteral("gpt-4o"));
    EXPECT_EQ(s->apiTimeout(), 30.0);
    EXPECT_EQ(s->triggerSpaceCount(), 3);
    EXPECT_EQ(s->triggerIntervalMs(), 500.0);
    EXPECT_EQ(s->cooldownSeconds(), 2.0);
    EXPECT_EQ(s->minTextLength(), 10);
    EXPECT_TRUE(s->hotkeyEnabled());
    EXPECT_EQ(s->hotkeyKeyCode(), 49);
    EXPECT_EQ(s->hotkeyModifiers(), 0xC0000); // Ctrl+Alt: Alt+Space belongs to the window menu
    EXPECT_FALSE(s->useBuiltInQuota());
    EXPECT_EQ(s->outputLanguage(), OutputLanguage::Auto);
    EXPECT_FALSE(s->hasApiKey());
    // Getters never write their defaults.
    EXPECT_EQ(keys().size(), 2);
    EXPECT_TRUE(secrets.accounts(kService).isEmpty());
}

TEST_F(SettingsStoreTest, VendorMigrationFromLegacyProviderName) {
    struct Case {
        const char* provider; // nullptr: nothing stored
        const char* vendor;   // stored before start, nullptr: nothing
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "openai"},   {"DeepSeek", nullptr, "deepseek"}, {"硅基流动", nullptr, "siliconflow"},
        {"智谱", nullptr, "zhipu"},     {"自定义", nullptr, "custom"},     {"OpenAI", nullptr, "openai"},
        {"Groq", nullptr, "openai"},    {"deepseek", nullptr, "openai"},   {"DeepSeek", "gemini", "gemini"},
        {"DeepSeek", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.provider ? c.provider : "(none)") + " / " + (c.vendor ? c.vendor : "(none)"));
        prefs.clear();
        if (c.provider)
            prefs.setValue(QStringLiteral("apiProvider"), QString::fromUtf8(c.provider));
        if (c.vendor)
            prefs.setValue(QStringLiteral("apiVendor"), QString::fromUtf8(c.vendor));
        auto s = start();
        EXPECT_EQ(s->apiVendorID(), QString::fromUtf8(c.expected));
        // The legacy key is read only, never written or removed.
        EXPECT_EQ(prefs.contains(QStringLiteral("apiProvider")), c.provider != nullptr);
    }
}

TEST_F(SettingsStoreTest, FormatMigrationAndFallbacks) {
    struct Case {
        const char* stored;
        const char* raw;
        APIFormat format;
    };
    const Case cases[] = {{nullptr, "openai", APIFormat::OpenAI},
                          {"anthropic", "anthropic", APIFormat::Anthropic},
                          {"gemini", "gemini", APIFormat::Gemini},
                          {"Gemini", "Gemini", APIFormat::OpenAI},
                          {"", "", APIFormat::OpenAI}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(none)");
        prefs.clear();
        prefs.setValue(QStringLiteral("apiVendor"), QStringLiteral("anthropic"));
        if (c.stored)
            prefs.setValue(QStringLiteral("apiFormat"), QString::fromLatin1(c.stored));
        auto s = start();
        EXPECT_EQ(s->apiFormatRaw(), QString::fromLatin1(c.raw));
        EXPECT_EQ(s->format(), c.format);
    }
}

TEST_F(SettingsStoreTest, BuiltInQuotaIsForcedOffAtEveryStart) {
    for (QVariant stored : {QVariant(true), QVariant(QStringLiteral("true")), QVariant(1), QVariant(false)}) {
        SCOPED_TRACE(stored.toString().toStdString());
        prefs.clear();
        prefs.setValue(QStringLiteral("useBuiltInQuota"), stored);
        auto s = start();
        EXPECT_FALSE(s->useBuiltInQuota());
        // Another writer may set it while running; the next start clears it again.
        s->setUseBuiltInQuota(true);
        EXPECT_TRUE(s->useBuiltInQuota());
        s = start();
        EXPECT_FALSE(s->useBuiltInQuota());
    }
}

TEST_F(SettingsStoreTest, EachSettingWritesItsOwnKeyAndParsesIniText) {
    auto s = start();
    prefs.clear();
    s->setApiVendorID(QStringLiteral("groq"));
    s->setApiFormatRaw(QStringLiteral("gemini"));
    s->setOutputLanguage(OutputLanguage::German);
    s->setHotkeyModifiers(0x100000 | 0x20000);
    EXPECT_EQ(keys(), (QSet<QString>{QStringLiteral("apiVendor"), QStringLiteral("apiFormat"),
                                     QStringLiteral("outputLanguage"), QStringLiteral("hotkeyModifiers")}));
    EXPECT_EQ(prefs.string(QStringLiteral("outputLanguage")), QStringLiteral("de"));
    EXPECT_EQ(s->hotkeyModifiers(), 0x120000);

    // What an INI file hands back after a restart: text.
    prefs.setValue(QStringLiteral("triggerIntervalMs"), QStringLiteral("350.5"));
    prefs.setValue(QStringLiteral("minTextLength"), QStringLiteral("7"));
    prefs.setValue(QStringLiteral("hotkeyEnabled"), QStringLiteral("false"));
    EXPECT_EQ(s->triggerIntervalMs(), 350.5);
    EXPECT_EQ(s->minTextLength(), 7);
    EXPECT_FALSE(s->hotkeyEnabled());
    // Alt+Space recorded by an earlier version stays the user's shortcut.
    prefs.setValue(QStringLiteral("hotkeyModifiers"), QStringLiteral("524288"));
    EXPECT_EQ(s->hotkeyModifiers(), 0x80000);
    // Garbage reads as the default rather than as zero.
    prefs.setValue(QStringLiteral("triggerSpaceCount"), QStringLiteral("many"));
    EXPECT_EQ(s->triggerSpaceCount(), 3);
}

TEST_F(SettingsStoreTest, OutputLanguageReadsAutoForAnythingButARawValue) {
    auto s = start();
    for (const char* raw : {"EN", "zh", "", "english", "de "}) {
        s->setOutputLanguageRaw(QString::fromLatin1(raw));
        EXPECT_EQ(s->outputLanguage(), OutputLanguage::Auto) << raw;
    }
    s->setOutputLanguageRaw(QStringLiteral("zh-Hant"));
    EXPECT_EQ(s->outputLanguage(), OutputLanguage::TradChinese);
}

TEST_F(SettingsStoreTest, ApiKeyLookupFallsBackThroughLegacyAccounts) {
    auto s = start();
    // Only the single key of an older version: it serves every vendor.
    putSecret(QStringLiteral("apiKey"), QStringLiteral("sk-legacy"));
    for (const char* vendor : {"openai", "deepseek", "custom", "unknown"})
        EXPECT_EQ(s->apiKey(QString::fromLatin1(vendor)), QStringLiteral("sk-legacy")) << vendor;
    EXPECT_TRUE(s->hasApiKey());

    // An empty own item is skipped in favour of the old display-name item.
    putSecret(QStringLiteral("apiKey.openai"), QString());
    putSecret(QStringLiteral("apiKey.OpenAI"), QStringLiteral("sk-old-name"));
    EXPECT_EQ(s->apiKey(QStringLiteral("openai")), QStringLiteral("sk-old-name"));
    putSecret(QStringLiteral("apiKey.openai"), QStringLiteral("sk-own"));
    EXPECT_EQ(s->apiKey(QStringLiteral("openai")), QStringLiteral("sk-own"));
    // Old-name items belong to their vendor only.
    putSecret(QStringLiteral("apiKey.硅基流动"), QStringLiteral("sk-sf"));
    EXPECT_EQ(s->apiKey(QStringLiteral("siliconflow")), QStringLiteral("sk-sf"));
    EXPECT_EQ(s->apiKey(QStringLiteral("zhipu")), QStringLiteral("sk-legacy"));
    // The lookup never writes.
    EXPECT_FALSE(hasSecret(QStringLiteral("apiKey.siliconflow")));
}

TEST_F(SettingsStoreTest, SavingAKeyRetiresOnlyLegacyCopiesOfTheSameKey) {
    auto s = start();
    putSecret(QStringLiteral("apiKey"), QStringLiteral("sk-A"));
    putSecret(QStringLiteral("apiKey.DeepSeek"), QStringLiteral("sk-A"));

    s->setApiKey(QStringLiteral("sk-B"), QStringLiteral("openai"));
    EXPECT_TRUE(hasSecret(QStringLiteral("apiKey"))) << "a different key leaves the legacy item";
    EXPECT_EQ(s->apiKey(QStringLiteral("groq")), QStringLiteral("sk-A"));

    s->setApiKey(QStringLiteral("sk-A"), QStringLiteral("deepseek"));
    EXPECT_FALSE(hasSecret(QStringLiteral("apiKey")));
    EXPECT_FALSE(hasSecret(QStringLiteral("apiKey.DeepSeek")));
    EXPECT_EQ(s->apiKey(QStringLiteral("deepseek")), QStringLiteral("sk-A"));
    EXPECT_EQ(s->apiKey(QStringLiteral("groq")), QString());

    // Keys are stored exactly as typed.
    s->setApiKey(QStringLiteral("  sk-with-spaces \n"), QStringLiteral("groq"));
    EXPECT_EQ(s->apiKey(QStringLiteral("groq")), QStringLiteral("  sk-with-spaces \n"));
}

// A cleared key stays cleared: the older items its lookup would fall back to go with it, and only those.
TEST_F(SettingsStoreTest, ClearingAKeyDeletesTheOlderItemsItsLookupFallsBackTo) {
    auto s = start();
    putSecret(QStringLiteral("apiKey"), QStringLiteral("sk-legacy"));
    putSecret(QStringLiteral("apiKey.OpenAI"), QStringLiteral("sk-old-name"));
    putSecret(QStringLiteral("apiKey.DeepSeek"), QStringLiteral("sk-deepseek-old-name"));
    s->setApiKey(QStringLiteral("sk-new"), QStringLiteral("openai"));
    EXPECT_TRUE(s->setApiKey(QString(), QStringLiteral("openai")));
    EXPECT_EQ(s->apiKey(QStringLiteral("openai")), QString());
    for (const char* gone : {"apiKey.openai", "apiKey.OpenAI", "apiKey"})
        EXPECT_FALSE(hasSecret(QString::fromLatin1(gone))) << gone;
    EXPECT_EQ(s->apiKey(QStringLiteral("deepseek")), QStringLiteral("sk-deepseek-old-name"));
}

TEST_F(SettingsStoreTest, AFailedKeySaveLosesNothing) {
    auto s = start();
    putSecret(QStringLiteral("apiKey.openai"), QStringLiteral("sk-old"));
    putSecret(QStringLiteral("apiKey"), QStringLiteral("sk-new"));
    refusing.refuseSaves = true;
    s->setApiKey(QStringLiteral("sk-new"), QStringLiteral("openai"));
    refusing.refuseSaves = false;
    EXPECT_EQ(secrets.load(kService, QStringLiteral("apiKey.openai")), QStringLiteral("sk-old"));
    // The legacy copy is still the only place the new key lives; it must survive.
    EXPECT_EQ(secrets.load(kService, QStringLiteral("apiKey")), QStringLiteral("sk-new"));
}

TEST_F(SettingsStoreTest, DeviceIdIsMadeOnceAndSurvivesRestarts) {
    QString first;
    {
        auto s = start();
        first = s->deviceID();
        EXPECT_EQ(s->deviceID(), first);
    }
    EXPECT_EQ(first.size(), 36);
    EXPECT_EQ(first, first.toUpper());
    EXPECT_FALSE(QUuid::fromString(first).isNull());
    EXPECT_EQ(secrets.load(kService, QStringLiteral("deviceID")), first);
    EXPECT_FALSE(prefs.contains(QStringLiteral("deviceIDFallback")));
    EXPECT_EQ(start()->deviceID(), first);

    // Deleting the item makes a new one.
    secrets.remove(kService, QStringLiteral("deviceID"));
    auto s = start();
    const QString second = s->deviceID();
    EXPECT_NE(second, first);
    EXPECT_EQ(s->deviceID(), second);
}

TEST_F(SettingsStoreTest, DeviceIdStaysTheSameWithoutAWorkingKeyring) {
    struct Case {
        const char* name;
        bool failSaves;
        bool failLoads;
    };
    for (const Case c : {Case{"no keyring", true, true}, Case{"writes refused", true, false},
                         Case{"reads fail", false, true}}) {
        SCOPED_TRACE(c.name);
        prefs.clear();
        secrets.remove(kService, QStringLiteral("deviceID"));
        secrets.failSaves = c.failSaves;
        secrets.failLoads = c.failLoads;
        const QString id = start()->deviceID();
        EXPECT_EQ(id.size(), 36);
        EXPECT_EQ(start()->deviceID(), id) << "same id after a restart";
        EXPECT_EQ(prefs.string(QStringLiteral("deviceIDFallback")), id);
        secrets.failSaves = secrets.failLoads = false;
    }
}

// A secret store that is itself thread-safe but slow: it yields inside every call, so unserialised
// first reads would interleave and each make an id.
class SlowSharedStore final : public corvane::platform::SecretStore {
public:
    explicit SlowSharedStore(corvane::platform::SecretStore& inner) : m_inner(inner) {}
    std::optional<QString> load(const QString& service, const QString& account) override {
        pause();
        QMutexLocker lock(&m_mutex);
        return m_inner.load(service, account);
    }
    corvane::platform::SecretResult save(const QString& service, const QString& account, const QString& secret) override {
        pause();
        QMutexLocker lock(&m_mutex);
        return m_inner.save(service, account, secret);
    }
    corvane::platform::SecretResult remove(const QString& service, const QString& account) override {
        QMutexLocker lock(&m_mutex);
        return m_inner.remove(service, account);
    }

private:
    static void pause() {
        for (int i = 0; i < 200; ++i)
            QThread::yieldCurrentThread();
    }
    QMutex m_mutex;
    corvane::platform::SecretStore& m_inner;
};

TEST_F(SettingsStoreTest, RacingFirstReadsAgreeOnOneId) {
    SlowSharedStore slow(secrets);
    KeychainHelper slowKeychain(slow);
    SettingsStore s(prefs, slowKeychain);
    constexpr int kThreads = 8;
    QString ids[kThreads];
    std::latch gate(kThreads); // all threads ask at the same moment
    QList<QThread*> threads;
    for (int i = 0; i < kThreads; ++i)
        threads << QThread::create([&, i] {
            gate.arrive_and_wait();
            ids[i] = s.deviceID();
        });
    for (QThread* t : threads)
        t->start();
    for (QThread* t : threads) {
        t->wait();
        delete t;
    }
    for (int i = 1; i < kThreads; ++i)
        EXPECT_EQ(ids[i], ids[0]);
    EXPECT_EQ(s.deviceID(), ids[0]);
    EXPECT_EQ(secrets.load(kService, QStringLiteral("deviceID")), ids[0]);
}

} // namespace
