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

TEST(OutputLanguageTest, OrderSentencesAndStrictRawValues) {
    const auto all = OutputLanguage::allCases();
    ASSERT_EQ(all.size(), 11);
    EXPECT_EQ(all.first(), OutputLanguage::Auto);
    EXPECT_EQ(all.last(), OutputLanguage::Russian);
    for (const OutputLanguage language : all)
        EXPECT_EQ(OutputLanguage::fromRawValue(language.rawValue()), language);
    // Language names stay in their own script whatever the interface language.
    EXPECT_EQ(OutputLanguage(OutputLanguage::German).instruction(), QStringLiteral("Write the output in Deutsch."));
    EXPECT_EQ(OutputLanguage(OutputLanguage::SimpChinese).instruction(),
              QString::fromUtf8("Write the output in 简体中文."));
    EXPECT_EQ(OutputLanguage(OutputLanguage::Auto).instruction(),
              QStringLiteral("Match the language of the input text unless the processing instructions above specify "
                             "a target language."));
    for (const char* bad : {"EN", "zh", "", "zh-hans", " en"})
        EXPECT_FALSE(OutputLanguage::fromRawValue(QString::fromLatin1(bad)).has_value()) << bad;
}

} // namespace
