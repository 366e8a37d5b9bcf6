#pragma once
// A panel controller over the recording engine, in-memory recipes and preferences, a virtual clock
// and a fixed 1440 x 900 desktop, with helpers to find the view's widgets by object name.
#include "PanelFakes.h"
#include "panel/FloatingPanelController.h"
#include "panel/FloatingPanelView.h"
#include "panel/PanelWindow.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace corvane::panel::testing {

class PanelTest : public ::testing::Test {
protected:
    void TearDown() override { flushDeferredDeletes(); }

    FloatingPanelView* view() { return controller.view(); }
    PanelWindow* window() { return controller.panel(); }
    FloatingPanelState& state() { return controller.state(); }

    template <class T = QWidget>
    T* find(const char* name) {
        return view() ? view()->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    // Shown to the user: the widget and all its ancestors up to the panel are visible.
    bool shown(const char* name) {
        QWidget* w = find(name);
        return w && window() && w->isVisibleTo(window());
    }
    void click(const char* name) {
        auto* button = find<QAbstractButton>(name);
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(shown(name)) << name << " is not shown";
        QTest::mouseClick(button, Qt::LeftButton);
    }
    static void flushDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // The four statuses, reached the way the engine reaches them.
    void enterDrafting() { controller.showDraft(QPointF(100, 400), QSizeF(300, 30), QStringLiteral("optimize")); }
    void enterOptimizing(const QString& original = QStringLiteral("teh quick brown fox jumsp over the lazy dog")) {
        controller.show(original, QPointF(100, 400), QSizeF(300, 30), QStringLiteral("optimize"));
    }
    void enterDone(const QString& result = QStringLiteral("The quick brown fox jumps over the lazy dog.")) {
        enterOptimizing();
        controller.updateResult(result.left(10));
        controller.showResult(result);
    }
    void enterError(const QString& message = QStringLiteral("The provider answered with HTTP 500.")) {
        enterOptimizing();
        controller.updateResult(QStringLiteral("The quick"));
        controller.showError(message);
    }

    RecordingEngine engine;
    MemoryRecipeCatalog recipes;
    platform::fake::MemoryPreferences preferences;
    platform::fake::FakeClock clock;
    FixedDesktop desktop;
    FloatingPanelController controller{engine, recipes, preferences, clock, desktop};
};

} // namespace corvane::panel::testing
