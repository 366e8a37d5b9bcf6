// The model's answer flowing into the panel, its end and failures; draft mode for empty fields.
#include "EngineHarness.h"
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testkit;
using Kind = trigger::TriggerState::Kind;

namespace {

// An editor window whose field holds the sentence, triggered; the panel log starts after show().
void startRun(EngineHarness& h, const QString& text = kSentence) {
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    h.field(w, text);
    h.trigger();
    h.panel.calls.clear();
    h.activity.changes.clear();
}

// An empty field, triggered; the key sits in a locked keyring whose prompt waits for the user,
// and a description is submitted. Returns the field.
std::shared_ptr<FakeField> submitDraftWithLockedKeyring(EngineHarness& h) {
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    auto f = h.field(w, QString());
    h.trigger();
    h.secrets.locked = true;
    h.secrets.promptWaits = true;
    h.engine.finishDraft(QStringLiteral("a polite note declining the invitation"));
    return f;
}

} // namespace

TEST(Streaming, TokensGrowThePanelAndTheEndShowsTheCleanedResult) {
    EngineHarness h;
    startRun(h);
    h.clock.advance(1234);
    h.model.last().token(QStringLiteral("Please fix "));
    h.model.last().token(QString());
    h.model.last().token(QStringLiteral("the grammar.\n"));
    h.clock.advance(0);
    h.model.last().done();

    EXPECT_EQ(h.panel.calls, (QStringList{QStringLiteral("updateResult(Please fix )"),
                                          QStringLiteral("updateResult(Please fix )"),
                                          QStringLiteral("updateResult(Please fix the grammar.\n)"),
                                          QStringLiteral("showResult(Please fix the grammar.)")}));
    EXPECT_EQ(h.panel.pieces, (QStringList{QStringLiteral("Please fix "), QString(), QStringLiteral("the grammar.\n")}))
        << "each token also comes as the piece it adds";
    EXPECT_EQ(h.engine.state(), trigger::TriggerState::result(QStringLiteral("Please fix the grammar.")));
    EXPECT_EQ(h.activity.changes, std::vector{AppActivity::Done});
    EXPECT_EQ(h.statuses(), (std::vector{Status::Triggered, Status::Completed}));
    EXPECT_EQ(h.lastRecord().optimizedPreview, QStringLiteral("Please fix the grammar."));
    EXPECT_EQ(h.lastRecord().context, QStringLiteral("app=org.gnome.TextEditor"));
    EXPECT_EQ(h.lastRecord().recipeName, QStringLiteral("Optimize Prompt"));
    EXPECT_EQ(h.usage.named(QStringLiteral("result")),
              oneEvent({{QStringLiteral("action"), QStringLiteral("process")},
                                        {QStringLiteral("ok"), true},
                                        {QStringLiteral("latency_ms"), qint64(1234)}}));
}

// Nothing to write is no result: an answer without text offers no Replace.
TEST(Streaming, StreamWithoutTextEndsAsAnError) {
    EngineHarness h;
    startRun(h);
    h.model.last().done();
    EXPECT_EQ(h.engine.state(), trigger::TriggerState::error(QStringLiteral("The server returned an empty response")));
    EXPECT_EQ(h.panel.calls, QStringList{QStringLiteral("showError(The server returned an empty response)")});
    EXPECT_EQ(h.lastRecord().status, Status::Failed);
    EXPECT_EQ(h.usage.named(QStringLiteral("result"))[0][QStringLiteral("error_kind")], QStringLiteral("empty_response"));
}

