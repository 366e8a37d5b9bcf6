// The panel's content survives a self-update: saved just before the swap, shown once at the next
// launch when younger than 15 minutes, and never shown as a run that is not there.
#include "PanelFixture.h"
#include "panel/PanelWidgets.h"
#include "panel/RestoreSnapshot.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>

using namespace corvane::panel;
using namespace corvane::panel::testing;

namespace {

const QString key = QStringLiteral("panelRestoreSnapshot");

class Restore : public PanelTest {
protected:
    QJsonObject stored() const {
        const auto bytes = preferences.bytes(key);
        return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
    }
    void store(const QByteArray& json) { preferences.setValue(key, json); }
    std::unique_ptr<FloatingPanelController> relaunch() {
        return std::make_unique<FloatingPanelController>(engine, recipes, preferences, clock, desktop);
    }
};

TEST_F(Restore, SavesTheVisibleResultWithTheReferenceDate) {
    enterDone(QStringLiteral("Polished text."));
    controller.persistSnapshotForRestore();
    const QJsonObject o = stored();
    EXPECT_EQ(o.value(QStringLiteral("original")).toString(), QStringLiteral("teh quick brown fox jumsp over the lazy dog"));
    EXPECT_EQ(o.value(QStringLiteral("optimized")).toString(), QStringLiteral("Polished text."));
    EXPECT_EQ(o.value(QStringLiteral("recipeID")).toString(), QStringLiteral("optimize"));
    // 2026-01-15 09:30:00 UTC in seconds since 2001-01-01 00:00:00 UTC.
    EXPECT_DOUBLE_EQ(o.value(QStringLiteral("date")).toDouble(), 790162200.0);
    EXPECT_EQ(o.keys().size(), 4);
}

TEST_F(Restore, NothingIsSavedForAHiddenOrEmptyPanel) {
    controller.persistSnapshotForRestore();
    EXPECT_FALSE(preferences.contains(key)) << "no panel yet";

    enterDrafting();
    controller.persistSnapshotForRestore();
    EXPECT_FALSE(preferences.contains(key)) << "a draft panel holds no text";

    store(QByteArrayLiteral("earlier"));
    enterDone();
    controller.hide();
    controller.persistSnapshotForRestore();
    EXPECT_EQ(preferences.bytes(key), QByteArrayLiteral("earlier")) << "a hidden panel leaves the key alone";
}

TEST_F(Restore, ShownOnlyWhenYoungerThanFifteenMinutes) {
    struct Case {
        const char* name;
        qint64 ageMs;
        bool shown;
    };
    const Case cases[] = {
        {"saved 14:59 ago", 899'000, true},
        {"saved exactly 15:00 ago", 900'000, false},
        {"saved an hour ago", 3'600'000, false},
        {"saved in the future (clock changed)", -60'000, true},
    };
    for (const auto& c : cases) {
        const RestoreSnapshot snap{QStringLiteral("orig"), QStringLiteral("result"), QStringLiteral("optimize"),
                                   clock.now().addMSecs(-c.ageMs)};
        store(snap.toJson());
        auto next = relaunch();
        next->restoreSnapshotIfFresh();
        EXPECT_EQ(next->isPanelVisible(), c.shown) << c.name;
        EXPECT_FALSE(preferences.contains(key)) << c.name << ": every launch removes the key";
    }
}

TEST_F(Restore, UnreadableSnapshotsAreDroppedQuietly) {
    const QByteArray broken[] = {
        QByteArrayLiteral("not json at all"),
        QByteArrayLiteral("[1,2,3]"),
        QByteArrayLiteral("{\"original\":\"a\",\"optimized\":\"b\",\"recipeID\":\"optimize\"}"),
        QByteArrayLiteral("{\"original\":\"a\",\"optimized\":\"b\",\"recipeID\":\"optimize\",\"date\":\"yesterday\"}"),
        QByteArrayLiteral("{\"original\":1,\"optimized\":\"b\",\"recipeID\":\"optimize\",\"date\":790162200}"),
        QByteArrayLiteral("{\"original\":\"a\",\"optimized\":\"b\",\"recipeID\":\"optimize\",\"date\":1e300}"),
        QByteArrayLiteral("{\"original\":\"\",\"optimized\":\"\",\"recipeID\":\"optimize\",\"date\":790162200}"),
        QByteArray(),
    };
    for (const QByteArray& bytes : broken) {
        store(bytes);
        auto next = relaunch();
        next->restoreSnapshotIfFresh();
        EXPECT_FALSE(next->isPanelVisible()) << bytes.constData();
        EXPECT_FALSE(preferences.contains(key)) << bytes.constData();
    }
}

TEST_F(Restore, ExtraKeysAreIgnoredAndTheResultComesBackOnce) {
    store(QByteArrayLiteral("{\"original\":\"hello wrld\",\"optimized\":\"Hello, world!\",\"recipeID\":\"concise\","
                            "\"date\":790162100.25,\"future\":true}"));
    auto next = relaunch();
    next->restoreSnapshotIfFresh();
    ASSERT_TRUE(next->isPanelVisible());
    FloatingPanelState& s = next->state();
    EXPECT_EQ(s.status(), FloatingPanelStatus::Done);
    EXPECT_EQ(s.originalText(), QStringLiteral("hello wrld"));
    EXPECT_EQ(s.optimizedText(), QStringLiteral("Hello, world!"));
    EXPECT_EQ(s.selectedRecipeID(), QStringLiteral("concise"));
    EXPECT_EQ(s.recipeNote(), QStringLiteral("App updated · previous content restored"));
    EXPECT_EQ(next->panel()->geometry(), QRect(490, 432, 420, 260)) << "near the pointer, fitted to the text";

    auto third = relaunch();
    third->restoreSnapshotIfFresh();
    EXPECT_FALSE(third->isPanelVisible()) << "a second launch shows nothing";
}

TEST_F(Restore, RestoredContentOffersOnlyWhatCanWork) {
    struct Case {
        const char* name;
        QString original;
        QString optimized;
        bool copy;
    };
    const Case cases[] = {
        {"original and result", QStringLiteral("draft text"), QStringLiteral("better text"), true},
        {"original only", QStringLiteral("draft text"), QString(), false},
        {"result only", QString(), QStringLiteral("better text"), true},
    };
    for (const auto& c : cases) {
        store(RestoreSnapshot{c.original, c.optimized, QStringLiteral("gone-recipe"), clock.now()}.toJson());
        auto next = relaunch();
        next->restoreSnapshotIfFresh();
        ASSERT_TRUE(next->isPanelVisible()) << c.name;
        auto* v = next->view();
        auto shownIn = [&](const char* n) {
            auto* w = v->findChild<QWidget*>(QString::fromLatin1(n));
            return w && w->isVisibleTo(next->panel());
        };
        // No spinner: nothing is running.
        EXPECT_EQ(next->state().status(), FloatingPanelStatus::Done) << c.name;
        EXPECT_FALSE(shownIn("busyIndicator")) << c.name;
        // Nothing to retry and no field to write to.
        EXPECT_FALSE(shownIn("replaceButton")) << c.name;
        EXPECT_FALSE(shownIn("retryResultButton")) << c.name;
        EXPECT_FALSE(shownIn("rememberButton")) << c.name;
        EXPECT_EQ(shownIn("copyButton"), c.copy) << c.name;
        EXPECT_FALSE(v->findChild<QComboBox*>(QStringLiteral("recipePicker"))->isEnabled()) << c.name;
        EXPECT_EQ(next->state().selectedRecipeID(), QStringLiteral("optimize")) << c.name << ": global selection";
        EXPECT_EQ(shownIn("originalSection"), !c.original.isEmpty()) << c.name;

        // Ctrl+Return has nothing to press; Cancel and the close control put the panel away
        // without asking the engine for anything.
        engine.calls.clear();
        QTest::keyClick(v, Qt::Key_Return, Qt::ControlModifier);
        QTest::mouseClick(v->findChild<QAbstractButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
        EXPECT_FALSE(next->isPanelVisible()) << c.name;
        EXPECT_TRUE(engine.calls.isEmpty()) << c.name;

        // The next real run offers its buttons again.
        next->show(QStringLiteral("new text"), std::nullopt, QSizeF(), QStringLiteral("optimize"));
        next->showResult(QStringLiteral("new result"));
        EXPECT_TRUE(next->view()->findChild<QWidget*>(QStringLiteral("replaceButton"))->isVisibleTo(next->panel()));
    }
}

} // namespace
