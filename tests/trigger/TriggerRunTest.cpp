// Starting a run: how the field is read (accessibility, then the clipboard), and every refusal.
#include "EngineHarness.h"
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testkit;

TEST(TriggerRun, ReadsThroughAccessibilityAndStreamsIntoThePanel) {
    EngineHarness h;
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    auto f = h.field(w, QStringLiteral("  ") + kSentence + QStringLiteral("   "));
    f->extents = {100, 200, 300, 40};
    f->caretExtents = QRectF(160, 222, 2, 17);
    h.desktop.clipboard().userCopiesText(QStringLiteral("user clipboard"));
    const auto clipboardWrites = h.desktop.clipboard().writeCount();
    // The request goes out before anything is recorded or shown; both follow before trigger returns.
    std::vector<qsizetype> doneAtRequest;
    h.model.onRequest = [&] {
        doneAtRequest = {h.logger.entries().size(), h.panel.calls.size(), qsizetype(h.activity.changes.size())};
    };

    h.trigger();

    EXPECT_EQ(doneAtRequest, (std::vector<qsizetype>{0, 0, 0}));
    EXPECT_EQ(h.model.prewarms, 1);
    EXPECT_EQ(h.engine.state().kind, trigger::TriggerState::Kind::Optimizing);
    EXPECT_FALSE(h.engine.isIdle());
    EXPECT_FALSE(h.engine.hasFailed()) << "a run in progress has not failed";
    EXPECT_EQ(h.engine.currentBundleID(), kEditor);
    EXPECT_EQ(h.panel.calls, QStringList{QStringLiteral("show(%1|100,200|300x40|optimize)").arg(kSentence)});
    EXPECT_EQ(h.panel.lines, std::vector{std::optional(QRectF(160, 222, 2, 17))}) << "the caret's line";
    EXPECT_EQ(h.activity.changes, (std::vector{AppActivity::Triggered, AppActivity::Optimizing}));
    ASSERT_EQ(h.logger.entries().size(), 1);
    EXPECT_EQ(h.lastRecord().status, Status::Triggered);
    EXPECT_EQ(h.lastRecord().originalPreview, kSentence);
    EXPECT_EQ(h.lastRecord().recipeName, QStringLiteral("Optimize Prompt"));
    EXPECT_EQ(h.lastRecord().context, QStringLiteral("app=org.gnome.TextEditor read=ax recipe=global-default"));
    ASSERT_EQ(h.model.requests.size(), 1u);
    EXPECT_EQ(h.model.requests[0].systemPrompt, h.recipes.effective(QStringLiteral("optimize"))->systemPrompt);
    EXPECT_TRUE(h.model.requests[0].prompt.startsWith(
        QStringLiteral("[Context]\nSource app: Text Editor\nProcessing mode: Optimize Prompt (read=ax)\n")));
    EXPECT_TRUE(h.model.requests[0].prompt.contains(QStringLiteral("[Input text]\n") + kSentence + QStringLiteral("\n\n")));
    EXPECT_EQ(h.diag(), (QStringList{QStringLiteral("trigger BEGIN frontApp=org.gnome.TextEditor forced=nil"),
                                     QStringLiteral("trigger AX read: OK len=44")}));
    // Nothing was typed and the clipboard was left alone.
    EXPECT_TRUE(w.keysReceived.isEmpty());
    EXPECT_EQ(h.desktop.clipboard().writeCount(), clipboardWrites);
    EXPECT_TRUE(h.usage.named(QStringLiteral("ax_fallback")).empty());
}

