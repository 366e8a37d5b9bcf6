#include "StoresFixture.h"
#include "stores/KeychainHelper.h"
#include "stores/OutputLanguage.h"

using namespace corvane::stores;

namespace {

const QString kService = QStringLiteral("com.corvane.app");

TEST(KeychainHelperTest, SaveReplacesLoadAndRemoveAreScopedToTheService) {
    corvane::platform::fake::MemorySecretStore secrets;
    KeychainHelper keychain(secrets);
    secrets.save(QStringLiteral("org.other.app"), QStringLiteral("apiKey.openai"), QStringLiteral("theirs"));

    EXPECT_FALSE(keychain.load(QStringLiteral("apiKey.openai")).has_value());
    EXPECT_TRUE(keychain.save(QStringLiteral("apiKey.openai"), QStringLiteral("one")));
    EXPECT_TRUE(keychain.save(QStringLiteral("apiKey.openai"), QStringLiteral("two")));
    EXPECT_EQ(keychain.load(QStringLiteral("apiKey.openai")), QStringLiteral("two"));
    EXPECT_EQ(secrets.accounts(kService), QStringList{QStringLiteral("apiKey.openai")});

    keychain.remove(QStringLiteral("apiKey.openai"));
    keychain.remove(QStringLiteral("never-saved"));
    EXPECT_FALSE(keychain.load(QStringLiteral("apiKey.openai")).has_value());
    EXPECT_EQ(secrets.load(QStringLiteral("org.other.app"), QStringLiteral("apiKey.openai")), QStringLiteral("theirs"));
}

TEST(KeychainHelperTest, AFailedSaveKeepsTheOldSecret) {
    corvane::platform::fake::MemorySecretStore secrets;
    test::SaveRefusingStore refusing(secrets);
    KeychainHelper keychain(refusing);
    keychain.save(QStringLiteral("deviceID"), QStringLiteral("old"));
    refusing.refuseSaves = true;
    EXPECT_FALSE(keychain.save(QStringLiteral("deviceID"), QStringLiteral("new")));
    refusing.refuseSaves = false;
    EXPECT_EQ(keychain.load(QStringLiteral("deviceID")), QStringLiteral("old"));
}

TEST(OutputLanguageTest, CasesRawValuesNamesAndSentences) {
    struct Row {
        OutputLanguage language;
        const char* raw;
        const char* name;
    };
    const Row rows[] = {
        {OutputLanguage::Auto, "auto", "Auto (match input)"}, {OutputLanguage::English, "en", "English"},
        {OutputLanguage::SimpChinese, "zh-Hans", "简体中文"},   {OutputLanguage::TradChinese, "zh-Hant", "繁體中文"},
        {OutputLanguage::Japanese, "ja", "日本語"},            {OutputLanguage::Korean, "ko", "한국어"},
        {OutputLanguage::French, "fr", "Français"},           {OutputLanguage::German, "de", "Deutsch"},
        {OutputLanguage::Spanish, "es", "Español"},           {OutputLanguage::Portuguese, "pt", "Português"},
        {OutputLanguage::Russian, "ru", "Русский"},
    };
    const auto all = OutputLanguage::allCases();
    ASSERT_EQ(all.size(), 11);
    for (qsizetype i = 0; i < all.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.raw);
        EXPECT_EQ(all[i], row.language) << "picker order";
        EXPECT_EQ(row.language.rawValue(), QString::fromUtf8(row.raw));
        EXPECT_EQ(OutputLanguage::fromRawValue(QString::fromUtf8(row.raw)), row.language);
        EXPECT_EQ(row.language.displayName(), QString::fromUtf8(row.name));
        if (row.language != OutputLanguage::Auto) {
            EXPECT_EQ(row.language.instruction(), QStringLiteral("Write the output in ") + QString::fromUtf8(row.name) +
                                                      QLatin1Char('.'));
        }
    }
    EXPECT_EQ(OutputLanguage(OutputLanguage::Auto).instruction(),
              QStringLiteral("Match the language of the input text unless the processing instructions above specify "
                             "a target language."));
    for (const char* bad : {"EN", "zh", "", "zh-hans", " en"})
        EXPECT_FALSE(OutputLanguage::fromRawValue(QString::fromLatin1(bad)).has_value()) << bad;
}

} // namespace
