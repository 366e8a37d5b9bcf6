// Terminals: corvane never types a key into one that could act as a command, and a multi-line
// answer is never pasted into one; it stays on the clipboard with a message saying so.
#include "e2e/ScenarioFixture.h"

namespace corvane::e2e {
namespace {

class Terminal : public Scenario {
protected:
    // Types a marker key into the terminal and waits until it arrived: every key sent to the
    // terminal before it has arrived too. Returns everything the terminal received, marker
    // included, with control characters spelled out (Ctrl+C as "^C").
    QString terminalInputAfterMarker(const QString& inputLog) {
        if (!pressKeys({QStringLiteral("z")}))
            return QStringLiteral("(the marker key could not be typed)");
        waitUntil([&] { return readFile(inputLog).endsWith('z'); });
        QString out;
        for (const char byte : readFile(inputLog)) {
            if (byte >= 0 && byte < 0x20)
                out += QStringLiteral("^") + QLatin1Char(char(byte + 0x40));
            else
                out += QLatin1Char(byte);
        }
        return out;
    }
};

TEST_F(Terminal, TripleSpaceInAnXtermSendsItNoKeys) {
    server.respond(streamedAnswer({QStringLiteral("never asked for")}, 0));
    startCorvane();
    const QString input = scratch(QStringLiteral("xterm.input"));
    auto terminal = startTerminal(input);
    ASSERT_TRUE(terminal->waitActive()) << "xterm did not come up";
    tripleSpace();

    // xterm exposes nothing to read and a terminal is never sent a copy key: the run stops with
    // a message that says so, rather than advice that cannot work here.
    ASSERT_TRUE(waitForTitle(QStringLiteral("Error"))) << context();
    EXPECT_TRUE(panel->shows(QStringLiteral("Corvane can't read or copy text in a terminal. Paste the text into a text "
                                            "field of another app to process it there.")))
        << context();
    shot(QStringLiteral("read-refused"));
    EXPECT_EQ(terminalInputAfterMarker(input), QStringLiteral("   z")) << "keys other than the user's reached the terminal";
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(corvane->activityStatuses(), QList<QString>{stored::failed});
}

TEST_F(Terminal, AMultiLineAnswerIsNeverPastedIntoTheTerminalInFront) {
    const QString original = QStringLiteral("commit everything with a short message");
    const QStringList tokens = {QStringLiteral("git add -A\n"), QStringLiteral("git commit -m 'Short message'")};
    const QString answer = tokens.join(QString());
    server.respond(streamedAnswer(tokens, 100));
    CorvaneProcess::Settings settings;
    settings.ctrlAltSpaceHotkey = true;
    startCorvane(settings);
    EXPECT_FALSE(corvane->diagHas(QStringLiteral("shortcut \"global\" not registered"))) << context();

    // An editor that exposes nothing on the accessibility bus: corvane reads its selection
    // through the clipboard, so "Replace" has to paste.
    QProcessEnvironment hidden = desktopEnvironment();
    hidden.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/corvane-e2e-bus"));
    const QString dump = scratch(QStringLiteral("editor.dump"));
    auto editor = startQtEditor({QStringLiteral("--line"), original, QStringLiteral("--dump"), dump}, hidden);
    ASSERT_TRUE(editor->waitActive()) << "the Qt editor did not come up";
    ASSERT_TRUE(pressKeys({QStringLiteral("ctrl+a"), QStringLiteral("ctrl+alt+space")}));

    ASSERT_TRUE(waitForRequests(1)) << context();
    EXPECT_TRUE(userMessage(0).contains(QStringLiteral("(read=clipboard)"))) << userMessage(0).toStdString();
    EXPECT_TRUE(userMessage(0).contains(QStringLiteral("[Input text]\n") + original + QStringLiteral("\n\n")));
    ASSERT_TRUE(waitUntil([&] { return panel->title() == QStringLiteral("Done") && panel->texts().contains(answer); }))
        << context();

    // The user moves to a terminal, then presses "Replace".
    const QString input = scratch(QStringLiteral("xterm.input"));
    auto terminal = startTerminal(input);
    ASSERT_TRUE(terminal->waitActive()) << "xterm did not come up";
    shot(QStringLiteral("terminal-in-front"));
    ASSERT_TRUE(panel->click(QStringLiteral("Replace"))) << context();

    ASSERT_TRUE(waitForRecord(stored::failed)) << context();
    EXPECT_EQ(corvane->activity().first().detail,
              QStringLiteral("multi-line text not auto-pasted in terminal; kept on clipboard"));
    EXPECT_TRUE(waitUntil([&] {
        return panel->shows(QStringLiteral("Multi-line content could run as commands in a terminal, so it wasn't "
                                           "pasted automatically. It's on your clipboard — paste manually with "
                                           "Ctrl+Shift+V."));
    })) << context();
    shot(QStringLiteral("kept-on-clipboard"));
    EXPECT_EQ(clipboardText(), answer);
    EXPECT_EQ(terminalInputAfterMarker(input), QStringLiteral("z")) << "something was typed into the terminal";
    EXPECT_EQ(readEditorDump(dump).line, original) << "the editor changed";
    EXPECT_EQ(corvane->activityStatuses(), (QList<QString>{stored::failed, stored::completed, stored::triggered}));
    expectDiagnosticsKeepNoText({original, answer});
}

} // namespace
} // namespace corvane::e2e