TEST(TriggerRun, FallsBackToTheClipboard) {
    struct Case {
        const char* name;
        QString appId;
        std::function<void(FakeWindow&, FakeField&)> script;
        QStringList keys;
        QString readMode;  // also the "kind" of the ax_fallback event
        QString expectedInput;
    };
    const QString text = QStringLiteral("hello world, this is long enough");
    const auto unreadable = [](FakeWindow&, FakeField& f) { f.readable = false; };
    const std::vector<Case> cases = {
        {"selection in an unreadable field: plain copy, the panel leaves the selection's line free", kEditor,
         [](FakeWindow&, FakeField& f) { f.readable = false; f.selection = {6, 26}; f.caretExtents = {130, 210, 90, 17}; },
         {QStringLiteral("Ctrl+C")}, QStringLiteral("clipboard"), QStringLiteral("world, this is long enough")},
        {"text field without selection: select-all copy, then collapse", kEditor, unreadable,
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Right")},
         QStringLiteral("clipboard+selectAll"), text},
        {"app exposing nothing: plain copy of its selection", kEditor,
         [](FakeWindow& w, FakeField& f) { w.accessible = false; f.selection = {0, 32}; },
         {QStringLiteral("Ctrl+C")}, QStringLiteral("clipboard"), text},
        {"select-all-safe app with an unknown role", QStringLiteral("com.openai.chat"),
         [](FakeWindow&, FakeField& f) { f.readable = false; f.role = QStringLiteral("section"); f.selectionReadable = false; },
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Right")},
         QStringLiteral("clipboard+selectAll"), text},
        {"clipboard-only app even when accessibility reads it", QStringLiteral("com.electron.lark"),
         [](FakeWindow&, FakeField&) {},
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Right")},
         QStringLiteral("clipboard+selectAll"), text},
        {"terminal by app id copies with Shift", QStringLiteral("org.gnome.Terminal"),
         [](FakeWindow& w, FakeField& f) { w.terminal = true; f.readable = false; f.selection = {0, 32}; },
         {QStringLiteral("Ctrl+Shift+C")}, QStringLiteral("clipboard"), text},
        {"xterm under its Debian desktop id is a terminal too", QStringLiteral("debian-xterm"),
         [](FakeWindow& w, FakeField& f) { w.terminal = true; w.accessible = false; f.selection = {0, 32}; },
         {QStringLiteral("Ctrl+Shift+C")}, QStringLiteral("clipboard"), text},
        {"rich editor with an object its bus cannot read: copied whole, never sent with a placeholder", kEditor,
         [](FakeWindow&, FakeField& f) {
             f.role = QStringLiteral("section");
             f.states = {QStringLiteral("editable"), QStringLiteral("focused"), QStringLiteral("multi-line")};
             f.text = QStringLiteral("\uFFFC\uFFFC");
             auto paragraph = std::make_shared<FakeField>(), image = std::make_shared<FakeField>();
             paragraph->text = QStringLiteral("hello world, ");
             paragraph->role = QStringLiteral("paragraph");
             image->text = QStringLiteral("this is long enough");
             image->role = QStringLiteral("image");
             image->readable = false;
             f.embedded = {paragraph, image};
         },
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Right")},
         QStringLiteral("clipboard+selectAll"), text},
        {"terminal by role, no select-all", QStringLiteral("com.example.Term"),
         [](FakeWindow& w, FakeField& f) {
             w.terminal = true;
             f.readable = false;
             f.role = QStringLiteral("terminal");
             f.selectionReadable = false;
             f.selection = {0, 32};
         },
         {QStringLiteral("Ctrl+Shift+C")}, QStringLiteral("clipboard"), text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(c.appId, QStringLiteral("Some App"));
        FakeField f;
        f.text = text;
        c.script(w, f);
        h.desktop.addField(w, f);

        h.trigger();

        EXPECT_EQ(w.keysReceived, c.keys);
        EXPECT_TRUE(w.forbiddenKeys.isEmpty());
        // Without an element the panel opens near the pointer.
        ASSERT_EQ(h.panel.calls.size(), 1);
        EXPECT_TRUE(h.panel.calls[0].startsWith(QStringLiteral("show(%1|mouse|0x0|").arg(c.expectedInput)));
        EXPECT_EQ(h.panel.lines, std::vector{f.caretExtents});
        EXPECT_TRUE(h.lastRecord().context->contains(QStringLiteral(" read=") + c.readMode + QLatin1Char(' ')));
        ASSERT_EQ(h.usage.named(QStringLiteral("ax_fallback")).size(), 1u);
        EXPECT_EQ(h.usage.named(QStringLiteral("ax_fallback"))[0],
                  (QVariantMap{{QStringLiteral("kind"), c.readMode}}));
        EXPECT_TRUE(h.diag().contains(QStringLiteral("trigger fallback: clipboard OK len=") +
                                      QString::number(c.expectedInput.size())));
    }
}

// Focus on a page, a link or a read-only view: space taps there are the user scrolling and do
// nothing; the shortcut or the menu says that no field has the focus. Nothing is read, copied or sent.
TEST(TriggerRun, NothingIsReadOrSentWhereNoFieldHasTheFocus) {
    const QString noField = QStringLiteral("No text field has the keyboard focus, so there is nothing to work on. "
                                           "Click into the text you want to work on, then try again.");
    for (const char* role : {"document web", "link", "text"}) {
        for (const auto source : {trigger::TriggerSource::SpaceTaps, trigger::TriggerSource::Command}) {
            const bool space = source == trigger::TriggerSource::SpaceTaps;
            SCOPED_TRACE(std::string(role) + (space ? ", space taps" : ", shortcut"));
            EngineHarness h;
            auto& w = h.app(QStringLiteral("firefox-esr"), QStringLiteral("Firefox"));
            auto f = h.field(w, QStringLiteral("account 1234-5678-9012, PIN 4321"), {0, 12}, QString::fromLatin1(role));
            f->states = {QStringLiteral("focused"), QStringLiteral("multi-line")};

            h.runs.push_back(h.engine.trigger(std::nullopt, source));
            h.clock.runAll();

            EXPECT_EQ(f->valueReads, 0);
            EXPECT_TRUE(w.keysReceived.isEmpty());
            EXPECT_TRUE(h.model.requests.empty());
            EXPECT_EQ(h.panel.calls, space ? QStringList{} : QStringList{QStringLiteral("showErrorMessage(%1)").arg(noField)});
            EXPECT_EQ(h.engine.state(), space ? trigger::TriggerState::idle() : trigger::TriggerState::error(noField));
            EXPECT_EQ(h.logger.entries().size(), space ? 0 : 1);
        }
    }
}

TEST(TriggerRun, FailedSelectAllCopyIsFollowedByAPlainCopy) {
    EngineHarness h;
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    FakeField f;
    f.text = kSentence;
    f.readable = false;
    h.desktop.addField(w, f);
    // The first copy never arrives; by the second one the app has caught up.
    h.desktop.setCopyDelay(std::nullopt);
    h.clock.schedule(300, nullptr, [&] { h.desktop.setCopyDelay(10); });

    h.trigger();

    EXPECT_EQ(w.keysReceived, (QStringList{QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Ctrl+C")}));
    EXPECT_EQ(h.usage.named(QStringLiteral("ax_fallback")), oneEvent({{QStringLiteral("kind"), QStringLiteral("clipboard")}}));
    EXPECT_TRUE(h.lastRecord().context->contains(QStringLiteral(" read=clipboard ")));
}

TEST(TriggerRun, AnEditorsCurrentLineIsNeverTakenForTheFieldsText) {
    for (const bool selected : {false, true}) {
        SCOPED_TRACE(selected ? "with a selection" : "nothing selected");
        EngineHarness h;
        auto& w = h.app(QStringLiteral("org.example.Editor"), QStringLiteral("Editor"));
        FakeField f;
        f.text = QStringLiteral("first line of the file\nsecond line of the file");
        f.readable = false;
        f.role = QStringLiteral("canvas");  // neither text field nor text area: no select-all
        f.copiesLineWithoutSelection = true;
        f.selection = selected ? platform::TextRange{0, 10} : platform::TextRange{5, 0};
        h.desktop.addField(w, f);

        h.trigger();

        if (selected) {
            EXPECT_EQ(w.keysReceived, QStringList{QStringLiteral("Ctrl+C")});
            EXPECT_EQ(h.engine.state().kind, trigger::TriggerState::Kind::Optimizing);
        } else {
            EXPECT_TRUE(w.keysReceived.isEmpty());
            EXPECT_TRUE(h.engine.state().text.startsWith(QStringLiteral("Couldn't read the focused text field.")));
        }
    }
}

TEST(TriggerRun, Refusals) {
    // Space taps would type over a selection: the advice names what leaves it alone.
    const QString readFailed = QStringLiteral(
        "Couldn't read the focused text field. Select the text to process, then press Ctrl+Alt+Space or choose "
        "\"Process Selected Text\" in Corvane's menu.");
    const QString readFailedNoShortcut = QStringLiteral(
        "Couldn't read the focused text field. Select the text to process, then choose \"Process Selected Text\" in "
        "Corvane's menu.");
    const QString inTerminal = QStringLiteral("Corvane can't read or copy text in a terminal. Paste the text into a text "
                                              "field of another app to process it there.");
    const QString tooShort = QStringLiteral("Text is too short (at least 10 characters required)");
    const QString noKey = QStringLiteral("Corvane is free — add your own API key in Settings to keep going");
    const QString locked = QStringLiteral("Your keyring is locked, so Corvane can't read your API key. Unlock it (log "
                                          "in again or open your keyring manager) and try again.");
    const QString unavailable =
        QStringLiteral("Your keyring is not available. Start the desktop's keyring (Secret Service) and try again.");
    struct Case {
        const char* name;
        std::function<void(EngineHarness&, FakeWindow&, FakeField&)> script;
        QString message;
        QString detail;
        QString original;
        QString kind;
    };
    const std::vector<Case> cases = {
        {"neither channel gives text",
         [](EngineHarness& h, FakeWindow& w, FakeField&) {
             w.accessible = false;
             h.desktop.setCopyDelay(std::nullopt);
         },
         readFailed,
         QStringLiteral("AX direct read and clipboard fallback both failed (app=org.gnome.TextEditor probe unavailable "
                        "(focused element not reachable))"),
         QString(), QStringLiteral("read_failed")},
        {"neither channel gives text, the shortcut switched off",
         [](EngineHarness& h, FakeWindow& w, FakeField&) {
             w.accessible = false;
             h.desktop.setCopyDelay(std::nullopt);
             h.settings.setHotkeyEnabled(false);
         },
         readFailedNoShortcut,
         QStringLiteral("AX direct read and clipboard fallback both failed (app=org.gnome.TextEditor probe unavailable "
                        "(focused element not reachable))"),
         QString(), QStringLiteral("read_failed")},
        {"neither channel gives text from a field that tells where its caret is",
         [](EngineHarness& h, FakeWindow&, FakeField& f) {
             f.readable = false;
             f.caretExtents = QRectF(110, 221, 2, 17);
             h.desktop.setCopyDelay(std::nullopt);
         },
         readFailed,
         QStringLiteral("AX direct read and clipboard fallback both failed (app=org.gnome.TextEditor role=entry "
                        "hasSelection=false)"),
         QString(), QStringLiteral("read_failed")},
        {"a terminal, known by its role, that gives nothing to read",
         [](EngineHarness&, FakeWindow&, FakeField& f) {
             f.readable = false;
             f.role = QStringLiteral("terminal");
         },
         inTerminal,
         QStringLiteral("AX direct read and clipboard fallback both failed (app=org.gnome.TextEditor role=terminal "
                        "hasSelection=false)"),
         QString(), QStringLiteral("read_failed")},
        {"nine characters", [](EngineHarness&, FakeWindow&, FakeField& f) { f.text = QStringLiteral(" 123456789 "); },
         tooShort, tooShort, QStringLiteral("123456789"), QStringLiteral("text_too_short")},
        {"nine user-perceived characters of many code points",
         [](EngineHarness&, FakeWindow&, FakeField& f) { f.text = QStringLiteral("🇫🇷🇩🇪👍🏽e\u0301abcde"); },
         tooShort, tooShort, QStringLiteral("🇫🇷🇩🇪👍🏽e\u0301abcde"), QStringLiteral("text_too_short")},
        {"only white space copied through the clipboard",
         [](EngineHarness&, FakeWindow&, FakeField& f) {
             f.readable = false;
             f.text = QStringLiteral(" \n\t ");
             f.selection = {0, 4};
         },
         tooShort, tooShort, QString(), QStringLiteral("text_too_short")},
        {"no API key",
         [](EngineHarness& h, FakeWindow&, FakeField&) {
             h.settings.setApiKey(QString(), h.settings.apiVendorID());
         },
         noKey, noKey, kSentence, QStringLiteral("no_api_key")},
        {"key in a locked keyring that the user does not unlock",
         [](EngineHarness& h, FakeWindow&, FakeField&) { h.secrets.locked = true; },
         locked, locked, kSentence, QStringLiteral("keyring_locked")},
        {"a keyring that vanished",
         [](EngineHarness& h, FakeWindow&, FakeField&) { h.secrets.unreachable = true; },
         unavailable, unavailable, kSentence, QStringLiteral("keyring_unavailable")},
                {"short text without a key is too short first",
         [](EngineHarness& h, FakeWindow&, FakeField& f) {
             h.settings.setApiKey(QString(), h.settings.apiVendorID());
             f.text = QStringLiteral("short");
         },
         tooShort, tooShort, QStringLiteral("short"), QStringLiteral("text_too_short")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        w.frame = QRectF(40, 600, 500, 120);
        FakeField f;
        f.text = kSentence;
        c.script(h, w, f);
        h.desktop.addField(w, f);

        h.trigger();

        EXPECT_EQ(h.engine.state(), trigger::TriggerState::error(c.message));
        EXPECT_FALSE(h.engine.isIdle());
        EXPECT_TRUE(h.engine.hasFailed());
        EXPECT_EQ(h.panel.calls, QStringList{QStringLiteral("showErrorMessage(%1)").arg(c.message)});
        // The advice to select the text there leaves the window free; other refusals show as ever.
        const bool advice = c.message == readFailed || c.message == readFailedNoShortcut || c.message == inTerminal;
        EXPECT_EQ(h.panel.keptFree, advice ? std::optional(*w.frame) : std::nullopt);
        EXPECT_EQ(h.panel.lines, advice ? std::vector{f.caretExtents} : std::vector<std::optional<QRectF>>{})
            << "the advice leaves the caret's line free too";
        EXPECT_EQ(h.activity.changes, std::vector{AppActivity::Error});
        ASSERT_EQ(h.logger.entries().size(), 1);
        EXPECT_EQ(h.lastRecord().status, Status::Failed);
        EXPECT_EQ(h.lastRecord().detail, c.detail);
        EXPECT_EQ(h.lastRecord().originalPreview, c.original);
        EXPECT_EQ(h.lastRecord().recipeName, std::nullopt);
        EXPECT_EQ(h.lastRecord().context, std::nullopt);
        EXPECT_EQ(h.usage.named(QStringLiteral("result")),
                  oneEvent({{QStringLiteral("action"), QStringLiteral("process")},
                                            {QStringLiteral("ok"), false},
                                            {QStringLiteral("error_kind"), c.kind}}));
        EXPECT_TRUE(h.model.requests.empty());
    }
}

// The user unlocks the keyring when the desktop asks: at once, or through a prompt window that
// takes the focus while the user may go on typing in the field.
TEST(TriggerRun, AKeyInALockedKeyringIsUsedOnceTheUserUnlocksIt) {
    struct Case {
        const char* name;
        bool promptWaits;
        bool focusReturns;
        std::optional<QString> sent;
    };
    const QString typed = kSentence + QStringLiteral(" and more");
    const std::vector<Case> cases = {
        {"unlocked without a prompt", false, true, kSentence},
        {"the prompt answered, the field read again", true, true, typed},
        {"the prompt answered, the user now in another window", true, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        auto f = h.field(w, kSentence);
        h.secrets.locked = true;
        h.secrets.unlockGranted = true;
        h.secrets.promptWaits = c.promptWaits;

        h.trigger();
        if (c.promptWaits) {
            h.app(QStringLiteral("gcr-prompter"), QStringLiteral("Unlock Keyring"), 9);
            f->text = typed;
            h.secrets.answerPrompt(true);
            h.clock.advance(30);  // the prompt window goes; the focus goes back, or elsewhere
            h.desktop.closeWindow(9);
            h.desktop.activate(c.focusReturns ? 7 : 0);
            h.clock.runAll();
        }

        EXPECT_EQ(h.secrets.unlockRequests, 1);
        if (c.sent) {
            EXPECT_EQ(h.engine.state().kind, trigger::TriggerState::Kind::Optimizing);
            ASSERT_EQ(h.model.requests.size(), 1u);
            EXPECT_TRUE(h.model.requests[0].prompt.contains(QStringLiteral("[Input text]\n") + *c.sent + QLatin1Char('\n')));
        } else {
            EXPECT_TRUE(h.model.requests.empty());
            EXPECT_EQ(h.lastRecord().detail, QStringLiteral("the window of app=org.gnome.TextEditor did not get the "
                                                            "focus back after the keyring prompt"));
        }
    }
}

TEST(TriggerRun, InputOfExactlyTheMinimumPasses) {
    EngineHarness h;
    h.settings.setMinTextLength(5);
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    h.field(w, QStringLiteral("\n\u3000\u00a0 héllo \t\u2028"));
    h.trigger();
    EXPECT_EQ(h.engine.state().kind, trigger::TriggerState::Kind::Optimizing);
    EXPECT_EQ(h.lastRecord().originalPreview, QStringLiteral("héllo"));
}

TEST(TriggerRun, PasswordFieldsAreNeverReadCopiedOrSent) {
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "exposed password field" : "password field in a clipboard-only app");
        EngineHarness h;
        auto& w = h.app(readable ? kEditor : QStringLiteral("com.electron.lark"), QStringLiteral("Login"));
        auto f = h.field(w, QStringLiteral("correct horse battery staple"), {0, 28}, QStringLiteral("password text"));
        h.desktop.clipboard().userCopiesText(QStringLiteral("user clipboard"));

        h.trigger();

        EXPECT_EQ(f->valueReads, 0);
        EXPECT_TRUE(w.keysReceived.isEmpty());
        EXPECT_EQ(h.desktop.clipboard().text(), QStringLiteral("user clipboard"));
        EXPECT_TRUE(h.model.requests.empty());
        EXPECT_EQ(h.engine.state(), trigger::TriggerState::error(QStringLiteral("Corvane never reads password fields.")));
        for (const auto& entry : h.logger.entries())
            EXPECT_FALSE(entry.originalPreview.contains(QStringLiteral("horse")));
    }
}

TEST(TriggerRun, GatesRefuseWithoutSideEffects) {
    {
        EngineHarness h;  // a run is already under way
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        h.field(w, kSentence);
        h.trigger();
        const auto panelCalls = h.panel.calls;
        h.trigger();
        EXPECT_EQ(h.diag().last(), QStringLiteral("trigger IGNORED: engine not idle (state=optimizing)"));
        EXPECT_EQ(h.panel.calls, panelCalls);
        EXPECT_EQ(h.logger.entries().size(), 1);
        EXPECT_EQ(h.model.requests.size(), 1u);
        EXPECT_EQ(h.model.prewarms, 1) << "a refused trigger opens no connection";
        h.answer(QStringLiteral("Fixed."));
        h.trigger();
        EXPECT_EQ(h.diag().last(), QStringLiteral("trigger IGNORED: engine not idle (state=result)")) << "no user text";
    }
    {
        EngineHarness h;  // a forced update is pending
        auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
        h.field(w, kSentence);
        h.updates.required = true;
        h.trigger();
        EXPECT_EQ(h.updates.windowShown, 1);
        EXPECT_EQ(h.diag(), QStringList{QStringLiteral("trigger BLOCKED: forced update required")});
        EXPECT_TRUE(h.panel.calls.isEmpty());
        EXPECT_TRUE(h.logger.entries().isEmpty());
        EXPECT_TRUE(h.usage.events.empty());
        EXPECT_TRUE(h.engine.isIdle());
        EXPECT_EQ(h.model.prewarms, 0);
    }
}

TEST(TriggerRun, SecondTriggerDuringTheClipboardWaitIsRefused) {
    EngineHarness h;
    auto& w = h.app(kEditor, QStringLiteral("Text Editor"));
    FakeField f;
    f.text = kSentence;
    f.readable = false;
    f.selection = {0, 10};
    h.desktop.addField(w, f);
    h.desktop.setCopyDelay(200);

    h.runs.push_back(h.engine.trigger(std::nullopt));
    h.clock.advance(100);  // Ctrl+C sent, the copy has not landed yet
    EXPECT_FALSE(h.engine.isIdle());
    h.runs.push_back(h.engine.trigger(std::nullopt));
    EXPECT_EQ(h.diag().last(), QStringLiteral("trigger IGNORED: engine busy (reading the field)"));
    h.engine.abandon(true);  // what the shell does for a busy engine without a panel: no effect here
    h.clock.runAll();

    EXPECT_EQ(w.keysReceived, QStringList{QStringLiteral("Ctrl+C")});
    EXPECT_EQ(h.panel.calls.size(), 1);
    EXPECT_EQ(h.model.requests.size(), 1u);
    EXPECT_EQ(h.engine.state().kind, trigger::TriggerState::Kind::Optimizing);
}

TEST(TriggerRun, TheAppIsNamedAsTheRuleListNamesIt) {
    // Its desktop entry's name, else its id (an app without a desktop entry), else "Unknown app".
    const struct {
        const char* appId;
        const char* displayName;
        const char* shown;
    } cases[] = {{"", "", "Unknown app"}, {"Zenity", "", "Zenity"}, {"org.gnome.TextEditor", "Text Editor", "Text Editor"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.appId);
        EngineHarness h;
        const QString appId = QString::fromLatin1(c.appId), shown = QString::fromLatin1(c.shown);
        if (!appId.isEmpty())
            h.profiles.setMapping(appId, QString(), QStringLiteral("brief"));
        auto& w = h.app(appId, QString::fromLatin1(c.displayName));
        h.field(w, kSentence);
        h.trigger();
        EXPECT_EQ(h.diag().first(), QStringLiteral("trigger BEGIN frontApp=%1 forced=nil").arg(appId.isEmpty() ? "?" : appId));
        EXPECT_TRUE(h.model.requests[0].prompt.startsWith(QStringLiteral("[Context]\nSource app: %1\n").arg(shown)));
        if (appId.isEmpty()) {
            EXPECT_EQ(h.lastRecord().context, QStringLiteral("app= read=ax recipe=global-default"));
        } else {
            EXPECT_EQ(h.engine.currentRecipeSource().label(), QStringLiteral("App rule: ") + shown);
            EXPECT_EQ(h.lastRecord().context, QStringLiteral("app=%1 read=ax recipe=app-rule(%2)").arg(appId, shown));
        }
    }
}
