// What each control of the panel sends, and the one-way flow: the view asks, the controller writes.
#include "PanelFixture.h"
#include "panel/PanelWidgets.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPointer>

using namespace corvane::panel;
using namespace corvane::panel::testing;
using corvane::trigger::RecipeSource;

namespace {

using Actions = PanelTest;

TEST_F(Actions, EveryButtonSendsItsRequestToTheEngine) {
    struct Case {
        const char* name;
        std::function<void()> enter;
        const char* button;
        QStringList expected;
    };
    const Case cases[] = {
        {"Replace when done", [this] { enterDone(); }, "replaceButton", {"replaceText"}},
        {"Retry when done", [this] { enterDone(); }, "retryResultButton", {"rerun(none)"}},
        {"Retry after an error", [this] { enterError(); }, "retryErrorButton", {"rerun(none)"}},
        {"Cancel while optimizing", [this] { enterOptimizing(); }, "cancelButton", {"cancel"}},
        {"Cancel when done", [this] { enterDone(); }, "cancelButton", {"cancel"}},
        {"Cancel after an error", [this] { enterError(); }, "cancelButton", {"cancel"}},
        {"Cancel while drafting", [this] { enterDrafting(); }, "cancelButton", {"cancel"}},
        {"Close abandons", [this] { enterOptimizing(); }, "closeButton", {"abandon(false)"}},
        {"Copy sends nothing", [this] { enterDone(); }, "copyButton", {}},
    };
    for (const auto& c : cases) {
        engine.calls.clear();
        c.enter();
        click(c.button);
        EXPECT_EQ(engine.calls, c.expected) << c.name;
    }
}

TEST_F(Actions, GenerateSendsTheDescriptionExactlyAsTyped) {
    const QString typed[] = {QStringLiteral("  a polite follow-up email \n"), QString(), QStringLiteral("   ")};
    for (const QString& text : typed) {
        engine.calls.clear();
        enterDrafting();
        auto* editor = find<QPlainTextEdit>("draftEditor");
        editor->setPlainText(text);
        EXPECT_EQ(state().draftInput(), text) << "the editor writes the model as the user types";
        click("generateButton");
        EXPECT_EQ(engine.calls, QStringList{QStringLiteral("finishDraft(%1)").arg(text)});
    }
}

TEST_F(Actions, CtrlReturnPressesThePrimaryButtonOfEachStatus) {
    struct Case {
        const char* name;
        std::function<void()> enter;
        QStringList expected;
    };
    const Case cases[] = {
        {"drafting: Generate", [this] { enterDrafting(); state().setDraftInput(QStringLiteral("hi")); },
         {"finishDraft(hi)"}},
        {"optimizing: nothing", [this] { enterOptimizing(); }, {}},
        {"done: Replace, not Retry", [this] { enterDone(); }, {"replaceText"}},
        {"error: Retry", [this] { enterError(); }, {"rerun(none)"}},
    };
    for (const auto& c : cases) {
        engine.calls.clear();
        c.enter();
        QTest::keyClick(view(), Qt::Key_Return, Qt::ControlModifier);
        EXPECT_EQ(engine.calls, c.expected) << c.name;
    }
    // Plain Return and Shift+Return do nothing.
    engine.calls.clear();
    enterDone();
    QTest::keyClick(view(), Qt::Key_Return);
    QTest::keyClick(view(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(engine.calls.isEmpty());
}

TEST_F(Actions, CtrlReturnInTheDraftEditorGeneratesInsteadOfAddingALine) {
    enterDrafting();
    auto* editor = find<QPlainTextEdit>("draftEditor");
    editor->setPlainText(QStringLiteral("two lines\nof description"));
    QTest::keyClick(editor, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("finishDraft(two lines\nof description)")});
    EXPECT_EQ(state().draftInput(), QStringLiteral("two lines\nof description"));
}

TEST_F(Actions, PickingARecipeOnlyAsksTheControllerWhichDecides) {
    struct Case {
        const char* name;
        bool drafting;
        QString bundleID;
        QStringList expectedCalls;
        QString selectionAfter;  // the model's (and picker's) selection after the pick
        QString globalAfter;     // the catalog's global selection after the pick
    };
    const Case cases[] = {
        {"draft mode stages it for this draft", true, {}, {"stage(concise)"}, "concise", "optimize"},
        {"run in an unknown app selects it globally and re-runs", false, {}, {"rerun(none)"}, "optimize", "concise"},
        {"run in a known app re-runs with it this time only", false, "org.gnome.TextEditor", {"rerun(concise)"},
         "optimize", "optimize"},
    };
    for (const auto& c : cases) {
        engine.calls.clear();
        recipes.selected = QStringLiteral("optimize");
        engine.bundleID = c.bundleID;
        engine.awaitingInstruction = c.drafting;
        if (c.drafting)
            enterDrafting();
        else
            enterOptimizing();
        auto* picker = find<QComboBox>("recipePicker");
        ASSERT_EQ(picker->count(), 3);
        Q_EMIT picker->activated(1); // the user picks "Make Concise"
        EXPECT_EQ(engine.calls, c.expectedCalls) << c.name;
        EXPECT_EQ(state().selectedRecipeID(), c.selectionAfter) << c.name;
        EXPECT_EQ(picker->currentData().toString(), c.selectionAfter) << c.name << ": the picker shows the model";
        EXPECT_EQ(recipes.selected, c.globalAfter) << c.name;
    }
}

TEST_F(Actions, RecipeNoteAndRememberFollowTheAppsRule) {
    struct Case {
        const char* name;
        QString bundleID;
        std::optional<QString> rule;
        QString selectedGlobally;
        RecipeSource source;
        bool canRemember;
        QString note;
        bool rulesSaved = true;
    };
    const Case cases[] = {
        {"unknown app", {}, std::nullopt, "optimize", RecipeSource::globalDefault(), false, "Global default"},
        {"app without a rule", "org.gnome.gedit", std::nullopt, "optimize", RecipeSource::hotkey(), true,
         "Forced by hotkey"},
        {"rule names the recipe", "org.gnome.gedit", QString("optimize"), "optimize",
         RecipeSource::appRule("Text Editor"), false, "App rule: Text Editor"},
        {"rule that could not be saved", "org.gnome.gedit", QString("optimize"), "optimize",
         RecipeSource::appRule("Text Editor"), false, "App rule: Text Editor (not saved)", false},
        {"rule names another recipe", "org.gnome.gedit", QString("concise"), "optimize",
         RecipeSource::sessionManual(), true, "This time only"},
        {"selected recipe no longer exists", "org.gnome.gedit", std::nullopt, "gone", RecipeSource::globalDefault(),
         false, "Global default"},
    };
    for (const auto& c : cases) {
        engine.bundleID = c.bundleID;
        engine.source = c.source;
        recipes.rules.clear();
        if (c.rule)
            recipes.rules.insert(c.bundleID, *c.rule);
        recipes.selected = c.selectedGlobally;
        recipes.rulesSaved = c.rulesSaved;
        controller.show(QStringLiteral("some text"), std::nullopt, QSizeF(), QStringLiteral("not-a-recipe"));
        EXPECT_EQ(state().canRememberRule(), c.canRemember) << c.name;
        EXPECT_EQ(shown("rememberButton"), c.canRemember) << c.name;
        EXPECT_EQ(state().recipeNote(), c.note) << c.name;
        EXPECT_EQ(find<ElidedLabel>("recipeNote")->fullText(), c.note) << c.name;
    }
}

TEST_F(Actions, CopyPutsTheResultOnTheClipboardAndLeavesThePanelAlone) {
    QGuiApplication::clipboard()->setText(QStringLiteral("earlier clipboard"));
    enterDone(QStringLiteral("Final answer, ready to paste."));
    click("copyButton");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Final answer, ready to paste."));
    EXPECT_TRUE(controller.isPanelVisible());
    EXPECT_EQ(state().status(), FloatingPanelStatus::Done);

    enterDone(QString());
    ASSERT_TRUE(shown("copyButton")) << "an empty result can still be copied";
    click("copyButton");
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
}

TEST_F(Actions, TheEngineMayReplaceTheViewFromInsideAButtonHandler) {
    // Replace fails at once and the engine shows an error-only panel: the view that sent the
    // action is replaced while its own click is still running.
    engine.onCall = [this](const QString& call) {
        if (call == QLatin1String("replaceText"))
            controller.showErrorMessage(QStringLiteral("Couldn't write the text back."));
    };
    enterDone();
    QPointer<FloatingPanelView> sender = view();
    click("replaceButton");
    flushDeferredDeletes();
    EXPECT_TRUE(sender.isNull());
    EXPECT_TRUE(shown("errorArea"));
    EXPECT_EQ(find<PlainTextBox>("errorText")->text(), QStringLiteral("Couldn't write the text back."));
}

} // namespace
