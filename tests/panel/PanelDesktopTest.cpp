// The panel on a real X server with a window manager (run inside the headless test session): a
// GTK entry has the focus, the panel shows next to it and its buttons are clicked with the real
// pointer. The entry must keep _NET_ACTIVE_WINDOW and the input focus; only the draft editor may
// take them, and it hands them back when the description is submitted.
#include "PanelFakes.h"
#include "panel/FloatingPanelController.h"
#include "panel/FloatingPanelView.h"
#include "panel/PanelWindow.h"
#include "platform/SystemClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "support/DesktopProcess.h"
#include "support/WindowManagerSync.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAbstractItemView>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::panel;
using namespace corvane::panel::testing;
using namespace corvane::testsupport;

namespace {

// How long a step may take before the test gives up on it: generous, for a busy machine.
constexpr int kPatienceMs = 25000;

// xdotool's answer (a window id, a pid...), trimmed.
QString xdotoolOutput(const QStringList& args) { return run(QStringLiteral("xdotool"), args).trimmed(); }

quint64 activeWindow() { return xdotoolOutput({QStringLiteral("getactivewindow")}).toULongLong(); }
quint64 focusWindow() { return xdotoolOutput({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}).toULongLong(); }

// A GTK entry dialog standing for the application the user types in.
class Entry {
public:
    Entry() {
        m_proc.start(QStringLiteral("zenity"), {QStringLiteral("--entry"), QStringLiteral("--title=corvane-panel-test"),
                                                QStringLiteral("--entry-text=typing here")});
        // Polled rather than --sync: a search that meets a window being destroyed fails outright.
        QString id;
        waitFor([&id] {
            id = xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                          QStringLiteral("corvane-panel-test")})
                     .split(QLatin1Char('\n'))
                     .value(0);
            return !id.isEmpty();
        }, kPatienceMs);
        window = id.toULongLong();
        if (window) {
            xdotoolOutput({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
            waitFor([this] { return activeWindow() == window; }, kPatienceMs);
            focus = focusWindow(); // GTK puts the input focus on a child of its top-level window
        }
    }
    ~Entry() {
        m_proc.kill();
        m_proc.waitForFinished(3000);
    }
    quint64 window = 0;
    quint64 focus = 0;

private:
    QProcess m_proc;
};

class PanelOnDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs the X11 test session";
    }

    void clickButton(const char* name) {
        auto* button = controller.view()->findChild<QAbstractButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(button->isVisible()) << name;
        clickAt(button);
    }
    void clickAt(QWidget* w) {
        const QPoint p = w->mapToGlobal(w->rect().center());
        xdotoolOutput({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()), QString::number(p.y())});
        xdotoolOutput({QStringLiteral("click"), QStringLiteral("1")});
    }
    // The entry still owns the keyboard: it is the active window and the input focus is in it.
    void expectEntryKeepsFocus(const Entry& entry, const char* step) {
        // Whatever the step made the window manager and this process do has been done by now.
        EXPECT_TRUE(windowManagerRoundTrip()) << step << ": the window manager did not answer";
        QGuiApplication::sync();
        EXPECT_EQ(activeWindow(), entry.window) << step;
        EXPECT_EQ(focusWindow(), entry.focus) << step;
    }
    bool panelMapped() {
        if (!controller.isPanelVisible())
            return false;
        const QString info = run(QStringLiteral("xwininfo"),
                                 {QStringLiteral("-id"), QString::number(controller.panel()->winId())});
        return info.contains(QLatin1String("IsViewable"));
    }

    RecordingEngine engine;
    MemoryRecipeCatalog recipes;
    platform::fake::MemoryPreferences preferences;
    platform::SystemClock clock;
    QtDesktopGeometry desktop;
    FloatingPanelController controller{engine, recipes, preferences, clock, desktop};
};

