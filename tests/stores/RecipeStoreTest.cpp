#include "StoresFixture.h"
#include "platform/linux/SettingsPreferences.h"
#include "stores/RecipeStore.h"
#include <QTemporaryDir>
#include <QCryptographicHash>
#include <QSignalSpy>
#include <memory>

using namespace corvane::stores;

namespace {

const QStringList kEnglish{QStringLiteral("en-US"), QStringLiteral("zh-Hans-CN")};
const QStringList kChinese{QStringLiteral("zh-Hans-CN")};

class RecipeStoreTest : public test::StoresTest {
protected:
    std::unique_ptr<RecipeStore> start(const QStringList& languages = kEnglish) {
        return std::make_unique<RecipeStore>(prefs, clock, languages);
    }
};

QByteArray sha(const QString& text) {
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex();
}

TEST(BuiltInRecipes, TextsAreByteExactInBothSets) {
    struct Row {
        const char* id;
        const char* englishName;
        const char* englishSha;
        const char* chineseName;
        const char* chineseSha;
    };
    const Row rows[] = {
        {"optimize", "Optimize Prompt", "e54958f2a0fbeb6a3d5a94b36427dcb5e029db6d5e4a9ba8ef89bc6b307c257d", "优化提示词",
         "174eb8794d2557387862c6d9b20b8afb13c8206d23b9942733a41f1cf12fc4f0"},
        {"brief", "Structured Brief", "def7dccbe3f48a6d2f9b5445b1de34bb89834c41e8136a6f8fc637cc8fe93b2c",
         "结构化 Brief", "2c643ecd5724baab5e330ab25da0d9989f132c3318bc334bfadde5b8214e5233"},
        {"code-task", "Coding Task", "a2d45752bf41c27ebaf049dc008001aa6b5fe7efda3933d56f8acf563703f7c0", "编码任务",
         "f62a1f78184e845fb474f8da53d002370b1ed16c0bee4845b9b1fb6927c295b8"},
        {"shorten", "Make Concise", "ea66a083c9dd8ccb1073d580993e7134a66b39832332cd8dc0422a772e73f249", "精简表达",
         "3c456aef6a6642b6994476eedb85470499d43b447782c3339605c51909a30466"},
        {"translate-en", "Translate to English", "4f96121f94542447cbeaec02f6073a53a7adc0f45e05244bde3c7b84259fd8f1",
         "译为英文提示词", "5a63b83ecaad02c87efd3044ec5cf06c562e6b24ec19a98b75f7a56ed9afc705"},
        {"polish-formal", "Formal Polish", "524b0001d0754a1360e33d5198abc521b8ceb89e1e189d615bae088f475950b2",
         "正式润色", "8289d8069e347a3603abe24cb162bddda9f6cfe10f6ab28691982b006b2a2606"},
    };
    const auto english = RecipeStore::builtInRecipes(false);
    const auto chinese = RecipeStore::builtInRecipes(true);
    ASSERT_EQ(english.size(), 6);
    ASSERT_EQ(chinese.size(), 6);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(rows[i].id);
        EXPECT_EQ(english[i].id, QString::fromLatin1(rows[i].id));
        EXPECT_EQ(chinese[i].id, QString::fromLatin1(rows[i].id));
        EXPECT_EQ(english[i].name, QString::fromUtf8(rows[i].englishName));
        EXPECT_EQ(chinese[i].name, QString::fromUtf8(rows[i].chineseName));
        EXPECT_EQ(sha(english[i].systemPrompt), QByteArray(rows[i].englishSha));
        EXPECT_EQ(sha(chinese[i].systemPrompt), QByteArray(rows[i].chineseSha));
    }
    // Spot checks of the characters that are easy to get wrong.
    EXPECT_EQ(english[4].systemPrompt.count(QChar(0x2014)), 2);
    EXPECT_TRUE(english[1].systemPrompt.contains(QStringLiteral("\"To confirm: ...\"")));
    EXPECT_TRUE(chinese[1].systemPrompt.contains(QString::fromUtf8("「待确认：...」")));
    EXPECT_TRUE(chinese[2].systemPrompt.contains(QString::fromUtf8(" API，")));
}

TEST(BuiltInRecipes, LegacyDefaultIsTheChineseOptimizePromptPlusALineFeed) {
    const QString legacy = RecipeStore::legacyDefaultPrompt();
    EXPECT_EQ(legacy.size(), 62);
    EXPECT_EQ(legacy.toUtf8().size(), 184);
    EXPECT_EQ(legacy, RecipeStore::builtInRecipes(true).first().systemPrompt + QLatin1Char('\n'));
    EXPECT_NE(legacy.chopped(1), legacy);
}

