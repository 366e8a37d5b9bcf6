// The panel's contract with the engine: what each show operation leaves in the model and on the
// screen, which buttons each status offers, and what every button, shortcut and pick sends.
#include "PanelFixture.h"
#include "panel/PanelWidgets.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>

using namespace corvane::panel;
using namespace corvane::panel::testing;
using corvane::trigger::RecipeSource;

namespace {

using ShowsAndRoutes = PanelTest;

TEST_F(ShowsAndRoutes, PanelIsVisibleOnlyBetweenShowAndHideOrClose) {
    EXPECT_FALSE(controller.isPanelVisible()) << "before any panel exists";
    enterOptimizing();
    EXPECT_TRUE(controller.isPanelVisible());
    controller.hide();
    EXPECT_FALSE(controller.isPanelVisible());
    EXPECT_TRUE(engine.calls.isEmpty()) << "hiding never abandons the run";

    enterOptimizing();
    click("closeButton");
    EXPECT_FALSE(controller.isPanelVisible());
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("abandon(false)")});

    // The same window comes back for the next run.
    PanelWindow* first = window();
    enterDone();
    EXPECT_EQ(window(), first);
    EXPECT_TRUE(controller.isPanelVisible());
}

TEST_F(ShowsAndRoutes, ClosingAnotherWindowNeverAbandonsTheRun) {
    enterOptimizing();
    QWidget settingsWindow;
    settingsWindow.show();
    settingsWindow.close();
    EXPECT_TRUE(engine.calls.isEmpty());
    EXPECT_TRUE(controller.isPanelVisible());
}

TEST_F(ShowsAndRoutes, ShowStartsARunNextToTheField) {
    controller.showDraft(std::nullopt, QSizeF(), QStringLiteral("concise"));
    state().setDraftInput(QStringLiteral("kept"));
    controller.show(QStringLiteral("hello wrld"), QPointF(100, 400), QSizeF(200, 30), QStringLiteral("concise"));

    EXPECT_EQ(state().status(), FloatingPanelStatus::Optimizing);
    EXPECT_EQ(state().originalText(), QStringLiteral("hello wrld"));
    EXPECT_TRUE(state().optimizedText().isEmpty());
    EXPECT_TRUE(state().errorMessage().isEmpty());
    EXPECT_EQ(state().recipes(), recipes.all());
    EXPECT_EQ(state().selectedRecipeID(), QStringLiteral("concise"));
    EXPECT_EQ(state().draftInput(), QStringLiteral("kept")) << "show leaves the instruction alone";
    // Centred over the field would start at -10: clamped to the screen, 12 px above the field.
    EXPECT_EQ(window()->geometry(), QRect(0, 108, 420, 280));
}

TEST_F(ShowsAndRoutes, ShowOnAVisiblePanelMovesItAndBuildsAFreshView) {
    enterDone();
    QPointer<FloatingPanelView> oldView = view();
    FloatingPanelState* model = &state();

    controller.show(QStringLiteral("second run"), QPointF(900, 600), QSizeF(100, 20), QStringLiteral("optimize"));
    flushDeferredDeletes();
    EXPECT_TRUE(oldView.isNull()) << "the previous view is released";
    EXPECT_NE(view(), nullptr);
    EXPECT_EQ(&state(), model) << "one model object for the whole process";
    EXPECT_EQ(window()->geometry(), QRect(740, 308, 420, 280));
    EXPECT_EQ(state().status(), FloatingPanelStatus::Optimizing);
    EXPECT_TRUE(state().optimizedText().isEmpty());
}

TEST_F(ShowsAndRoutes, AFieldOnTheSecondMonitorGetsThePanelThere) {
    desktop.areas.append({QRectF(1440, -200, 1920, 1080), QRectF(1440, -200, 1920, 1050)});
    controller.show(QStringLiteral("text"), QPointF(3300, 0), QSizeF(40, 20), QStringLiteral("optimize"));
    EXPECT_EQ(window()->geometry(), QRect(2940, 32, 420, 280));
}