TEST_F(PanelOnDesktop, ShowingAndClickingThePanelLeavesTheFocusOnTheApplication) {
    Entry entry;
    ASSERT_NE(entry.window, 0u) << "zenity did not come up";
    ASSERT_NE(entry.focus, 0u);

    controller.show(QStringLiteral("typing here"), QPointF(300, 420), QSizeF(300, 28), QStringLiteral("optimize"));
    ASSERT_TRUE(waitFor([this] { return panelMapped(); }, kPatienceMs)) << "the panel never appeared";
    expectEntryKeepsFocus(entry, "after show");

    controller.updateResult(QStringLiteral("Typing here, "));
    controller.showResult(QStringLiteral("Typing here, politely."));
    expectEntryKeepsFocus(entry, "after the result");

    for (const char* button : {"copyButton", "retryResultButton", "replaceButton", "cancelButton"}) {
        clickButton(button);
        expectEntryKeepsFocus(entry, button);
    }
    EXPECT_EQ(engine.calls, (QStringList{QStringLiteral("rerun(none)"), QStringLiteral("replaceText"),
                                         QStringLiteral("cancel")}))
        << "every click registered";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Typing here, politely."));

    // A click on the panel's background (between the title and the recipe menu) does not
    // activate it either.
    QWidget* title = controller.view()->findChild<QWidget*>(QStringLiteral("statusTitle"));
    QWidget* picker = controller.view()->findChild<QWidget*>(QStringLiteral("recipePicker"));
    const int gapX = (title->mapToGlobal(QPoint(title->width(), 0)).x() + picker->mapToGlobal(QPoint(0, 0)).x()) / 2;
    const int gapY = title->mapToGlobal(title->rect().center()).y();
    xdotoolOutput({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(gapX), QString::number(gapY)});
    xdotoolOutput({QStringLiteral("click"), QStringLiteral("1")});
    expectEntryKeepsFocus(entry, "after a click on the panel's background");

    // The recipe menu opens and takes a pick by click; the entry keeps its focus.
    auto* menu = qobject_cast<QComboBox*>(picker);
    engine.calls.clear();
    clickAt(menu);
    ASSERT_TRUE(waitFor([menu] { return menu->view()->isVisible(); }, kPatienceMs)) << "the recipe menu did not open";
    const QModelIndex second = menu->model()->index(1, 0);
    const QRect item = menu->view()->visualRect(second);
    const QPoint itemAt = menu->view()->viewport()->mapToGlobal(item.center());
    xdotoolOutput({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(itemAt.x()), QString::number(itemAt.y())});
    xdotoolOutput({QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(waitFor([this] { return !engine.calls.isEmpty(); }, kPatienceMs)) << "the pick did not register";
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("rerun(none)")});
    EXPECT_EQ(recipes.selected, QStringLiteral("concise"));
    expectEntryKeepsFocus(entry, "after a pick in the recipe menu");

    // Save a picture of the real panel next to the entry.
    const QString dir = QStringLiteral(CORVANE_PANEL_ARTIFACTS);
    QDir().mkpath(dir);
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), dir + QStringLiteral("/desktop-done.png")});

    clickButton("closeButton");
    EXPECT_TRUE(waitFor([this] { return !controller.isPanelVisible(); }, kPatienceMs));
    EXPECT_EQ(engine.calls.last(), QStringLiteral("abandon(false)"));
    expectEntryKeepsFocus(entry, "after closing the panel");
}

TEST_F(PanelOnDesktop, TheDraftEditorTakesTheKeyboardOnlyUntilGenerate) {
    Entry entry;
    ASSERT_NE(entry.window, 0u) << "zenity did not come up";

    controller.showDraft(QPointF(300, 420), QSizeF(300, 28), QStringLiteral("optimize"));
    ASSERT_TRUE(waitFor([this] { return panelMapped(); }, kPatienceMs));
    expectEntryKeepsFocus(entry, "a draft panel shows without taking the focus");

    auto* editor = controller.view()->findChild<QPlainTextEdit*>(QStringLiteral("draftEditor"));
    clickAt(editor->viewport());
    ASSERT_TRUE(waitFor([this] { return controller.holdsFocus(); }, kPatienceMs)) << "the editor could not be typed in";
    xdotoolOutput({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral("a thank-you note")});
    ASSERT_TRUE(waitFor([this] { return controller.state().draftInput() == QLatin1String("a thank-you note"); }, kPatienceMs))
        << controller.state().draftInput().toStdString();

    clickButton("generateButton");
    ASSERT_TRUE(waitFor([this] { return !engine.calls.isEmpty(); }, kPatienceMs)) << "Generate did not register";
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("finishDraft(a thank-you note)")});
    controller.beginStreamingResult(QStringLiteral("optimize"));
    EXPECT_TRUE(waitFor([&] { return activeWindow() == entry.window; }, kPatienceMs)) << "the focus did not come back";
    EXPECT_TRUE(waitFor([&] { return focusWindow() == entry.focus; }, kPatienceMs));
    EXPECT_FALSE(controller.holdsFocus());
    EXPECT_TRUE(controller.isPanelVisible()) << "the panel stays up for the answer";
}

} // namespace
