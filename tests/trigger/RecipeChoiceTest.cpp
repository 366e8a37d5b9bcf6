// Which recipe a run uses, remembering it for an app, and the message sent to the model.
#include "EngineHarness.h"
#include "trigger/UserMessage.h"
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testkit;
using Source = trigger::RecipeSource;

namespace {

const QString kChat = QStringLiteral("com.slack.Slack");  // the seed rules give it "brief"

} // namespace

TEST(RecipeChoice, FirstResolvingSourceWins) {
    struct Case {
        const char* name;
        std::optional<QString> pending;
        std::optional<QString> forced;
        QString bundleID;
        QString recipeID;
        Source source;
    };
    const std::vector<Case> cases = {
        {"pending beats forced", QStringLiteral("shorten"), QStringLiteral("code-task"), kChat, QStringLiteral("shorten"),
         Source::sessionManual()},
        {"unresolved pending falls to forced", QStringLiteral("deleted"), QStringLiteral("code-task"), kChat,
         QStringLiteral("code-task"), Source::hotkey()},
        {"unresolved forced falls to the app rule", std::nullopt, QStringLiteral("deleted"), kChat,
         QStringLiteral("brief"), Source::appRule(QStringLiteral("Slack 100%"))},
        {"no rule for the app: global selection", std::nullopt, std::nullopt, QStringLiteral("org.example.None"),
         QStringLiteral("optimize"), Source::globalDefault()},
        {"empty bundle id never matches a rule", std::nullopt, std::nullopt, QString(), QStringLiteral("optimize"),
         Source::globalDefault()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness h;
        auto& w = h.app(c.bundleID, QStringLiteral("Slack 100%"));
        h.field(w, QStringLiteral("Let's sync on the roadmap tomorrow"));
        if (c.pending)
            h.engine.stageManualRecipe(*c.pending);
        h.trigger(c.forced);
        EXPECT_EQ(h.panel.calls[0].section(QLatin1Char('|'), -1), c.recipeID + QLatin1Char(')'));
        EXPECT_EQ(h.engine.currentRecipeSource(), c.source);
        EXPECT_TRUE(h.lastRecord().context->endsWith(QStringLiteral(" recipe=") + c.source.logName()));
        // The pending id is used up by this choice, whatever it was.
        EXPECT_EQ(h.engine.takePendingManualRecipeID(), std::nullopt);
    }
}

TEST(RecipeChoice, StaleRuleFallsToTheGlobalSelectionAndRuleNamesComeFromTheApp) {
    EngineHarness h;
    h.profiles.setMapping(QStringLiteral("org.example.Notes"), QStringLiteral("Old Name"), QStringLiteral("user-GONE"));
    h.recipes.select(QStringLiteral("shorten"));
    auto& w = h.app(QStringLiteral("org.example.Notes"), QStringLiteral("Notes"));
    h.field(w, QStringLiteral("Let's sync on the roadmap tomorrow"));
    h.trigger();
    EXPECT_EQ(h.engine.currentRecipeSource(), Source::globalDefault());
    EXPECT_EQ(h.engine.currentRecipeName(), h.recipes.effective(QStringLiteral("shorten"))->name);

    h.engine.rememberAsAppDefault(QStringLiteral("brief"));
    EXPECT_EQ(h.profiles.recipeID(QStringLiteral("org.example.Notes")), QStringLiteral("brief"));
    EXPECT_EQ(h.engine.currentRecipeSource(), Source::appRule(QStringLiteral("Notes")));
    EXPECT_EQ(h.engine.currentRecipeSource().label(), QStringLiteral("App rule: Notes"));

    // After the session ends the source is back to the default; the recipe name stays.
    const QString name = h.engine.currentRecipeName();
    h.engine.cancel();
    EXPECT_EQ(h.engine.currentRecipeSource(), Source::globalDefault());
    EXPECT_EQ(h.engine.currentRecipeName(), name);
    const auto rules = h.profiles.rules();
    h.engine.rememberAsAppDefault(QStringLiteral("shorten"));  // no session app: nothing changes
    EXPECT_EQ(h.profiles.rules(), rules);
    EXPECT_EQ(h.engine.currentRecipeSource(), Source::globalDefault());
}

TEST(RecipeChoice, HotkeyRecipeNeverAppliesToADraft) {
    EngineHarness h;
    auto& w = h.app(QStringLiteral("org.example.Notes"), QStringLiteral("Notes"));
    h.field(w, QString());
    h.trigger(QStringLiteral("code-task"));
    EXPECT_EQ(h.panel.calls, QStringList{QStringLiteral("showDraft(100,200|300x40|optimize)")});
    EXPECT_EQ(h.engine.currentRecipeSource(), Source::globalDefault());

    // A recipe picked while drafting is used once.
    h.engine.stageManualRecipe(QStringLiteral("shorten"));
    h.engine.finishDraft(QStringLiteral("a note about the quarterly numbers"));
    EXPECT_EQ(h.panel.calls.last(), QStringLiteral("beginStreamingResult(shorten)"));
    EXPECT_EQ(h.engine.currentRecipeSource(), Source::sessionManual());
    EXPECT_EQ(h.engine.takePendingManualRecipeID(), std::nullopt);
}

TEST(UserMessage, IsComposedByteForByte) {
    const QString message = trigger::composeUserMessage(QStringLiteral("teh text"), QStringLiteral("Make Concise"),
                                                        QStringLiteral("Mail"), QStringLiteral("clipboard"),
                                                        QStringLiteral("Write the output in Deutsch."));
    const QByteArray expected =
        "[Context]\nSource app: Mail\nProcessing mode: Make Concise (read=clipboard)\n"
        "If the actual type of the input text differs from the typical use of this mode, follow the text's actual "
        "type.\n\n[Input text]\nteh text"
        "\n\n[Output requirements]\n- Output only the processed result itself; the first line must be the result.\n"
        "- No preamble (e.g. \"Sure\", \"Here is\", \"\xE5\xA5\xBD\xE7\x9A\x84\"), no explanations, no summaries, no "
        "thanks.\n- Do not wrap the result in \"---\" dividers.\n- No closing remarks (e.g. \"Let me know if you need "
        "adjustments\", \"\xE5\xA6\x82\xE9\x9C\x80\xE8\xB0\x83\xE6\x95\xB4\xE8\xAF\xB7\xE5\x91\x8A\xE8\xAF\x89\xE6\x88"
        "\x91\").\n- Output language: Write the output in Deutsch.";
    EXPECT_EQ(message.toUtf8(), expected);

    const QString empty = trigger::composeUserMessage(QString(), QStringLiteral("R"), QStringLiteral("A"),
                                                      QStringLiteral("ax"), QString());
    const QByteArray tail = empty.toUtf8().mid(empty.toUtf8().indexOf("\n\n[Output requirements]"));
    EXPECT_EQ(tail.size(), 352);
    EXPECT_TRUE(empty.contains(QStringLiteral("[Input text]\n\n\n[Output requirements]")));
}

TEST(UserMessage, EndsWithTheOutputLanguageInstruction) {
    EngineHarness h;
    h.settings.setOutputLanguageRaw(QStringLiteral("EN"));  // not a raw value: auto
    auto& w = h.app(QStringLiteral("org.example.Notes"), QStringLiteral("Notes"));
    h.field(w, QStringLiteral("Let's sync on the roadmap tomorrow"));
    h.trigger();
    EXPECT_TRUE(h.model.requests[0].prompt.endsWith(
        QStringLiteral("\n- Output language: Match the language of the input text unless the processing instructions "
                       "above specify a target language.")));
}