TEST_F(ShowsAndRoutes, DraftThenStreamThenResultFitsTheHeightAwayFromTheField) {
    controller.showDraft(QPointF(500, 600), QSizeF(300, 40), QStringLiteral("optimize"));
    EXPECT_EQ(state().status(), FloatingPanelStatus::Drafting);
    EXPECT_EQ(window()->geometry(), QRect(440, 268, 420, 320));
    state().setDraftInput(QStringLiteral("a thank-you note"));

    controller.beginStreamingResult(QStringLiteral("concise"));
    EXPECT_EQ(state().status(), FloatingPanelStatus::Optimizing);
    EXPECT_TRUE(state().draftInput().isEmpty());
    EXPECT_EQ(state().selectedRecipeID(), QStringLiteral("concise"));
    controller.beginStreamingResult(QStringLiteral("no-such-recipe"));
    EXPECT_EQ(state().selectedRecipeID(), QStringLiteral("concise")) << "an unknown id keeps the selection";
    EXPECT_EQ(window()->geometry(), QRect(440, 268, 420, 320)) << "no move while streaming";

    controller.updateResult(QStringLiteral("Dear"));
    EXPECT_EQ(window()->height(), 320);
    // 12 lines: 118 + 12 * 18 = 334, more than 4 px from 320; it grows upwards, away from the field.
    controller.showResult(QStringLiteral("line\n").repeated(12));
    EXPECT_EQ(state().status(), FloatingPanelStatus::Done);
    EXPECT_EQ(window()->geometry(), QRect(440, 254, 420, 334));
}

TEST_F(ShowsAndRoutes, StreamErrorKeepsTheTextsAndTheSize) {
    enterOptimizing(QStringLiteral("original words"));
    controller.updateResult(QStringLiteral("partial answ"));
    const QRect before = window()->geometry();
    controller.showError(QStringLiteral("The request timed out."));
    EXPECT_EQ(state().status(), FloatingPanelStatus::Error);
    EXPECT_EQ(state().originalText(), QStringLiteral("original words"));
    EXPECT_EQ(state().optimizedText(), QStringLiteral("partial answ"));
    EXPECT_EQ(window()->geometry(), before);
}

TEST_F(ShowsAndRoutes, ErrorOnlyPanelKeepsAVisiblePanelInPlaceAndOpensAHiddenOneNearThePointer) {
    engine.bundleID = QStringLiteral("org.gnome.TextEditor");
    enterDone();
    const QRect visibleFrame = window()->geometry();
    controller.showErrorMessage(QStringLiteral("Couldn't write the text back."));
    EXPECT_EQ(window()->geometry(), visibleFrame);
    EXPECT_EQ(state().status(), FloatingPanelStatus::Error);
    EXPECT_TRUE(state().originalText().isEmpty());
    EXPECT_TRUE(state().optimizedText().isEmpty());
    EXPECT_TRUE(state().recipeNote().isEmpty());
    EXPECT_FALSE(state().canRememberRule());

    controller.hide();
    controller.showErrorMessage(QStringLiteral("No API key is set."));
    EXPECT_TRUE(controller.isPanelVisible());
    EXPECT_EQ(window()->geometry(), QRect(490, 432, 420, 250)) << "just below the pointer's line";
}

