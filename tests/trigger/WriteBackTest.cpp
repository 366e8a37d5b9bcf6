// Replace: the result written back through accessibility or pasted, and verified.
#include "EngineHarness.h"
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testkit;

namespace {

const QString kResult = QStringLiteral("Please fix the grammar in this sentence.");
const QString kVerifyFailed = QStringLiteral(
    "Couldn't confirm the replacement automatically. Check the field for correctness or duplicates. The content is on "
    "your clipboard — paste with Ctrl+V to overwrite.");
const QString kWindowGone = QStringLiteral(
    "The window you started from is no longer in front, so nothing was typed into it. The result is on your "
    "clipboard — paste it where you need it.");

} // namespace

TEST(WriteBack, EachPathWritesAndRecordsTheOutcome) {
    struct Case {
        const char* name;
        std::function<void(FakeField&)> before;  // how the field is, before the trigger
        std::function<void(FakeField&)> after;   // what changes before Replace
        QStringList keys;                        // every key the run sent, reading included
        QString fieldAfter;
        std::vector<Status> statuses;
        std::optional<QString> replacedDetail;
        QString clipboardAfter;
        std::optional<QString> failedDetail = std::nullopt; // the check's record, lengths only
        QStringList answer = {kResult};                     // as the model's pieces came
        QString written = kResult;                          // what the panel shows and Replace writes
    };
    const auto nothing = [](FakeField&) {};
    const std::vector<Case> cases = {
        {"accessibility write verified", nothing, nothing, {}, kResult, {Status::Triggered, Status::Completed, Status::Replaced},
         std::nullopt, QStringLiteral("user clipboard")},
        {"accessibility write refused: select-all paste", nothing, [](FakeField& f) { f.writable = false; },
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+V")}, kResult,
         {Status::Triggered, Status::Completed, Status::Replaced},
         QStringLiteral("AX write-back had no effect; fell back to select-all + Ctrl+V paste"), kResult},
        {"accessibility read-back differs: select-all paste", nothing,
         [](FakeField& f) { f.writeWithoutEffect = true; }, {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+V")},
         kResult, {Status::Triggered, Status::Completed, Status::Replaced},
         QStringLiteral("AX write-back had no effect; fell back to select-all + Ctrl+V paste"), kResult},
        {"clipboard read of a selection: pasted over it, unchecked",
         [](FakeField& f) { f.readable = false; f.selection = {7, 32}; }, [](FakeField& f) { f.acceptsPaste = false; },
         {QStringLiteral("Ctrl+C"), QStringLiteral("Ctrl+V")}, kSentence,
         {Status::Triggered, Status::Completed, Status::Replaced}, std::nullopt, kResult},
        {"clipboard read after select-all: pasted over everything, verified",
         [](FakeField& f) { f.readable = false; }, [](FakeField& f) { f.readable = true; },
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Right"), QStringLiteral("Ctrl+A"),
          QStringLiteral("Ctrl+V")},
         kResult, {Status::Triggered, Status::Completed, Status::Replaced}, std::nullopt, kResult},
        {"select-all paste into a field that cannot be read is not confirmed", [](FakeField& f) { f.readable = false; },
         nothing,
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Right"), QStringLiteral("Ctrl+A"),
          QStringLiteral("Ctrl+V")},
         kResult, {Status::Triggered, Status::Completed, Status::Replaced, Status::Failed}, std::nullopt, kResult,
         QStringLiteral("paste verification failed; field unreadable target=34")},
        {"paste check fails", nothing,
         [](FakeField& f) { f.writable = false; f.acceptsPaste = false; },
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+V")}, kSentence,
         {Status::Triggered, Status::Completed, Status::Replaced, Status::Failed},
         QStringLiteral("AX write-back had no effect; fell back to select-all + Ctrl+V paste"), kResult,
         QStringLiteral("paste verification failed; read length=39 normalized=33 target=34")},
        {"a NUL and surrogates without a partner never reach the field", nothing, nothing, {},
         QStringLiteral("Fixed text 😀 at last"), {Status::Triggered, Status::Completed, Status::Replaced}, std::nullopt,
         QStringLiteral("user clipboard"), std::nullopt,
         {QStringLiteral("Fixed") + QChar(0) + QStringLiteral(" text \xd83d"),
          QStringLiteral("\xde00 at \xd800last\xdc00")},
         QStringLiteral("Fixed text 😀 at last")},
        {"CR LF into a field of LF lines: written as LF, a write that took",
         [](FakeField& f) {
             f.transformWrite = [](QString t) { return t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); };
         },
         nothing, {}, QStringLiteral("Plan:\n- send it"), {Status::Triggered, Status::Completed, Status::Replaced},
         std::nullopt, QStringLiteral("user clipboard"), std::nullopt, {QStringLiteral("Plan:\r\n- send it")},
         QStringLiteral("Plan:\n- send it")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        FakeField initial;
        initial.text = kSentence;
        c.before(initial);
        auto f = h.desktop.addField(w, initial);
        h.desktop.clipboard().userCopiesText(QStringLiteral("user clipboard"));
        h.trigger();
        for (const QString& piece : c.answer)
            h.model.last().token(piece);
        h.model.last().done();
        c.after(*f);
        h.activity.changes.clear();

        h.replace();

        EXPECT_EQ(w.keysReceived, c.keys);
        EXPECT_EQ(f->text, c.fieldAfter);
        EXPECT_EQ(h.statuses(), c.statuses);
        const auto& replaced = h.logger.entries()[h.logger.entries().size() - 3];
        EXPECT_EQ(replaced.status, Status::Replaced);
        EXPECT_EQ(replaced.detail, c.replacedDetail);
        EXPECT_EQ(replaced.optimizedPreview, c.written);
        EXPECT_TRUE(h.panel.calls.contains(QStringLiteral("showResult(%1)").arg(c.written)));
        EXPECT_EQ(h.desktop.clipboard().text(), c.clipboardAfter);
        // Every path ends idle and reset, with the menu bar back to idle.
        EXPECT_TRUE(h.engine.isIdle());
        EXPECT_EQ(h.engine.currentBundleID(), QString());
        EXPECT_EQ(h.activity.changes, std::vector{AppActivity::Idle});
        EXPECT_EQ(h.panel.calls.contains(QStringLiteral("hide()")), true);
        if (c.statuses.back() == Status::Failed) {
            EXPECT_EQ(h.panel.calls.last(), QStringLiteral("showErrorMessage(%1)").arg(kVerifyFailed));
            EXPECT_EQ(h.lastRecord().detail, c.failedDetail);
            EXPECT_EQ(h.lastRecord().originalPreview, kSentence);
            EXPECT_EQ(h.lastRecord().recipeName, QStringLiteral("Optimize Prompt"));
        }
    }
}

