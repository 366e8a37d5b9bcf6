// Cancel, abandon and rerun: what they leave behind, the user's clipboard, and streams of ended
// runs that must never reach the next run.
#include "EngineHarness.h"
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testkit;
using Kind = trigger::TriggerState::Kind;

namespace {

const platform::ClipboardSnapshot kUserClipboard = {
    {QStringLiteral("text/plain;charset=utf-8"), QByteArray("invoice #4411")},
    {QStringLiteral("text/html"), QByteArray("<a href=\"x\">invoice #4411</a>")},
    {QStringLiteral("application/x-custom"), QByteArray("\0\1\2\3", 4)},
};

QStringList formats(const platform::ClipboardSnapshot& items) {
    QStringList out;
    for (const auto& item : items)
        out << item.format + QLatin1Char('=') + QString::fromLatin1(item.data.toHex());
    return out;
}

std::shared_ptr<FakeField> editorField(EngineHarness& h, bool throughClipboard) {
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    auto f = h.field(w, kSentence);
    f->readable = !throughClipboard;
    h.desktop.clipboard().userCopies(kUserClipboard);
    return f;
}

} // namespace

TEST(RunControl, EndedRunsStreamNeverReachesTheNextRun) {
    struct Case {
        const char* name;
        std::function<void(EngineHarness&)> end;
        std::vector<Status> statusesAfterEnd;
        bool hidesPanel;
        bool endsIdle;  // a rerun starts the next run at once
    };
    const std::vector<Case> cases = {
        {"cancel", [](EngineHarness& h) { h.engine.cancel(); }, {Status::Triggered, Status::Cancelled}, true, true},
        {"abandon", [](EngineHarness& h) { h.engine.abandon(false); }, {Status::Triggered, Status::Cancelled}, false,
         true},
        {"silent abandon", [](EngineHarness& h) { h.engine.abandon(true); }, {Status::Triggered}, false, true},
        {"rerun", [](EngineHarness& h) { h.engine.rerun(std::nullopt); }, {Status::Triggered, Status::Triggered},
         true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        editorField(h, false);
        h.trigger(QStringLiteral("shorten"));
        auto first = h.model.requests[0].stream;
        first->token(QStringLiteral("Stale beginning"));
        h.panel.calls.clear();
        h.activity.changes.clear();

        c.end(h);

        EXPECT_TRUE(first->stopped);  // the request is aborted
        EXPECT_EQ(h.statuses(), c.statusesAfterEnd);
        EXPECT_EQ(h.lastRecord().originalPreview, kSentence);
        EXPECT_EQ(h.panel.calls.value(0) == QStringLiteral("hide()"), c.hidesPanel);
        if (c.endsIdle) {
            // Back to idle, with the last recipe's name kept for the next run's record.
            EXPECT_TRUE(h.engine.isIdle());
            EXPECT_EQ(h.engine.currentBundleID(), QString());
            EXPECT_EQ(h.engine.currentRecipeSource(), trigger::RecipeSource::globalDefault());
            EXPECT_EQ(h.engine.currentRecipeName(), QStringLiteral("Make Concise"));
            EXPECT_EQ(h.activity.changes, std::vector{AppActivity::Idle});
        }
        // Whatever the old stream still says is dropped.
        const auto panelCalls = h.panel.calls;
        const auto activity = h.activity.changes;
        const auto usage = h.usage.events.size();
        first->token(QStringLiteral(" and more"));
        first->done();
        EXPECT_EQ(h.panel.calls, panelCalls);
        EXPECT_EQ(h.activity.changes, activity);
        EXPECT_EQ(h.usage.events.size(), usage);
        EXPECT_EQ(h.statuses(), c.statusesAfterEnd);

        // The next run gets only its own answer.
        if (c.endsIdle)
            h.trigger();
        ASSERT_EQ(h.engine.state().kind, Kind::Optimizing);
        h.panel.calls.clear();
        h.answer(QStringLiteral("Fresh"));
        EXPECT_EQ(h.panel.calls, (QStringList{QStringLiteral("updateResult(Fresh)"), QStringLiteral("showResult(Fresh)")}));
        EXPECT_EQ(h.engine.state(), trigger::TriggerState::result(QStringLiteral("Fresh")));
        const auto statuses = h.statuses();
        EXPECT_EQ(statuses.back(), Status::Completed);
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), Status::Completed), 1);
        EXPECT_EQ(h.usage.named(QStringLiteral("result")).size(), 1u);
    }
}

TEST(RunControl, OnAnIdleEngine) {
    EngineHarness h;
    h.engine.abandon(false);
    EXPECT_TRUE(h.logger.entries().isEmpty());
    EXPECT_TRUE(h.activity.changes.empty());
    h.engine.cancel();  // still records and hides
    EXPECT_EQ(h.statuses(), std::vector{Status::Cancelled});
    EXPECT_EQ(h.lastRecord().originalPreview, QString());
    EXPECT_EQ(h.panel.calls, QStringList{QStringLiteral("hide()")});
}