// However a run ends, the panel grows away from its field (or the pointer's line) and never over it.
TEST_F(ShowsAndRoutes, APanelGrowsAwayFromItsFieldWithinTheScreen) {
    desktop.pointerAt = QPointF(700, 855);
    const struct {
        const char* name;
        std::optional<QRectF> field;  // none: near the pointer
        bool error;
        int keptEdge;  // the panel's bottom edge above the field, or its top edge below it
    } cases[] = {
        {"a result above its field grows upwards", QRectF(300, 820, 500, 30), false, 808},
        {"a 40-line error above its field", QRectF(300, 820, 500, 30), true, 808},
        {"a result below its field grows downwards", QRectF(300, 60, 500, 30), false, 102},
        {"a 40-line error below its field", QRectF(300, 60, 500, 30), true, 102},
        {"a result above the pointer's line", std::nullopt, false, 823},
    };
    for (const auto& c : cases) {
        controller.show(QStringLiteral("the text"), c.field ? std::optional(c.field->topLeft()) : std::nullopt,
                        c.field ? c.field->size() : QSizeF(), QStringLiteral("optimize"));
        const bool above = window()->geometry().center().y() < (c.field ? c.field->center() : desktop.pointerAt).y();
        if (c.error)
            controller.showError(QStringLiteral("HTTP 500: {\"error\": \"upstream\"}\n").repeated(40));
        else
            controller.showResult(QStringLiteral("A sentence of the answer that wraps.\n").repeated(20));
        const QRect frame = window()->geometry();
        EXPECT_EQ(above ? frame.top() + frame.height() : frame.top(), c.keptEdge) << c.name;
        EXPECT_GT(frame.height(), 280) << c.name << ": it grew";
        EXPECT_LE(frame.height(), 480) << c.name << ": a long text scrolls in a panel of bounded height";
        EXPECT_TRUE(!c.error || find<PlainTextBox>("errorText")->verticalScrollBar()->maximum() > 0) << c.name;
    }
}

// A window with no room beside it (maximised): the advice about its unreadable field, and the run
// that follows near the pointer, cover neither the pointer nor the line the user works on.
TEST_F(ShowsAndRoutes, NoRoomBesideTheWindowLeavesThePointerAndTheLineFree) {
    const struct {
        const char* name;
        QPointF pointer;
        std::optional<QRectF> line;
    } cases[] = {
        {"pointer low", {700, 800}, std::nullopt},
        {"pointer high", {700, 60}, std::nullopt},
        {"pointer high, selection low", {700, 120}, QRectF(40, 760, 900, 18)},
        {"pointer in the middle, selection below it", {700, 450}, QRectF(40, 470, 900, 18)},
    };
    for (const auto& c : cases) {
        desktop.pointerAt = c.pointer;
        controller.showErrorMessageBeside(QStringLiteral("Couldn't read the focused text field."),
                                          desktop.areas.first().available, c.line);
        const QRect advice = window()->geometry();
        controller.show(QStringLiteral("selected text"), std::nullopt, QSizeF(), QStringLiteral("optimize"), c.line);
        for (const QRect& frame : {advice, window()->geometry()}) {
            EXPECT_FALSE(frame.contains(c.pointer.toPoint())) << c.name;
            EXPECT_FALSE(c.line && frame.intersects(c.line->toRect())) << c.name;
        }
    }
    // A field filling the maximised window, the caret's line low and the pointer high: the run's
    // panel stands over the field, on neither line.
    desktop.pointerAt = {700, 120};
    const QRectF caret(60, 800, 2, 18);
    controller.show(QStringLiteral("text"), QPointF(0, 60), QSizeF(1440, 830), QStringLiteral("optimize"), caret);
    const QRect frame = window()->geometry();
    EXPECT_FALSE(frame.contains(desktop.pointerAt.toPoint()));
    EXPECT_TRUE(frame.bottom() < caret.top() || frame.top() > caret.bottom()) << frame.top();
}

TEST_F(ShowsAndRoutes, BeginStreamingWithoutAPanelChangesNothing) {
    state().setDraftInput(QStringLiteral("typed"));
    controller.beginStreamingResult(QStringLiteral("concise"));
    EXPECT_EQ(state().draftInput(), QStringLiteral("typed"));
    EXPECT_TRUE(state().selectedRecipeID().isEmpty());
    EXPECT_EQ(window(), nullptr);
    // Streamed text still reaches the model when no panel exists.
    controller.updateResult(QStringLiteral("late token"));
    EXPECT_EQ(state().optimizedText(), QStringLiteral("late token"));
}

