// Runs that end without a write-back: cancelled in the middle of a slow answer, and refused by
// the model server. The field keeps what the user typed, and each run leaves its records once.
#include "e2e/ScenarioFixture.h"

namespace corvane::e2e {
namespace {

class RunControl : public Scenario {};
class ServerError : public Scenario {};

TEST_F(RunControl, CancelInTheMiddleOfASlowAnswerDropsItAndTheNextRunGetsOnlyItsOwn) {
    const QString original = QStringLiteral("a long paragraph that the model answers very slowly");
    server.respond([this](const test::RecordedRequest&) {
        if (server.requests().size() > 1)
            return streamedAnswer({QStringLiteral("Fresh answer.")}, 0);
        // The first answer starts, then stalls; a late token follows unless the request is dropped.
        test::ScriptedResponse slow = streamedAnswer({QStringLiteral("Partial answer ")}, 0, false);
        slow.then(test::providers::openAIStream({QStringLiteral("STALE TOKEN")}, false), 3000);
        return slow;
    });
    // A timeout far beyond the scenario: only the cancel can end the first request.
    CorvaneProcess::Settings settings;
    settings.apiTimeoutSeconds = 600;
    startCorvane(settings);
    const QString dump = scratch(QStringLiteral("editor.dump"));
    auto editor = startQtEditor({QStringLiteral("--line"), original, QStringLiteral("--dump"), dump});
    ASSERT_TRUE(editor->waitActive()) << "the Qt editor did not come up";
    tripleSpace();

    ASSERT_TRUE(waitForRequests(1)) << context();
    ASSERT_TRUE(waitUntil([&] {
        return panel->title() == QStringLiteral("Optimizing…") && panel->shows(QStringLiteral("Partial answer"));
    })) << context();
    shot(QStringLiteral("streaming"));

    ASSERT_TRUE(panel->click(QStringLiteral("Cancel"))) << context();
    ASSERT_TRUE(waitPanelHidden()) << context();
    EXPECT_TRUE(waitUntil([&] { return server.openConnections() == 0; })) << "the cancelled request is still open";
    EXPECT_EQ(readEditorDump(dump).line, original + QStringLiteral("   ")) << "the field changed";
    EXPECT_EQ(corvane->activityStatuses(), (QList<QString>{stored::cancelled, stored::triggered}));

    // The next run shows its own answer, nothing of the cancelled one.
    tripleSpace();
    ASSERT_TRUE(waitForRequests(2)) << context();
    ASSERT_TRUE(waitUntil([&] { return panel->title() == QStringLiteral("Done"); })) << context();
    EXPECT_EQ(panel->texts(), (QStringList{original, QStringLiteral("Fresh answer.")})) << context();
    shot(QStringLiteral("next-run"));
    EXPECT_EQ(corvane->activityStatuses(),
              (QList<QString>{stored::completed, stored::triggered, stored::cancelled, stored::triggered}));
    EXPECT_EQ(readEditorDump(dump).line, original + QStringLiteral("      ")) << "the field changed";
    expectDiagnosticsKeepNoText({original, QStringLiteral("Partial answer"), QStringLiteral("Fresh answer.")});
}

TEST_F(ServerError, ARefusedKeyShowsTheServersReasonAndLeavesTheFieldAlone) {
    const QString original = QStringLiteral("please check the grammar of this sentence");
    server.respond(test::ScriptedResponse::json(
        401, R"({"error":{"message":"Incorrect API key provided: sk-e2e***key","type":"invalid_request_error","code":"invalid_api_key"}})"));
    startCorvane();
    auto entry = startGtkEntry(original);
    ASSERT_TRUE(entry->waitActive()) << "zenity did not come up";
    ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
    tripleSpace();

    ASSERT_TRUE(waitForRequests(1)) << context();
    ASSERT_TRUE(waitForTitle(QStringLiteral("Error"))) << context();
    const QString shown = QStringLiteral("API key is invalid or unauthorized. Check that the key belongs to the selected "
                                         "provider — Incorrect API key provided: sk-e2e***key");
    EXPECT_TRUE(panel->shows(shown)) << context();
    EXPECT_EQ(activeWindowPid(), entry->pid());
    shot(QStringLiteral("error"));

    ASSERT_TRUE(waitForRecord(stored::failed)) << context();
    EXPECT_EQ(corvane->activityStatuses(), (QList<QString>{stored::failed, stored::triggered}));
    EXPECT_EQ(corvane->activity().first().detail, shown);

    // The entry holds exactly what the user typed.
    ASSERT_TRUE(pressKeys({QStringLiteral("Return")}));
    EXPECT_EQ(QString::fromUtf8(entry->finish()), original + QStringLiteral("   \n"));
    expectDiagnosticsKeepNoText({original});
}

} // namespace
} // namespace corvane::e2e