TEST(RunControl, UserClipboardComesBackExactly) {
    struct Case {
        const char* name;
        bool throughClipboard;
        std::function<void(EngineHarness&)> op;
        bool restored;
        std::optional<qint64> clipboardManager = std::nullopt;  // re-owns every new content this much later
    };
    const std::vector<Case> cases = {
        {"cancel of a clipboard run", true, [](EngineHarness& h) { h.engine.cancel(); }, true},
        {"abandon of a clipboard run", true, [](EngineHarness& h) { h.engine.abandon(false); }, true},
        {"silent abandon of a clipboard run", true, [](EngineHarness& h) { h.engine.abandon(true); }, true},
        {"user copied something meanwhile", true,
         [](EngineHarness& h) {
             h.desktop.clipboard().userCopiesText(QStringLiteral("newer copy"));
             h.engine.cancel();
         },
         false},
        {"accessibility run leaves the clipboard alone", false, [](EngineHarness& h) { h.engine.cancel(); }, true},
        // A clipboard manager that takes over our copy is not the user copying something new.
        {"cancel after a clipboard manager took our copy", true, [](EngineHarness& h) { h.engine.cancel(); }, true, 100},
        {"close after a clipboard manager took our copy", true, [](EngineHarness& h) { h.engine.abandon(false); }, true,
         500},
        {"user copied something meanwhile, with a clipboard manager", true,
         [](EngineHarness& h) {
             h.desktop.clipboard().userCopiesText(QStringLiteral("newer copy"));
             h.clock.runAll();
             h.engine.cancel();
         },
         false, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        h.desktop.setClipboardManager(c.clipboardManager);
        editorField(h, c.throughClipboard);
        h.clock.runAll();
        const auto writes = h.desktop.clipboard().writeCount();
        const auto changes = h.desktop.clipboard().changeCount();
        h.trigger();
        if (c.throughClipboard) {
            EXPECT_EQ(h.desktop.clipboard().text(), kSentence);  // our copy, while the run goes on
        }
        if (c.clipboardManager) {
            EXPECT_EQ(h.desktop.clipboard().changeCount(), changes + 2) << "our copy, then the manager's";
        }
        c.op(h);
        h.clock.runAll();
        if (c.restored) {
            EXPECT_EQ(formats(h.desktop.clipboard().snapshot()), formats(kUserClipboard));
        } else {
            EXPECT_EQ(h.desktop.clipboard().text(), QStringLiteral("newer copy"));
        }
        if (!c.throughClipboard) {
            EXPECT_EQ(h.desktop.clipboard().writeCount(), writes);
        }
    }
}

TEST(RunControl, RerunReadsAgainAndKeepsTheUsersClipboard) {
    EngineHarness h;
    auto f = editorField(h, true);
    h.trigger();
    h.answer(QStringLiteral("Fixed."));
    f->text = QStringLiteral("The user edited the field meanwhile");

    h.engine.rerun(QStringLiteral("shorten"));
    h.clock.runAll();

    EXPECT_EQ(h.panel.calls.mid(h.panel.calls.size() - 2),
              (QStringList{QStringLiteral("hide()"),
                           QStringLiteral("show(The user edited the field meanwhile|mouse|0x0|shorten)")}));
    EXPECT_EQ(h.engine.currentRecipeSource(), trigger::RecipeSource::sessionManual());
    EXPECT_EQ(h.model.requests.size(), 2u);
    EXPECT_EQ(h.statuses(), (std::vector{Status::Triggered, Status::Completed, Status::Triggered}));
    // Cancelling the new run gives back what the user had before the first trigger.
    h.engine.cancel();
    EXPECT_EQ(formats(h.desktop.clipboard().snapshot()), formats(kUserClipboard));
}

TEST(RunControl, RerunChoosesAgainWithoutTheHotkeysRecipe) {
    struct Case {
        const char* name;
        std::optional<QString> manual;
        QString recipe;
        trigger::RecipeSource source;
    };
    const std::vector<Case> cases = {
        {"retry", std::nullopt, QStringLiteral("optimize"), trigger::RecipeSource::globalDefault()},
        {"unknown recipe", QStringLiteral("user-DELETED"), QStringLiteral("optimize"),
         trigger::RecipeSource::globalDefault()},
        {"picked recipe", QStringLiteral("brief"), QStringLiteral("brief"), trigger::RecipeSource::sessionManual()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        editorField(h, false);
        h.trigger(QStringLiteral("code-task"));
        EXPECT_EQ(h.engine.currentRecipeSource(), trigger::RecipeSource::hotkey());
        h.engine.rerun(c.manual);
        h.clock.runAll();
        EXPECT_EQ(h.engine.currentRecipeSource(), c.source);
        EXPECT_TRUE(h.panel.calls.last().endsWith(c.recipe + QLatin1Char(')')));
    }
}

TEST(RunControl, CancelWhileTheFieldIsBeingCopied) {
    EngineHarness h;
    auto f = editorField(h, true);
    f->selection = {0, 10};
    h.desktop.setCopyDelay(200);
    h.panel.visible = true;  // an error message of an earlier paste is still on screen

    h.runs.push_back(h.engine.trigger(std::nullopt));
    h.clock.advance(100);
    h.engine.cancel();
    h.clock.runAll();

    // The read finishes on its own, gives the clipboard back and starts nothing.
    EXPECT_EQ(formats(h.desktop.clipboard().snapshot()), formats(kUserClipboard));
    EXPECT_TRUE(h.model.requests.empty());
    EXPECT_EQ(h.panel.calls, QStringList{QStringLiteral("hide()")});
    EXPECT_TRUE(h.engine.isIdle());
    EXPECT_EQ(h.diag().last(), QStringLiteral("trigger ABORTED: run ended while reading the field"));

    h.trigger();  // the next trigger works normally
    EXPECT_EQ(h.engine.state().kind, Kind::Optimizing);
}