struct StatusCase {
    const char* name;
    std::function<void()> enter;
    const char* title;
    QStringList shown;
    QStringList hidden;
};

TEST_F(ShowsAndRoutes, EachStatusOffersItsOwnSectionsAndButtons) {
    const QStringList always{"closeButton", "statusTitle", "recipePicker", "cancelButton"};
    const StatusCase cases[] = {
        {"drafting", [this] { enterDrafting(); }, "Draft mode: empty field",
         {"statusIcon", "draftSection", "draftEditor", "generateButton"},
         {"busyIndicator", "originalSection", "resultSection", "copyButton", "retryErrorButton", "retryResultButton",
          "replaceButton"}},
        {"optimizing", [this] { enterOptimizing(); }, "Optimizing…",
         {"busyIndicator", "originalSection", "resultSection", "resultArea"},
         {"statusIcon", "draftSection", "copyButton", "errorArea", "generateButton", "retryErrorButton",
          "retryResultButton", "replaceButton"}},
        {"done", [this] { enterDone(); }, "Done",
         {"statusIcon", "originalSection", "resultArea", "copyButton", "retryResultButton", "replaceButton"},
         {"busyIndicator", "draftSection", "errorArea", "generateButton", "retryErrorButton"}},
        {"error", [this] { enterError(); }, "Error",
         {"statusIcon", "originalSection", "errorArea", "retryErrorButton", "resultArea", "copyButton"},
         {"busyIndicator", "generateButton", "retryResultButton", "replaceButton"}},
        {"error before any text",
         [this] {
             enterOptimizing();
             controller.showError(QStringLiteral("The provider answered with HTTP 500."));
         },
         "Error",
         {"statusIcon", "originalSection", "errorArea", "retryErrorButton"},
         {"busyIndicator", "resultArea", "copyButton", "generateButton", "retryResultButton", "replaceButton"}},
    };
    for (const auto& c : cases) {
        c.enter();
        EXPECT_EQ(find<ElidedLabel>("statusTitle")->fullText(), QString::fromUtf8(c.title)) << c.name;
        for (const QString& name : always + c.shown)
            EXPECT_TRUE(shown(name.toLatin1().constData())) << c.name << ": " << name.toStdString() << " should show";
        for (const QString& name : c.hidden)
            EXPECT_FALSE(shown(name.toLatin1().constData())) << c.name << ": " << name.toStdString() << " should hide";
    }
}

TEST_F(ShowsAndRoutes, AnErrorOnlyPanelOrADraftRunShowsNoOriginalSection) {
    controller.showErrorMessage(QStringLiteral("Text too short."));
    EXPECT_FALSE(shown("originalSection"));
    EXPECT_FALSE(shown("originalDivider"));
    EXPECT_TRUE(shown("errorArea"));

    enterDrafting();
    controller.beginStreamingResult(QStringLiteral("optimize"));
    EXPECT_FALSE(shown("draftSection"));
    EXPECT_FALSE(shown("originalSection"));
    EXPECT_TRUE(shown("resultArea"));
    EXPECT_EQ(find<ElidedLabel>("statusTitle")->fullText(), QStringLiteral("Optimizing…"));
    EXPECT_TRUE(shown("busyIndicator"));
}

TEST_F(ShowsAndRoutes, AnEngineBoundAfterThePanelGetsTheRequestsFromThenOn) {
    FloatingPanelController late(recipes, preferences, clock, desktop);
    late.show(QStringLiteral("text"), std::nullopt, QSizeF(), QStringLiteral("optimize"));
    late.showResult(QStringLiteral("result"));
    auto replace = [&] { late.view()->findChild<QAbstractButton*>(QStringLiteral("replaceButton"))->click(); };
    replace(); // nothing to reach yet, and no crash
    EXPECT_EQ(late.state().recipeNote(), QStringLiteral("Global default"));
    late.setEngine(engine);
    replace();
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("replaceText")});
}

} // namespace