TEST(WriteBack, TerminalsNeverGetMultiLineText) {
    struct Case {
        const char* name;
        QString result;
        bool pasted;
    };
    const std::vector<Case> cases = {
        {"single line", QStringLiteral("git commit -m 'fix grammar'"), true},
        {"line feed", QStringLiteral("echo one\nrm -rf build"), false},
        {"carriage return", QStringLiteral("echo one\rrm -rf build"), false},
        {"line separator", QStringLiteral("echo one\u2028rm -rf build"), false},
        {"paragraph separator", QStringLiteral("echo one\u2029rm -rf build"), false},
        {"next line", QStringLiteral("echo one\u0085rm -rf build"), false},
        {"vertical tab", QStringLiteral("echo one\vrm -rf build"), false},
        {"form feed", QStringLiteral("echo one\frm -rf build"), false},
    };
    // A terminal known by its role, or by its app id (xterm's id on Debian comes from its desktop file).
    const QString terminalIds[] = {QStringLiteral("com.example.Term"), QStringLiteral("org.kde.konsole"),
                                   QStringLiteral("debian-xterm")};
    for (const QString& appId : terminalIds) {
        const bool byRole = appId == QLatin1String("com.example.Term");
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in " + appId.toStdString());
            EngineHarness h;
            auto& w = h.app(appId, QStringLiteral("Terminal"));
            w.terminal = true;
            w.accessible = appId != QLatin1String("debian-xterm"); // xterm exposes nothing
            auto f = h.field(w, QStringLiteral("$ please commit my grammar fix"), {2, 28}, QStringLiteral("terminal"));
            f->readable = false;
            f->selectionReadable = !byRole;
            h.trigger();
            ASSERT_EQ(h.model.requests.size(), 1u) << "the run never reached the model";
            h.model.last().token(c.result);
            h.model.last().done();
            h.replace();

            EXPECT_TRUE(w.forbiddenKeys.isEmpty());
            EXPECT_EQ(h.desktop.clipboard().text(), c.result);
            if (c.pasted) {
                EXPECT_EQ(w.keysReceived, (QStringList{QStringLiteral("Ctrl+Shift+C"), QStringLiteral("Ctrl+Shift+V")}));
                EXPECT_EQ(h.lastRecord().status, Status::Replaced);
            } else {
                EXPECT_EQ(w.keysReceived, QStringList{QStringLiteral("Ctrl+Shift+C")});
                EXPECT_EQ(h.lastRecord().status, Status::Failed);
                EXPECT_EQ(h.lastRecord().detail,
                          QStringLiteral("multi-line text not auto-pasted in terminal; kept on clipboard"));
                EXPECT_EQ(h.panel.calls.last(),
                          QStringLiteral("showErrorMessage(Multi-line content could run as commands in a terminal, so "
                                         "it wasn't pasted automatically. It's on your clipboard — paste manually with "
                                         "Ctrl+Shift+V.)"));
            }
            EXPECT_TRUE(h.engine.isIdle());
        }
    }
}

