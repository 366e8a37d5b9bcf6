// The panel never takes the keyboard from the application the user types in; only the draft
// editor may take it while the user describes a text, and it is handed back before anything is
// written.
#include "PanelFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QWindow>

using namespace corvane::panel;
using namespace corvane::panel::testing;

namespace {

using Focus = PanelTest;

TEST_F(Focus, ThePanelIsAFramelessToolWindowShownWithoutActivation) {
    enterDone();
    const Qt::WindowFlags flags = window()->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::Tool));
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(window()->testAttribute(Qt::WA_ShowWithoutActivating));

    // No control of the panel can take the focus by a click.
    const auto widgets = window()->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w)) {
            EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->objectName().toStdString();
        }
    }
}

TEST_F(Focus, OnlyDraftModeLetsThePanelTakeTheKeyboard) {
    struct Case {
        const char* name;
        std::function<void()> enter;
        bool accepts;
    };
    const Case cases[] = {
        {"optimizing", [this] { enterOptimizing(); }, false},
        {"drafting", [this] { enterDrafting(); }, true},
        {"done", [this] { enterDone(); }, false},
        {"drafting again", [this] { enterDrafting(); }, true},
        {"error-only panel", [this] { controller.showErrorMessage(QStringLiteral("oops")); }, false},
    };
    for (const auto& c : cases) {
        c.enter();
        EXPECT_EQ(window()->acceptsFocus(), c.accepts) << c.name;
        EXPECT_TRUE(controller.isPanelVisible()) << c.name << ": changing the window's flags keeps it shown";
    }
}

TEST_F(Focus, TheFocusGoesBackBeforeTheDraftIsGenerated) {
    QWidget otherApp; // stands for the window the run read from
    otherApp.setObjectName(QStringLiteral("otherApp"));
    otherApp.show();
    int returned = 0;
    controller.setFocusReturner([&] {
        ++returned;
        otherApp.activateWindow();
    });
    QSignalSpy back(&controller, &FloatingPanelController::focusReturned);
    // The engine checks where the focus is when it is asked to generate.
    bool panelHeldFocusAtGenerate = true;
    engine.onCall = [&](const QString& call) {
        if (call.startsWith(QLatin1String("finishDraft")))
            panelHeldFocusAtGenerate = window()->acceptsFocus();
    };

    enterDrafting();
    auto* editor = find<QPlainTextEdit>("draftEditor");
    QTest::mouseClick(editor->viewport(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_TRUE(controller.holdsFocus()) << "clicking the editor lets the user type";
    QTest::keyClicks(editor, QStringLiteral("Thank the team"));

    click("generateButton");
    QApplication::processEvents();
    EXPECT_EQ(returned, 1);
    EXPECT_FALSE(panelHeldFocusAtGenerate);
    EXPECT_FALSE(controller.holdsFocus());
    EXPECT_GE(back.count(), 1);
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("finishDraft(Thank the team)")});
}

TEST_F(Focus, LeavingDraftModeWithoutHavingTheFocusReportsAtOnce) {
    enterDrafting();
    QSignalSpy back(&controller, &FloatingPanelController::focusReturned);
    controller.showErrorMessage(QStringLiteral("Describe what to write in at least 10 characters."));
    EXPECT_FALSE(window()->acceptsFocus());
    EXPECT_EQ(back.count(), 1);
}

} // namespace
