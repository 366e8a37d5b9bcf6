// The panel's model announces every write, equal values included, per property and as a whole.
#include "PanelFixture.h"
#include "panel/FloatingPanelState.h"
#include "panel/PanelWidgets.h"

#include <QComboBox>
#include <QSignalSpy>

using namespace corvane::panel;
using namespace corvane::panel::testing;

namespace {

TEST(PanelState, EveryAssignmentIsAnnouncedEvenWhenTheValueIsUnchanged) {
    struct Case {
        const char* name;
        const char* signal;
        std::function<void(FloatingPanelState&)> write;
    };
    const Case cases[] = {
        {"originalText", SIGNAL(originalTextChanged(QString)), [](auto& s) { s.setOriginalText(QStringLiteral("a")); }},
        {"optimizedText", SIGNAL(optimizedTextChanged(QString)), [](auto& s) { s.setOptimizedText(QStringLiteral("b")); }},
        {"status", SIGNAL(statusChanged(corvane::panel::FloatingPanelStatus)),
         [](auto& s) { s.setStatus(FloatingPanelStatus::Optimizing); }},
        {"errorMessage", SIGNAL(errorMessageChanged(QString)), [](auto& s) { s.setErrorMessage(QString()); }},
        {"recipes", SIGNAL(recipesChanged()), [](auto& s) { s.setRecipes({}); }},
        {"selectedRecipeID", SIGNAL(selectedRecipeIDChanged(QString)),
         [](auto& s) { s.setSelectedRecipeID(QStringLiteral("optimize")); }},
        {"draftInput", SIGNAL(draftInputChanged(QString)), [](auto& s) { s.setDraftInput(QString()); }},
        {"recipeNote", SIGNAL(recipeNoteChanged(QString)), [](auto& s) { s.setRecipeNote(QStringLiteral("n")); }},
        {"canRememberRule", SIGNAL(canRememberRuleChanged(bool)), [](auto& s) { s.setCanRememberRule(false); }},
    };
    for (const auto& c : cases) {
        FloatingPanelState state;
        QSignalSpy own(&state, c.signal);
        QSignalSpy any(&state, &FloatingPanelState::changed);
        c.write(state);
        c.write(state);
        EXPECT_EQ(own.count(), 2) << c.name;
        EXPECT_EQ(any.count(), 2) << c.name;
    }
}

TEST(PanelState, AFreshModelShowsAnEmptyRunInProgress) {
    FloatingPanelState state;
    EXPECT_EQ(state.status(), FloatingPanelStatus::Optimizing);
    EXPECT_TRUE(state.recipes().isEmpty());
    EXPECT_FALSE(state.canRememberRule());

    FloatingPanelView view(state, {});
    view.resize(420, 280);
    view.show();
    EXPECT_TRUE(view.findChild<QWidget*>(QStringLiteral("busyIndicator"))->isVisible());
    EXPECT_EQ(view.findChild<ElidedLabel*>(QStringLiteral("statusTitle"))->fullText(), QStringLiteral("Optimizing…"));
    EXPECT_EQ(view.findChild<QComboBox*>(QStringLiteral("recipePicker"))->count(), 0);
    EXPECT_FALSE(view.findChild<QWidget*>(QStringLiteral("originalSection"))->isVisible());
    EXPECT_FALSE(view.findChild<QWidget*>(QStringLiteral("rememberButton"))->isVisible());
    EXPECT_EQ(view.findChild<PlainTextBox*>(QStringLiteral("resultText"))->text(), QStringLiteral("..."));
}

} // namespace