TEST(BuiltInRecipes, OnlyTheFirstPreferredLanguageCounts) {
    struct Case {
        QStringList languages;
        bool chinese;
    };
    const Case cases[] = {
        {{QStringLiteral("zh-Hant-TW")}, true},
        {{QStringLiteral("zh-Hans-CN")}, true},
        {{QStringLiteral("zh")}, true},
        {{QStringLiteral("en-US"), QStringLiteral("zh-Hans-CN")}, false},
        {{}, false},
        {{QStringLiteral("ZH-Hans")}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RecipeStore::prefersChinese(c.languages), c.chinese) << c.languages.join(u',').toStdString();
}

TEST_F(RecipeStoreTest, FreshStart) {
    auto s = start();
    EXPECT_TRUE(s->userRecipes().isEmpty());
    EXPECT_TRUE(s->overrides().isEmpty());
    EXPECT_EQ(s->selectedRecipeID(), QStringLiteral("optimize"));
    EXPECT_EQ(s->selectedRecipe().name, QStringLiteral("Optimize Prompt"));
    EXPECT_EQ(keys(), QSet<QString>{QStringLiteral("recipes_migrated_v1")});
    EXPECT_EQ(prefs.boolean(QStringLiteral("recipes_migrated_v1")), true);
    EXPECT_EQ(s->all().size(), 6);
    EXPECT_EQ(start(kChinese)->selectedRecipe().name, QString::fromUtf8("优化提示词"));
}

TEST_F(RecipeStoreTest, LegacySystemPromptMigratesOnce) {
    const QString chineseOptimize = RecipeStore::builtInRecipes(true).first().systemPrompt;
    struct Case {
        const char* name;
        std::optional<QString> legacy;
        std::optional<QString> expectedOverride;
    };
    const Case cases[] = {
        {"none", std::nullopt, std::nullopt},
        {"old default", RecipeStore::legacyDefaultPrompt(), std::nullopt},
        {"default without line feed", chineseOptimize, chineseOptimize},
        {"blank", QStringLiteral(" \n\t \n"), std::nullopt},
        {"padded word", QStringLiteral("  be terse \n"), QStringLiteral("  be terse \n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.clear();
        if (c.legacy)
            prefs.setValue(QStringLiteral("systemPrompt"), *c.legacy);
        auto s = start();
        EXPECT_EQ(prefs.boolean(QStringLiteral("recipes_migrated_v1")), true);
        if (c.expectedOverride) {
            EXPECT_EQ(s->overrides().value(QStringLiteral("optimize")), *c.expectedOverride);
            EXPECT_EQ(s->effective(QStringLiteral("optimize"))->systemPrompt, *c.expectedOverride);
            EXPECT_TRUE(prefs.contains(QStringLiteral("recipes_builtin_overrides")));
        } else {
            EXPECT_TRUE(s->overrides().isEmpty());
            EXPECT_FALSE(prefs.contains(QStringLiteral("recipes_builtin_overrides")));
        }
        EXPECT_EQ(prefs.contains(QStringLiteral("systemPrompt")), c.legacy.has_value()) << "never removed";
    }
}

// A file restored in part can hold an override of "optimize" without the migration's flag: the
// override is the user's newer text and stays; the old single prompt is kept aside, never dropped.
TEST_F(RecipeStoreTest, MigrationKeepsAStoredOptimizeOverrideAndSetsTheOldPromptAside) {
    QTemporaryDir dir;
    for (const QString& override : {QStringLiteral("mine"), QStringLiteral("legacy")}) {
        const QString path = dir.filePath(override + QStringLiteral(".conf")); // the INI reader caches files
        {
            corvane::platform::linux_::SettingsPreferences ini(path);
            ini.setValue(QStringLiteral("systemPrompt"), QStringLiteral("legacy"));
            ini.setValue(QStringLiteral("recipes_builtin_overrides"), QByteArray(R"({"optimize":")" + override.toUtf8() + R"(","brief":"b"})"));
            RecipeStore(ini, clock, kEnglish);
        }
        corvane::platform::linux_::SettingsPreferences ini(path);
        EXPECT_EQ(RecipeStore(ini, clock, kEnglish).overrides(),
                  (QMap<QString, QString>{{QStringLiteral("optimize"), override}, {QStringLiteral("brief"), QStringLiteral("b")}}));
        QStringList aside = ini.keys().filter(QStringLiteral("systemPrompt.corrupt-"));
        EXPECT_EQ(aside.size(), override == QLatin1String("mine") ? 1 : 0) << "nothing to keep when the texts agree";
        EXPECT_EQ(ini.string(aside.value(0)).value_or(QStringLiteral("legacy")), QStringLiteral("legacy"));
        EXPECT_EQ(ini.string(QStringLiteral("systemPrompt")), QStringLiteral("legacy")) << "never removed";
    }
    // Once the flag is set, the legacy prompt is left alone.
    store("recipes_builtin_overrides", R"({"optimize":"edited"})");
    prefs.setValue(QStringLiteral("systemPrompt"), QStringLiteral("legacy"));
    prefs.setValue(QStringLiteral("recipes_migrated_v1"), true);
    EXPECT_EQ(start()->overrides().value(QStringLiteral("optimize")), QStringLiteral("edited"));
}

TEST_F(RecipeStoreTest, StoredFormsAreCompactJsonInFieldOrder) {
    auto s = start();
    const PromptRecipe added = s->addUserRecipe(QStringLiteral("Tone \"down\""), QStringLiteral("Line 1\nLine 2"));
    EXPECT_TRUE(added.id.startsWith(QStringLiteral("user-")));
    const QString uuid = added.id.mid(5);
    EXPECT_EQ(uuid.size(), 36);
    EXPECT_EQ(uuid, uuid.toUpper());
    EXPECT_EQ(stored("recipes_user"), "[{\"id\":\"" + added.id.toUtf8() +
                                          "\",\"name\":\"Tone \\\"down\\\"\",\"systemPrompt\":\"Line 1\\nLine 2\"}]");

    s->updateSystemPrompt(QStringLiteral("brief"), QString::fromUtf8("简报"));
    EXPECT_EQ(stored("recipes_builtin_overrides"), QString::fromUtf8(R"({"brief":"简报"})").toUtf8());
    s->select(added.id);
    EXPECT_EQ(prefs.string(QStringLiteral("recipes_selected_id")), added.id);

    // Everything reads back after a restart.
    auto again = start();
    EXPECT_EQ(again->userRecipes(), QList<PromptRecipe>{added});
    EXPECT_EQ(again->selectedRecipe(), added);
    EXPECT_EQ(again->effective(QStringLiteral("brief"))->systemPrompt, QString::fromUtf8("简报"));
}

TEST_F(RecipeStoreTest, RecordDecodingIsStrictAboutKnownKeysOnly) {
    struct Case {
        const char* json;
        bool decodes;
    };
    const Case cases[] = {
        {R"([{"id":"a","name":"A","systemPrompt":"p","extra":1}])", true},
        {R"([])", true},
        {R"([{"id":"a","name":"A"}])", false},
        {R"([{"id":"a","name":"A","systemPrompt":null}])", false},
        {R"([{"id":1,"name":"A","systemPrompt":"p"}])", false},
        {R"({"id":"a","name":"A","systemPrompt":"p"})", false},
        {R"([["a","A","p"]])", false},
        {R"([{"id":"a","name":"A","systemPrompt":"p"})", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PromptRecipe::listFromJson(c.json).has_value(), c.decodes) << c.json;
}

TEST_F(RecipeStoreTest, EffectiveAllAndSelection) {
    auto s = start();
    s->updateSystemPrompt(QStringLiteral("brief"), QString());
    const auto brief = s->effective(QStringLiteral("brief"));
    ASSERT_TRUE(brief);
    EXPECT_EQ(brief->name, QStringLiteral("Structured Brief"));
    EXPECT_EQ(brief->systemPrompt, QString()) << "an empty override replaces the prompt too";
    for (const char* id : {"", "OPTIMIZE", "nothing"})
        EXPECT_FALSE(s->effective(QString::fromLatin1(id))) << id;

    QSignalSpy changed(s.get(), &RecipeStore::changed);
    s->select(QStringLiteral("nothing"));
    EXPECT_EQ(changed.size(), 0);
    EXPECT_FALSE(prefs.contains(QStringLiteral("recipes_selected_id")));
    s->select(QStringLiteral("shorten"));
    s->select(QStringLiteral("shorten"));
    EXPECT_EQ(changed.size(), 2);
    EXPECT_EQ(s->selectedRecipe().id, QStringLiteral("shorten"));
}

TEST_F(RecipeStoreTest, UserRecipesCannotShadowBuiltInsAndFirstDuplicateWins) {
    store("recipes_user", R"([{"id":"optimize","name":"Fake","systemPrompt":"x"},)"
                          R"({"id":"user-1","name":"One","systemPrompt":"1"},)"
                          R"({"id":"user-1","name":"Two","systemPrompt":"2"}])");
    auto s = start();
    EXPECT_EQ(s->effective(QStringLiteral("optimize"))->name, QStringLiteral("Optimize Prompt"));
    EXPECT_EQ(s->effective(QStringLiteral("user-1"))->name, QStringLiteral("One"));
    EXPECT_EQ(s->all().size(), 9);
    s->renameUserRecipe(QStringLiteral("user-1"), QString());
    EXPECT_EQ(s->userRecipes()[1].name, QString());
    EXPECT_EQ(s->userRecipes()[2].name, QStringLiteral("Two"));
    s->deleteUserRecipe(QStringLiteral("user-1"));
    EXPECT_EQ(s->userRecipes().size(), 1);
}

TEST_F(RecipeStoreTest, StaleSelectionFallsBackInMemoryOnly) {
    prefs.setValue(QStringLiteral("recipes_selected_id"), QStringLiteral("user-gone"));
    auto s = start();
    EXPECT_EQ(s->selectedRecipeID(), QStringLiteral("optimize"));
    EXPECT_EQ(prefs.string(QStringLiteral("recipes_selected_id")), QStringLiteral("user-gone"));
}

TEST_F(RecipeStoreTest, AddNamesAndDeleteMovesSelection) {
    auto s = start();
    EXPECT_EQ(s->addUserRecipe(QString(), QStringLiteral("p")).name, QStringLiteral("Untitled recipe"));
    EXPECT_EQ(s->addUserRecipe(QStringLiteral(" "), QStringLiteral("p")).name, QStringLiteral(" "));
    const PromptRecipe mine = s->addUserRecipe(QStringLiteral("Mine"), QStringLiteral("p"));
    EXPECT_NE(s->userRecipes()[0].id, s->userRecipes()[1].id);
    EXPECT_EQ(s->selectedRecipeID(), QStringLiteral("optimize")) << "adding does not select";

    s->select(mine.id);
    QSignalSpy changed(s.get(), &RecipeStore::changed);
    s->deleteUserRecipe(mine.id);
    EXPECT_EQ(changed.size(), 2) << "one for the removal, one for the selection";
    EXPECT_EQ(s->selectedRecipeID(), QStringLiteral("optimize"));
    EXPECT_EQ(prefs.string(QStringLiteral("recipes_selected_id")), QStringLiteral("optimize"));

    // Deleting a selected built-in id removes nothing but still resets and saves.
    s->select(QStringLiteral("brief"));
    const int writes = prefs.writeCount();
    s->deleteUserRecipe(QStringLiteral("brief"));
    EXPECT_EQ(s->selectedRecipeID(), QStringLiteral("optimize"));
    EXPECT_EQ(s->userRecipes().size(), 2);
    EXPECT_EQ(prefs.writeCount(), writes + 2);
}

TEST_F(RecipeStoreTest, OverridesOfBuiltInsOnly) {
    auto s = start();
    const QString original = s->effective(QStringLiteral("shorten"))->systemPrompt;
    s->updateSystemPrompt(QStringLiteral("shorten"), original);
    EXPECT_TRUE(s->overrides().contains(QStringLiteral("shorten"))) << "default text still counts as an override";
    s->resetBuiltInOverride(QStringLiteral("shorten"));
    EXPECT_FALSE(s->overrides().contains(QStringLiteral("shorten")));
    EXPECT_EQ(stored("recipes_builtin_overrides"), "{}");

    const PromptRecipe mine = s->addUserRecipe(QStringLiteral("Mine"), QStringLiteral("p"));
    QSignalSpy changed(s.get(), &RecipeStore::changed);
    s->resetBuiltInOverride(mine.id);
    s->updateSystemPrompt(QStringLiteral("no-such"), QStringLiteral("x"));
    s->renameUserRecipe(QStringLiteral("optimize"), QStringLiteral("x"));
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(s->effective(QStringLiteral("optimize"))->name, QStringLiteral("Optimize Prompt"));
    s->updateSystemPrompt(mine.id, QStringLiteral("q"));
    EXPECT_EQ(s->effective(mine.id)->systemPrompt, QStringLiteral("q"));
    EXPECT_FALSE(s->overrides().contains(mine.id));
}

TEST_F(RecipeStoreTest, BuiltInSetIsFixedAtConstruction) {
    auto s = start(kChinese);
    EXPECT_EQ(s->effective(QStringLiteral("brief"))->name, QString::fromUtf8("结构化 Brief"));
    EXPECT_EQ(start(kEnglish)->effective(QStringLiteral("brief"))->name, QStringLiteral("Structured Brief"));
    EXPECT_EQ(s->effective(QStringLiteral("brief"))->name, QString::fromUtf8("结构化 Brief"));
}

} // namespace
