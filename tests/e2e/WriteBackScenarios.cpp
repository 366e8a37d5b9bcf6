// A triple space in a real text field sends its text to the model, the answer streams into the
// panel next to the field, and "Replace" writes it back through the accessibility bus.
#include "e2e/ScenarioFixture.h"

namespace corvane::e2e {
namespace {

class GtkEntry : public Scenario {};
class QtEditor : public Scenario {};

TEST_F(GtkEntry, TripleSpaceStreamsTheAnswerAndReplaceWritesItIntoTheEntry) {
    const QString original = QStringLiteral("pls make this sentence sound a bit more polished thx");
    const QStringList tokens = {QStringLiteral("Please make "), QStringLiteral("this sentence "),
                                QStringLiteral("sound more polished.")};
    const QString answer = tokens.join(QString());
    server.respond(streamedAnswer(tokens, 150));
    startCorvane();
    auto entry = startGtkEntry(original);
    ASSERT_TRUE(entry->waitActive()) << "zenity did not come up";
    ASSERT_TRUE(pressKeys({QStringLiteral("End")})); // the entry starts with its text selected
    tripleSpace();

    // The request carries the field's text in the composed user message, with the user's key.
    ASSERT_TRUE(waitForRequests(1)) << context();
    const test::RecordedRequest& request = server.requests().first();
    EXPECT_EQ(request.path(), "/chat/completions");
    EXPECT_EQ(request.header("Authorization"), QByteArray("Bearer ") + CorvaneProcess::apiKey);
    EXPECT_EQ(requestBody(0).value(QStringLiteral("model")).toString(), QStringLiteral("e2e-model"));
    EXPECT_TRUE(requestBody(0).value(QStringLiteral("stream")).toBool());
    const QString message = userMessage(0);
    EXPECT_TRUE(message.contains(QStringLiteral("[Input text]\n") + original + QStringLiteral("\n\n[Output requirements]")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("(read=ax)"))) << message.toStdString();

    // The answer shows in the panel; the entry keeps the keyboard.
    ASSERT_TRUE(waitUntil([&] { return panel->title() == QStringLiteral("Done") && panel->texts().contains(answer); }))
        << context();
    EXPECT_EQ(panel->texts(), (QStringList{original, answer}));
    EXPECT_EQ(activeWindowPid(), entry->pid());
    shot(QStringLiteral("done"));

    ASSERT_TRUE(panel->click(QStringLiteral("Replace"))) << context();
    ASSERT_TRUE(waitForRecord(stored::replaced)) << context();
    EXPECT_TRUE(waitPanelHidden()) << context();
    shot(QStringLiteral("replaced"));

    // The user confirms the dialog: the entry holds the answer and nothing else.
    ASSERT_TRUE(pressKeys({QStringLiteral("Return")}));
    EXPECT_EQ(QString::fromUtf8(entry->finish()), answer + QLatin1Char('\n'));

    const QList<ActivityRecord> records = corvane->activity();
    EXPECT_EQ(corvane->activityStatuses(), (QList<QString>{stored::replaced, stored::completed, stored::triggered}));
    ASSERT_FALSE(records.isEmpty());
    EXPECT_EQ(records.first().original, original);
    EXPECT_EQ(records.first().optimized, answer);
    EXPECT_TRUE(corvane->diagHas(QStringLiteral("trigger AX read: OK"))) << context();
    expectDiagnosticsKeepNoText({original, answer});
}

TEST_F(QtEditor, AMultiLineAnswerReplacesTheEditorsTextAndTheEditorStaysResponsive) {
    const QString subject = QStringLiteral("Release planning");
    const QString original = QStringLiteral("notes for the team: release is friday, two bugs still open");
    const QStringList tokens = {QStringLiteral("Release notes:\n"), QStringLiteral("- ships on Friday\n"),
                                QStringLiteral("- two bugs still open")};
    const QString answer = tokens.join(QString());
    server.respond(streamedAnswer(tokens, 150));
    startCorvane();
    const QString dump = scratch(QStringLiteral("editor.dump"));
    auto editor = startQtEditor({QStringLiteral("--line"), subject, QStringLiteral("--plain"), original,
                                 QStringLiteral("--focus"), QStringLiteral("plain"), QStringLiteral("--dump"), dump});
    ASSERT_TRUE(editor->waitActive()) << "the Qt editor did not come up";
    ASSERT_TRUE(pressKeys({QStringLiteral("ctrl+End")}));
    tripleSpace();

    ASSERT_TRUE(waitForRequests(1)) << context();
    EXPECT_TRUE(userMessage(0).contains(QStringLiteral("[Input text]\n") + original + QStringLiteral("\n\n")))
        << userMessage(0).toStdString();
    ASSERT_TRUE(waitUntil([&] { return panel->title() == QStringLiteral("Done") && panel->texts().contains(answer); }))
        << context();
    shot(QStringLiteral("done"));

    ASSERT_TRUE(panel->click(QStringLiteral("Replace"))) << context();
    ASSERT_TRUE(waitForRecord(stored::replaced)) << context();
    ASSERT_TRUE(waitUntil([&] { return readEditorDump(dump).plain == answer; }))
        << "the editor holds: " << readEditorDump(dump).plain.toStdString() << context();
    EXPECT_EQ(readEditorDump(dump).line, subject) << "the other field was touched";

    // No hang and no wiped field: the editor takes the user's next keys after the answer.
    ASSERT_TRUE(pressKeys({QStringLiteral("ctrl+End"), QStringLiteral("exclam")}));
    EXPECT_TRUE(waitUntil([&] { return readEditorDump(dump).plain == answer + QLatin1Char('!'); }))
        << "the editor holds: " << readEditorDump(dump).plain.toStdString();
    EXPECT_TRUE(editor->running());
    EXPECT_EQ(corvane->activityStatuses(), (QList<QString>{stored::replaced, stored::completed, stored::triggered}));
    expectDiagnosticsKeepNoText({original, answer, subject});
}

} // namespace
} // namespace corvane::e2e