TEST(Streaming, FailuresReachStatePanelLogAndUsage) {
    const QString longMessage = QStringLiteral("é").repeated(150);
    struct Case {
        const char* name;
        std::function<void(EngineHarness&)> fail;
        QString message;
        QVariantMap usage;
        QStringList panel;
    };
    const std::vector<Case> cases = {
        {"error event after some tokens",
         [](EngineHarness& h) {
             h.model.last().token(QStringLiteral("Partial"));
             h.clock.advance(250);
             h.model.last().error(QStringLiteral("HTTP 429 — slow down"), QStringLiteral("http_429"));
         },
         QStringLiteral("HTTP 429 — slow down"),
         {{QStringLiteral("action"), QStringLiteral("process")},
          {QStringLiteral("ok"), false},
          {QStringLiteral("latency_ms"), qint64(250)},
          {QStringLiteral("error_kind"), QStringLiteral("http_429")},
          {QStringLiteral("note"), QStringLiteral("HTTP 429 — slow down")}},
         {QStringLiteral("updateResult(Partial)"), QStringLiteral("showError(HTTP 429 — slow down)")}},
        {"a long message gives a note of 110 characters",
         [&](EngineHarness& h) { h.model.last().error(longMessage, QStringLiteral("provider")); },
         longMessage,
         {{QStringLiteral("action"), QStringLiteral("process")},
          {QStringLiteral("ok"), false},
          {QStringLiteral("latency_ms"), qint64(0)},
          {QStringLiteral("error_kind"), QStringLiteral("provider")},
          {QStringLiteral("note"), QStringLiteral("é").repeated(110)}},
         {QStringLiteral("showError(%1)").arg(longMessage)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        startRun(h);
        c.fail(h);
        EXPECT_EQ(h.engine.state(), trigger::TriggerState::error(c.message));
        EXPECT_EQ(h.panel.calls, c.panel);
        EXPECT_EQ(h.activity.changes, std::vector{AppActivity::Error});
        EXPECT_EQ(h.statuses(), (std::vector{Status::Triggered, Status::Failed}));
        EXPECT_EQ(h.lastRecord().detail, c.message);
        EXPECT_EQ(h.lastRecord().context, QStringLiteral("app=org.gnome.TextEditor"));
        EXPECT_EQ(h.usage.named(QStringLiteral("result")), std::vector{c.usage});
    }
}

TEST(Streaming, ARequestThatCannotStartIsAnException) {
    for (const auto failure : {ScriptedModel::Failure::Throws, ScriptedModel::Failure::NoStream}) {
        EngineHarness h;
        h.model.failure = failure;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        h.field(w, kSentence);
        h.trigger();
        EXPECT_EQ(h.engine.state().kind, Kind::Error);
        EXPECT_TRUE(h.panel.calls.last().startsWith(QStringLiteral("showError(")));
        if (failure == ScriptedModel::Failure::Throws) {
            EXPECT_EQ(h.engine.state().text, QStringLiteral("connection pool exhausted"));
        }
        EXPECT_EQ(h.activity.changes,
                  (std::vector{AppActivity::Triggered, AppActivity::Optimizing, AppActivity::Error}));
        const auto result = h.usage.named(QStringLiteral("result"));
        ASSERT_EQ(result.size(), 1u);
        EXPECT_EQ(result[0][QStringLiteral("error_kind")], QStringLiteral("exception"));
        EXPECT_FALSE(result[0].contains(QStringLiteral("note")));
        EXPECT_EQ(h.statuses(), (std::vector{Status::Triggered, Status::Failed}));
    }
}

TEST(Draft, EmptyFieldOpensDraftModeAndTheDescriptionIsRun) {
    EngineHarness h;
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    auto f = h.field(w, QStringLiteral("   "));  // the trigger's own spaces
    f->extents = {40, 60, 500, 30};
    f->caretExtents = QRectF(40, 66, 0, 17);  // an empty caret: a line all the same

    h.trigger();

    EXPECT_TRUE(h.engine.isAwaitingInstruction());
    EXPECT_EQ(h.panel.calls, QStringList{QStringLiteral("showDraft(40,60|500x30|optimize)")});
    EXPECT_EQ(h.panel.lines, std::vector{std::optional(QRectF(40, 66, 0, 17))});
    EXPECT_EQ(h.activity.changes, std::vector{AppActivity::Triggered});
    EXPECT_TRUE(h.logger.entries().isEmpty());
    EXPECT_TRUE(h.usage.events.empty());
    EXPECT_EQ(h.diag().last(), QStringLiteral("trigger → DRAFT mode (empty input)"));

    qsizetype recordsAtRequest = -1;
    h.model.onRequest = [&] { recordsAtRequest = h.logger.entries().size(); };
    h.engine.finishDraft(QStringLiteral("\n  a polite note declining the invitation  \n"));
    h.engine.finishDraft(QStringLiteral("a second submission is ignored"));
    EXPECT_EQ(recordsAtRequest, 0) << "the request goes out before the record";

    EXPECT_EQ(h.engine.state().kind, Kind::Optimizing);
    EXPECT_EQ(h.panel.calls.last(), QStringLiteral("beginStreamingResult(optimize)"));
    EXPECT_EQ(h.activity.changes, (std::vector{AppActivity::Triggered, AppActivity::Optimizing}));
    EXPECT_EQ(h.usage.named(QStringLiteral("draft_submit")).size(), 1u);
    ASSERT_EQ(h.logger.entries().size(), 1);
    EXPECT_EQ(h.lastRecord().status, Status::Triggered);
    EXPECT_EQ(h.lastRecord().originalPreview, QStringLiteral("a polite note declining the invitation"));
    EXPECT_EQ(h.lastRecord().context, QStringLiteral("app=org.gnome.TextEditor read=draft recipe=global-default"));
    ASSERT_EQ(h.model.requests.size(), 1u);
    EXPECT_TRUE(h.model.requests[0].prompt.contains(
        QStringLiteral("(read=draft)\n") + QStringLiteral("If the actual type of the input text differs from the "
                                                          "typical use of this mode, follow the text's actual type."
                                                          "\n\n[Input text]\na polite note declining the invitation\n")));

    h.answer(QStringLiteral("Thank you for the invitation; I can't attend."));
    EXPECT_EQ(h.usage.named(QStringLiteral("result"))[0][QStringLiteral("action")], QStringLiteral("draft"));

    // Replace writes the draft into the empty field through accessibility.
    h.replace();
    EXPECT_EQ(f->text, QStringLiteral("Thank you for the invitation; I can't attend."));
    EXPECT_TRUE(w.keysReceived.isEmpty());
}

// Retry after a server error opens the draft holding its description and sends it again, with a
// recipe picked for the retry.
TEST(Draft, RetryAfterAServerErrorSendsTheDescriptionAgain) {
    for (const QString& recipe : {QStringLiteral("optimize"), QStringLiteral("shorten")}) {
        EngineHarness h;
        h.field(h.app(kEditor, QStringLiteral("Text Editor")), QString());
        h.trigger();
        h.engine.finishDraft(QStringLiteral("a polite note declining"));
        h.model.last().error(QStringLiteral("HTTP 500"), QStringLiteral("http_500"));
        h.engine.rerun(recipe == QLatin1String("optimize") ? std::nullopt : std::optional(recipe));
        EXPECT_TRUE(h.panel.calls.contains(QStringLiteral("setDraftText(a polite note declining)")));
        ASSERT_EQ(h.model.requests.size(), 2u);
        EXPECT_TRUE(h.model.requests[1].prompt.contains(QStringLiteral("[Input text]\na polite note declining\n")));
        EXPECT_EQ(h.engine.currentRecipeName(), h.recipes.effective(recipe)->name);
    }
}

TEST(Draft, RefusedDescriptionsReportTheProcessAction) {
    struct Case {
        const char* name;
        QString description;
        bool withKey;
        QString message;
        QString kind;
        bool keyringLocked = false; // and the user does not unlock it
    };
    const std::vector<Case> cases = {
        {"blank", QStringLiteral(" \n "), true,
         QStringLiteral("Description is too short (at least 10 characters required)"), QStringLiteral("text_too_short")},
        {"short", QStringLiteral("a note"), true,
         QStringLiteral("Description is too short (at least 10 characters required)"), QStringLiteral("text_too_short")},
        {"no key", QStringLiteral("a polite note declining"), false,
         QStringLiteral("Corvane is free — add your own API key in Settings to keep going"), QStringLiteral("no_api_key")},
        {"key in a locked keyring", QStringLiteral("a polite note declining"), true,
         QStringLiteral("Your keyring is locked, so Corvane can't read your API key. Unlock it (log in again or open "
                        "your keyring manager) and try again."),
         QStringLiteral("keyring_locked"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        h.field(w, QString());
        h.trigger();
        if (!c.withKey)
            h.settings.setApiKey(QString(), h.settings.apiVendorID());
        h.secrets.locked = c.keyringLocked;
        h.engine.finishDraft(c.description);
        EXPECT_EQ(h.secrets.unlockRequests, c.keyringLocked ? 1 : 0);
        EXPECT_EQ(h.engine.state(), trigger::TriggerState::error(c.message));
        EXPECT_EQ(h.panel.calls.last(), QStringLiteral("showErrorMessage(%1)").arg(c.message));
        EXPECT_EQ(h.usage.named(QStringLiteral("result")),
                  oneEvent({{QStringLiteral("action"), QStringLiteral("process")},
                                            {QStringLiteral("ok"), false},
                                            {QStringLiteral("error_kind"), c.kind}}));
        EXPECT_TRUE(h.usage.named(QStringLiteral("draft_submit")).empty());
        EXPECT_TRUE(h.model.requests.empty());
        // Retry: the draft opens again holding what the user typed.
        h.engine.rerun(std::nullopt);
        EXPECT_EQ(h.panel.calls.contains(QStringLiteral("setDraftText(%1)").arg(c.description)),
                  !c.description.trimmed().isEmpty());
    }
}

// The key sits in a locked keyring and the desktop's unlock prompt stays open until the user
// answers it: the draft waits for the answer. Its coroutine is suspended and resumed for real, so a
// frame the compiler laid out wrongly (an await in a condition) crashes here.
TEST(Draft, ALockedKeyringsPromptIsAnsweredOrDismissed) {
    const QString locked = QStringLiteral("Your keyring is locked, so Corvane can't read your API key. Unlock it (log "
                                          "in again or open your keyring manager) and try again.");
    struct Case {
        const char* name;
        std::function<void(EngineHarness&)> whilePromptOpen;
        bool unlock;
        std::optional<QString> sent;  // the description that goes out
        QString error;
    };
    const std::vector<Case> cases = {
        {"answered, after a second submission", [](EngineHarness& h) {
             h.engine.finishDraft(QStringLiteral("a warm note accepting the invitation"));
         }, true, QStringLiteral("a warm note accepting the invitation"), {}},
        {"dismissed or timed out", [](EngineHarness&) {}, false, std::nullopt, locked},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        submitDraftWithLockedKeyring(h);
        ASSERT_EQ(h.secrets.openPrompts(), 1);
        EXPECT_TRUE(h.engine.isAwaitingInstruction());
        c.whilePromptOpen(h);
        h.secrets.answerPrompt(c.unlock);
        h.clock.runAll();

        EXPECT_EQ(h.secrets.unlockRequests, 1);
        if (c.sent) {
            EXPECT_EQ(h.engine.state().kind, Kind::Optimizing);
            ASSERT_EQ(h.model.requests.size(), 1u);
            EXPECT_TRUE(h.model.requests[0].prompt.contains(QStringLiteral("[Input text]\n") + *c.sent + QLatin1Char('\n')));
        } else {
            EXPECT_TRUE(h.model.requests.empty());
            EXPECT_EQ(h.engine.state(), trigger::TriggerState::error(c.error));
        }
    }
}

// Cancelled while the prompt is open, the draft lets the engine go at once; the next trigger waits
// for that same prompt rather than opening a second one, and reads the field once it is answered.
TEST(Draft, ACancelDuringTheKeyringPromptLeavesTheNextTriggerWorking) {
    EngineHarness h;
    auto f = submitDraftWithLockedKeyring(h);

    h.engine.cancel();
    EXPECT_TRUE(h.engine.isIdle());
    f->text = kSentence;
    h.trigger();
    EXPECT_EQ(h.secrets.openPrompts(), 1) << "no second prompt";
    h.trigger();
    EXPECT_EQ(h.diag().last(), QStringLiteral("trigger IGNORED: engine busy (waiting for the keyring)"));

    f->text = kSentence + QStringLiteral(" and more");  // typed while the prompt was open
    h.secrets.answerPrompt(true);
    h.clock.runAll();
    EXPECT_EQ(h.secrets.unlockRequests, 1);
    EXPECT_EQ(h.engine.state().kind, Kind::Optimizing);
    ASSERT_EQ(h.model.requests.size(), 1u);
    EXPECT_TRUE(h.model.requests[0].prompt.contains(kSentence + QStringLiteral(" and more\n")));
}

TEST(Draft, ZeroMinimumSendsAnEmptyDescription) {
    EngineHarness h;
    h.settings.setMinTextLength(0);
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    h.field(w, QString());
    h.trigger();
    h.engine.finishDraft(QStringLiteral("  "));
    EXPECT_EQ(h.engine.state().kind, Kind::Optimizing);
    EXPECT_TRUE(h.model.requests[0].prompt.contains(QStringLiteral("[Input text]\n\n\n[Output requirements]")));
}
