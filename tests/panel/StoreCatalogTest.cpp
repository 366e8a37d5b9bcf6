// The panel over the real recipe store and app rules (in-memory preferences): the picker lists the
// built-ins and the user's recipes, a pick outside an app is stored as the global selection, and the
// seeded app rules decide whether "Remember for This App" is offered.
#include "PanelFakes.h"
#include "panel/FloatingPanelController.h"
#include "panel/FloatingPanelView.h"
#include "panel/StoreRecipeCatalog.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "stores/AppProfileStore.h"
#include "stores/RecipeStore.h"

#include <QAbstractButton>
#include <QComboBox>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::panel;
using namespace corvane::panel::testing;

namespace {

class StoreCatalog : public ::testing::Test {
protected:
    platform::fake::MemoryPreferences preferences;
    platform::fake::FakeClock clock;
    stores::RecipeStore recipeStore{preferences, clock, {QStringLiteral("en-US")}};
    stores::AppProfileStore appRules{preferences, clock, {QStringLiteral("en-US")}};
    StoreRecipeCatalog catalog{recipeStore, appRules};
    RecordingEngine engine;
    FixedDesktop desktop;
    FloatingPanelController controller{engine, catalog, preferences, clock, desktop};
};

TEST_F(StoreCatalog, ThePickerListsEveryRecipeInDisplayOrder) {
    const auto mine = recipeStore.addUserRecipe(QStringLiteral("Pirate Speak"), QStringLiteral("Talk like a pirate."));
    controller.show(QStringLiteral("hello there"), std::nullopt, QSizeF(), mine.id);
    const auto listed = controller.state().recipes();
    ASSERT_EQ(listed.size(), recipeStore.all().size());
    EXPECT_EQ(listed.first(), (RecipeChoice{QStringLiteral("optimize"), QStringLiteral("Optimize Prompt")}));
    EXPECT_EQ(listed.last(), (RecipeChoice{mine.id, QStringLiteral("Pirate Speak")}));
    EXPECT_EQ(controller.state().selectedRecipeID(), mine.id);

    // A deleted recipe falls back to the global selection on the next show.
    recipeStore.deleteUserRecipe(mine.id);
    controller.show(QStringLiteral("hello there"), std::nullopt, QSizeF(), mine.id);
    EXPECT_EQ(controller.state().selectedRecipeID(), QStringLiteral("optimize"));
}

TEST_F(StoreCatalog, APickOutsideAnyKnownAppBecomesTheStoredGlobalSelection) {
    controller.show(QStringLiteral("hello there"), std::nullopt, QSizeF(), QStringLiteral("optimize"));
    auto* picker = controller.view()->findChild<QComboBox*>(QStringLiteral("recipePicker"));
    const int shorten = picker->findData(QStringLiteral("shorten"));
    ASSERT_GE(shorten, 0);
    Q_EMIT picker->activated(shorten);
    EXPECT_EQ(recipeStore.selectedRecipeID(), QStringLiteral("shorten"));
    EXPECT_EQ(preferences.string(QStringLiteral("recipes_selected_id")), QStringLiteral("shorten"));
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("rerun(none)")});
}

TEST_F(StoreCatalog, SeededAppRulesDecideWhetherRememberIsOffered) {
    engine.bundleID = QStringLiteral("code"); // seeded: VS Code uses "code-task"
    controller.show(QStringLiteral("fix the bug"), std::nullopt, QSizeF(), QStringLiteral("code-task"));
    EXPECT_FALSE(controller.state().canRememberRule());
    controller.show(QStringLiteral("fix the bug"), std::nullopt, QSizeF(), QStringLiteral("optimize"));
    EXPECT_TRUE(controller.state().canRememberRule());

    engine.onRemember = [&](const QString& id) { appRules.setMapping(engine.bundleID, QStringLiteral("VS Code"), id); };
    engine.calls.clear();
    controller.view()->findChild<QAbstractButton*>(QStringLiteral("rememberButton"))->click();
    EXPECT_EQ(appRules.recipeID(QStringLiteral("code")), QStringLiteral("optimize"));
    EXPECT_FALSE(controller.state().canRememberRule());
}

} // namespace