TEST(WriteBack, MultiLineTextIsWrittenIntoATerminalOnlyThroughAccessibility) {
    EngineHarness h;
    auto& w = h.app(QStringLiteral("org.gnome.Terminal"), QStringLiteral("Terminal"));
    w.terminal = true;
    auto f = h.field(w, QStringLiteral("notes to self about the release"), {}, QStringLiteral("text"));
    h.trigger();
    h.answer(QStringLiteral("Release notes:\n- grammar fixed"));
    h.replace();
    EXPECT_EQ(f->text, QStringLiteral("Release notes:\n- grammar fixed"));
    EXPECT_TRUE(w.keysReceived.isEmpty());
}

TEST(WriteBack, NothingIsTypedWhenTheRunsWindowIsNotInFront) {
    struct Case {
        const char* name;
        std::function<void(EngineHarness&)> before;
    };
    const std::vector<Case> cases = {
        {"user switched to another window",
         [](EngineHarness& h) { h.app(QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox"), 9); }},
        {"the window was closed", [](EngineHarness& h) { h.desktop.closeWindow(7); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        auto f = h.field(w, kSentence, {0, 39});
        f->readable = false;
        h.trigger();
        h.answer(kResult);
        c.before(h);
        const QStringList keysBefore = h.desktop.keyLog();

        h.replace();

        EXPECT_EQ(h.desktop.keyLog(), keysBefore);
        EXPECT_EQ(h.desktop.clipboard().text(), kResult);
        EXPECT_EQ(h.lastRecord().status, Status::Failed);
        EXPECT_EQ(h.lastRecord().detail, QStringLiteral("target window gone or not in front; kept on clipboard"));
        EXPECT_EQ(h.panel.calls.last(), QStringLiteral("showErrorMessage(%1)").arg(kWindowGone));
        EXPECT_TRUE(h.engine.isIdle());
    }
}

// Replace reads the field again: what the user typed there since the run read it is never
// written over; the result waits on the clipboard.
TEST(WriteBack, NothingIsWrittenOverAFieldThatChangedSinceTheRead) {
    using Edit = std::function<void(FakeField&)>;
    const auto add = [](const char* s) { return [s](FakeField& f) { f.text += QString::fromUtf8(s); }; };
    const struct {
        const char* name;
        Edit before, whileStreaming, whileResultWaits;
        bool written = false;
    } cases[] = {
        {"typed during the run", {}, add(" and more"), {}},
        {"a trigger's spaces while the result waited", add("   "), {}, add("   ")},
        {"whole field copied, typed during the run", [](FakeField& f) { f.readable = false; },
         [](FakeField& f) { f.readable = true; f.text += QStringLiteral(" and more"); }, {}},
        {"copied selection typed over", [](FakeField& f) { f.readable = false; f.selection = {7, 32}; },
         [](FakeField& f) { f.text = QStringLiteral("Please rewrite it"); f.selection = {17, 0}; }, {}},
        {"blanks at the ends are no change", {},
         [](FakeField& f) { f.text = QStringLiteral(" ") + f.text + QStringLiteral("\n"); }, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto f = h.field(h.app(kEditor, QStringLiteral("Text Editor")), kSentence);
        if (c.before)
            c.before(*f);
        h.trigger();
        if (c.whileStreaming)
            c.whileStreaming(*f);
        h.answer(kResult);
        if (c.whileResultWaits)
            c.whileResultWaits(*f);
        const QString typed = f->text;
        h.replace();
        EXPECT_EQ(f->text, c.written ? kResult : typed);
        EXPECT_EQ(h.desktop.clipboard().text(), c.written ? QString() : kResult);
        const QString refused = QStringLiteral("field changed since the run began; kept on clipboard");
        EXPECT_EQ(h.lastRecord().detail, c.written ? std::nullopt : std::optional(refused));
    }
}

// Select-all + paste replaces a whole field: when the user has moved to another field of the same
// window, nothing is pasted over it and the result waits on the clipboard.
TEST(WriteBack, SelectAllPasteNeverLandsInAnotherField) {
    struct Case {
        const char* name;
        bool readThroughClipboard;
        qint64 focusMovesAfterReplaceMs;  // -1: before Replace
        QStringList keysAfterRead;
    };
    const QString a = QStringLiteral("Ctrl+A");
    const std::vector<Case> cases = {
        {"accessibility write without effect, moved before Replace", false, -1, {}},
        {"clipboard read, moved before Replace", true, -1, {}},
        {"clipboard read, moved before the select-all", true, 10, {}},
        {"clipboard read, moved before Ctrl+V", true, 100, {a}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        auto first = h.field(w, kSentence);
        first->readable = !c.readThroughClipboard;
        h.trigger();
        h.answer(kResult);
        first->writeWithoutEffect = true;
        const bool movedFirst = c.focusMovesAfterReplaceMs < 0;
        if (!movedFirst) {
            h.engine.replaceText();
            h.clock.advance(c.focusMovesAfterReplaceMs);
        }
        auto second = h.field(w, QStringLiteral("Subject: quarterly numbers"), {0, 5});
        if (movedFirst)
            h.engine.replaceText();
        h.clock.runAll();

        const QStringList read = c.readThroughClipboard ? QStringList{a, QStringLiteral("Ctrl+C"), QStringLiteral("Right")}
                                                        : QStringList{};
        EXPECT_EQ(w.keysReceived, read + c.keysAfterRead);
        EXPECT_EQ(second->text, QStringLiteral("Subject: quarterly numbers"));
        EXPECT_EQ(first->text, kSentence);
        EXPECT_EQ(h.desktop.clipboard().text(), kResult);
        EXPECT_EQ(h.statuses().back(), Status::Failed);
        EXPECT_EQ(h.lastRecord().detail, QStringLiteral("focus moved to another field; kept on clipboard"));
        EXPECT_TRUE(h.panel.calls.last().startsWith(QStringLiteral("showErrorMessage(Another field has the focus now")));
    }
}

TEST(WriteBack, WindowLostDuringThePasteStopsTheKeys) {
    EngineHarness h;
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    auto f = h.field(w, kSentence);
    f->readable = false;
    h.trigger();
    h.answer(kResult);
    h.engine.replaceText();
    h.clock.advance(100);  // select-all went out; the user switches away before Ctrl+V
    h.app(QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox"), 9);
    h.clock.runAll();

    EXPECT_FALSE(w.keysReceived.contains(QStringLiteral("Ctrl+V")));
    EXPECT_TRUE(h.desktop.window(9)->keysReceived.isEmpty());
    EXPECT_EQ(h.statuses().back(), Status::Failed);
    EXPECT_EQ(h.panel.calls.last(), QStringLiteral("showErrorMessage(%1)").arg(kWindowGone));
}

TEST(WriteBack, EmptyAnswerNeverErasesTheField) {
    for (const QString& answer : {QString(), QStringLiteral(" \n\t ")}) {
        EngineHarness h;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        auto f = h.field(w, kSentence);
        h.trigger();
        h.model.last().token(answer);
        h.model.last().done();
        h.replace();  // no result: the answer ended as an error
        EXPECT_EQ(f->text, kSentence);
        EXPECT_EQ(f->writes, 0);
        EXPECT_TRUE(w.keysReceived.isEmpty());
        EXPECT_EQ(h.lastRecord().status, Status::Failed);
        EXPECT_EQ(h.panel.calls.last(), QStringLiteral("showError(The server returned an empty response)"));
        EXPECT_TRUE(h.engine.hasFailed());
    }
}

TEST(WriteBack, ReplaceOutsideAResultDoesNothing) {
    EngineHarness h;
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    auto f = h.field(w, kSentence);
    h.replace();  // idle
    h.trigger();
    h.replace();  // optimizing
    h.model.last().error(QStringLiteral("Request timed out"), QStringLiteral("timeout"));
    h.replace();  // error
    EXPECT_EQ(f->writes, 0);
    EXPECT_EQ(h.statuses(), (std::vector{Status::Triggered, Status::Failed}));
    EXPECT_EQ(h.engine.state().kind, trigger::TriggerState::Kind::Error);
}

TEST(WriteBack, EngineIsBusyUntilThePasteIsDone) {
    EngineHarness h;
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    auto f = h.field(w, kSentence);
    f->readable = false;
    h.trigger();
    h.answer(kResult);
    h.engine.replaceText();
    EXPECT_FALSE(h.engine.isIdle());
    h.runs.push_back(h.engine.trigger(std::nullopt));
    EXPECT_EQ(h.diag().last(), QStringLiteral("trigger IGNORED: engine busy (writing back)"));
    h.clock.runAll();
    EXPECT_TRUE(h.engine.isIdle());
    EXPECT_EQ(h.model.requests.size(), 1u);
    EXPECT_EQ(f->text, kResult);
}
