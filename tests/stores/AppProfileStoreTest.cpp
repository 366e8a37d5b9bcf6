#include "StoresFixture.h"
#include "stores/AppProfileStore.h"
#include <QSignalSpy>
#include <memory>

using namespace corvane::stores;

namespace {

class AppProfileStoreTest : public test::StoresTest {
protected:
    std::unique_ptr<AppProfileStore> start(const QStringList& languages = {QStringLiteral("en-GB")}) {
        return std::make_unique<AppProfileStore>(prefs, clock, languages);
    }
};

TEST_F(AppProfileStoreTest, FirstStartInstallsAndStoresTheSeedForTheLanguage) {
    struct Case {
        QStringList languages;
        qsizetype rows;
        const char* terminalName;
    };
    const Case cases[] = {{{QStringLiteral("zh-Hans-CN")}, 14, "终端"},
                          {{QStringLiteral("en-US"), QStringLiteral("zh-Hans")}, 17, "Terminal"},
                          {{}, 17, "Terminal"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.languages.join(u',').toStdString());
        prefs.clear();
        auto s = start(c.languages);
        ASSERT_EQ(s->rules().size(), c.rows);
        EXPECT_EQ(keys(), QSet<QString>{QStringLiteral("app_recipe_rules")});
        EXPECT_EQ(AppRecipeRule::listFromJson(stored("app_recipe_rules")), s->rules());
        EXPECT_EQ(s->rules()[4].appName, QString::fromUtf8(c.terminalName));
        for (qsizetype i = 0; i < c.rows; ++i) {
            const AppRecipeRule& rule = s->rules()[i];
            SCOPED_TRACE(rule.bundleID.toStdString());
            EXPECT_EQ(rule.recipeID, i < 9 ? QStringLiteral("code-task") : QStringLiteral("brief"));
            EXPECT_FALSE(rule.hotkeyKeyCode || rule.hotkeyModifiers);
            EXPECT_FALSE(rule.bundleID.isEmpty());
        }
    }
}

TEST_F(AppProfileStoreTest, SeedUsesLinuxIdsForAppsThatHaveThem) {
    auto s = start();
    EXPECT_EQ(s->recipeID(QStringLiteral("org.gnome.Terminal")), QStringLiteral("code-task"));
    EXPECT_EQ(s->recipeID(QStringLiteral("com.slack.Slack")), QStringLiteral("brief"));
    EXPECT_EQ(s->recipeID(QStringLiteral("org.telegram.desktop")), QStringLiteral("brief"));
    EXPECT_FALSE(s->recipeID(QStringLiteral("org.gnome.terminal"))) << "case-sensitive";
    EXPECT_FALSE(s->recipeID(QString()));
    EXPECT_FALSE(s->recipeID(QStringLiteral("com.tinyspeck.slackmacgap")));
}

TEST_F(AppProfileStoreTest, StoredRulesAreKeptAsTheyAre) {
    store("app_recipe_rules", "[]");
    EXPECT_TRUE(start()->rules().isEmpty()) << "an empty list is the user's choice";
    EXPECT_EQ(stored("app_recipe_rules"), "[]");

    store("app_recipe_rules", R"([{"bundleID":"a","appName":"A","recipeID":"r","hotkeyKeyCode":null,)"
                              R"("hotkeyModifiers":null},{"bundleID":"b","appName":"B","recipeID":"s",)"
                              R"("hotkeyKeyCode":12,"hotkeyModifiers":1572864}])");
    auto s = start();
    ASSERT_EQ(s->rules().size(), 2);
    EXPECT_FALSE(s->rules()[0].hotkeyKeyCode.has_value());
    EXPECT_FALSE(s->rules()[0].hotkeyModifiers.has_value());
    EXPECT_EQ(s->rules()[1].hotkeyKeyCode, 12);
    EXPECT_EQ(s->rules()[1].hotkeyModifiers, 0x180000);
}

TEST_F(AppProfileStoreTest, HotkeysAreWrittenOnlyWhenPresent) {
    store("app_recipe_rules", "[]");
    auto s = start();
    s->setMapping(QStringLiteral("org.kde.kate"), QStringLiteral("Kate"), QStringLiteral("code-task"));
    EXPECT_EQ(stored("app_recipe_rules"), R"([{"bundleID":"org.kde.kate","appName":"Kate","recipeID":"code-task"}])");

    QSignalSpy changed(s.get(), &AppProfileStore::changed);
    s->setHotkey(QStringLiteral("org.kde.kate"), 40, 0x100000);
    EXPECT_EQ(stored("app_recipe_rules"), R"([{"bundleID":"org.kde.kate","appName":"Kate","recipeID":"code-task",)"
                                          R"("hotkeyKeyCode":40,"hotkeyModifiers":1048576}])");
    s->setHotkey(QStringLiteral("org.kde.kate"), std::nullopt, 0x80000);
    EXPECT_EQ(stored("app_recipe_rules"), R"([{"bundleID":"org.kde.kate","appName":"Kate","recipeID":"code-task",)"
                                          R"("hotkeyModifiers":524288}])");
    s->setHotkey(QStringLiteral("org.kde.kate"), std::nullopt, std::nullopt);
    EXPECT_EQ(stored("app_recipe_rules"), R"([{"bundleID":"org.kde.kate","appName":"Kate","recipeID":"code-task"}])");
    EXPECT_EQ(changed.size(), 3);

    s->setHotkey(QStringLiteral("org.nobody"), 1, 2);
    EXPECT_EQ(s->rules().size(), 1) << "no rule is created";
    EXPECT_EQ(changed.size(), 3);
}

TEST_F(AppProfileStoreTest, SetMappingRemoveAndDuplicates) {
    store("app_recipe_rules", R"([{"bundleID":"x","appName":"X1","recipeID":"r1","hotkeyKeyCode":5,"hotkeyModifiers":6},)"
                              R"({"bundleID":"x","appName":"X2","recipeID":"r2"}])");
    auto s = start();
    EXPECT_EQ(s->recipeID(QStringLiteral("x")), QStringLiteral("r1"));

    s->setMapping(QStringLiteral("x"), QString(), QStringLiteral("brief"));
    EXPECT_EQ(s->rules()[0].appName, QStringLiteral("X1")) << "an empty name keeps the old one";
    EXPECT_EQ(s->rules()[0].recipeID, QStringLiteral("brief"));
    EXPECT_EQ(s->rules()[0].hotkeyKeyCode, 5) << "the hotkey stays";
    EXPECT_EQ(s->rules()[1].recipeID, QStringLiteral("r2"));
    s->setMapping(QStringLiteral("x"), QStringLiteral("Renamed"), QStringLiteral("no-such-recipe"));
    EXPECT_EQ(s->rules()[0].appName, QStringLiteral("Renamed"));
    EXPECT_EQ(s->rules()[0].recipeID, QStringLiteral("no-such-recipe"));

    const int writes = prefs.writeCount();
    s->setMapping(QString(), QStringLiteral("Nothing"), QStringLiteral("brief"));
    EXPECT_EQ(prefs.writeCount(), writes);

    s->setMapping(QStringLiteral("y"), QString(), QStringLiteral("shorten"));
    EXPECT_EQ(s->rules().last(), (AppRecipeRule{QStringLiteral("y"), QString(), QStringLiteral("shorten"), {}, {}}));

    s->remove(QStringLiteral("x"));
    EXPECT_EQ(s->rules().size(), 1);
    s->remove(QStringLiteral("not-there"));
    EXPECT_EQ(prefs.writeCount(), writes + 3) << "remove always stores";
    EXPECT_EQ(start()->rules(), s->rules());
}

TEST_F(AppProfileStoreTest, HotkeyValuesMustBeWholeNumbers) {
    struct Case {
        const char* hotkey;
        bool decodes;
    };
    const Case cases[] = {{R"("hotkeyKeyCode":49)", true},      {R"("hotkeyKeyCode":49.0)", true},
                          {R"("hotkeyKeyCode":49.5)", false},   {R"("hotkeyKeyCode":"49")", false},
                          {R"("hotkeyModifiers":true)", false}, {R"("hotkeyModifiers":-1)", true}};
    for (const Case& c : cases) {
        const QByteArray json = QByteArray(R"([{"bundleID":"a","appName":"A","recipeID":"r",)") + c.hotkey + "}]";
        EXPECT_EQ(AppRecipeRule::listFromJson(json).has_value(), c.decodes) << c.hotkey;
    }
}

} // namespace
