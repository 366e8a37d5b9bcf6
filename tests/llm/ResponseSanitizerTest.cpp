// What the user gets back when a model wraps its answer in conversation.
#include "llm/ResponseSanitizer.h"
#include <QStringList>
#include <gtest/gtest.h>

using corvane::llm::ResponseSanitizer;

namespace {

QString lines(std::initializer_list<const char*> parts) {
    QStringList out;
    for (const char* p : parts)
        out << QString::fromUtf8(p);
    return out.join(QLatin1Char('\n'));
}

struct Case {
    const char* name;
    QString input;
    QString expected;
    QString original = {}; // the user's text the answer was made from
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SanitizerCases : public ::testing::TestWithParam<Case> {};

TEST_P(SanitizerCases, CleansAsTheUserExpects) {
    const Case& c = GetParam();
    EXPECT_EQ(ResponseSanitizer::clean(c.input, c.original).toStdString(), c.expected.toStdString());
}

const char* const kFence = "```";

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, SanitizerCases,
    ::testing::Values(
        Case{"opener_and_closer_around_one_line",
             lines({"Sure! Here's the polished version:", "", "The meeting is moved to Friday at 3 pm.", "",
                    "Let me know if you need any other changes."}),
             lines({"The meeting is moved to Friday at 3 pm."})},
        Case{"fenced_markdown", lines({"```markdown", "Hello team,", "the build is green.", kFence}),
             lines({"Hello team,", "the build is green."})},
        Case{"chinese_exclamation_then_divider", lines({"好的！", "---", "把会议改到周五下午三点。"}),
             lines({"把会议改到周五下午三点。"})},
        Case{"chinese_opener_and_closer",
             lines({"以下是优化后的提示词：", "请用三句话总结这篇文章的要点。", "希望对你有帮助！"}),
             lines({"请用三句话总结这篇文章的要点。"})},
        Case{"opener_dividers_and_closer",
             lines({"Here is the rewritten text:", "---", "Please send the report by Monday.", "---",
                    "Hope this helps!"}),
             lines({"Please send the report by Monday."})},
        Case{"at_most_four_passes",
             lines({"Sure!", "OK!", "Alright!", "Got it!", "Certainly!", "The actual answer text."}),
             lines({"Certainly!", "The actual answer text."})},
        Case{"rest_too_short", lines({"OK, here it is:", "Short."}), lines({"OK, here it is:", "Short."})},
        Case{"plain_opener_is_kept", lines({"Okay.", "The quarterly numbers look fine."}),
             lines({"Okay.", "The quarterly numbers look fine."})},
        Case{"heading_above_divider_is_kept", lines({"Summary", "---", "The rest of the text is here."}),
             lines({"Summary", "---", "The rest of the text is here."})},
        Case{"translated_opener", lines({"Certainly! Here is the translated text:", "Bonjour à tous, la réunion est déplacée."}),
             lines({"Bonjour à tous, la réunion est déplacée."})}));

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, SanitizerCases,
    ::testing::Values(
        Case{"empty", QString(), QString()},
        Case{"white_space_only_is_returned_exactly", QStringLiteral(" \n\t "), QStringLiteral(" \n\t ")},
        Case{"surrounding_white_space_goes", QStringLiteral("\n  Fine as it is.  \n"), QStringLiteral("Fine as it is.")},
        Case{"single_line_opener_stays", lines({"Sure!"}), lines({"Sure!"})},
        Case{"ok_has_no_word_boundary", lines({"OKish, here it is:", "The numbers are final now."}),
             lines({"The numbers are final now."})},
        // A line that only introduces a list is the list's heading, not chatter.
        Case{"heading_of_a_list_stays", lines({"OKRs for Q3:", "1. Ship the beta", "2. Hire two engineers"}),
             lines({"OKRs for Q3:", "1. Ship the beta", "2. Hire two engineers"})},
        Case{"long_friendly_opener_stays", lines({"Sure, happy to help with that!", "The quarterly numbers look fine."}),
             lines({"Sure, happy to help with that!", "The quarterly numbers look fine."})},
        Case{"long_closer_stays",
             lines({"The numbers are final now.",
                    "Let me know if anything in the appendix needs another pass before Friday's review."}),
             lines({"The numbers are final now.",
                    "Let me know if anything in the appendix needs another pass before Friday's review."})},
        Case{"note_as_opener_stays", lines({"Note: the figures are in euros.", "Revenue grew by four percent."}),
             lines({"Note: the figures are in euros.", "Revenue grew by four percent."})},
        Case{"note_as_closer_goes", lines({"Revenue grew by four percent.", "Note: rounded figures."}),
             lines({"Revenue grew by four percent."})},
        Case{"non_chatter_head_keeps_divider", lines({"Hello", "---", "World, this is the real answer."}),
             lines({"Hello", "---", "World, this is the real answer."})},
        Case{"empty_fence_stays", lines({kFence, kFence}), lines({kFence, kFence})},
        Case{"two_fenced_blocks_lose_only_outer_lines",
             lines({"```a", "1", kFence, "", "```b", "2", kFence}),
             lines({"1", kFence, "", "```b", "2"})},
        Case{"unclosed_fence_stays", lines({"```json", "{\"a\": 1}", "done"}),
             lines({"```json", "{\"a\": 1}", "done"})},
        Case{"crlf_text_keeps_its_opener",
             QStringLiteral("Sure! Here's the polished version:\r\nThe meeting is moved to Friday.\r\n"),
             QStringLiteral("Sure! Here's the polished version:\r\nThe meeting is moved to Friday.")},
        Case{"graphemes_not_bytes", lines({"好的～", "这是最终结果，请查收。"}), lines({"这是最终结果，请查收。"})},
        Case{"chinese_closer_with_fullwidth_colon", lines({"会议改到周五下午三点。", "备注：时间已确认"}),
             lines({"会议改到周五下午三点。"})},
        Case{"trailing_divider_of_any_length",
             lines({"The report is attached below.", "----------------------------------------------------------------------"}),
             lines({"The report is attached below."})},
        Case{"ending_marker_between_dashes", lines({"The final text of the letter.", "-- end --"}),
             lines({"The final text of the letter."})},
        Case{"case_insensitive_openers", lines({"HERE IS THE REVISED VERSION:", "Quarterly numbers are final."}),
             lines({"Quarterly numbers are final."})},
        Case{"head_of_200_characters_above_divider_goes",
             QStringLiteral("Sure thing ") + QString(189, QLatin1Char('x')) + QStringLiteral("\n---\nThe rest of the text."),
             QStringLiteral("The rest of the text.")},
        Case{"head_of_201_characters_above_divider_stays",
             QStringLiteral("Sure thing ") + QString(190, QLatin1Char('x')) + QStringLiteral("\n---\nThe rest of the text."),
             QStringLiteral("Sure thing ") + QString(190, QLatin1Char('x')) + QStringLiteral("\n---\nThe rest of the text.")}));

// An answer the cleaner leaves as it is, given the user's original.
Case kept(const char* name, std::initializer_list<const char*> answer, const char* original) {
    return Case{name, lines(answer), lines(answer), QString::fromUtf8(original)};
}

// The user's own lines are never taken for chatter; chatter the user did not write still goes.
INSTANTIATE_TEST_SUITE_P(
    WithTheOriginal, SanitizerCases,
    ::testing::Values(
        kept("closing_line_of_the_user", {"Dinner is at eight at our place on Saturday.", "Let me know if you can come."},
             "dinner is at 8 at our place on saturday. let me know if you can come"),
        kept("closing_note_of_the_user", {"Send the slides by Friday.", "Note: bring your badge on Monday."},
             "send slides by friday\nNOTE: bring your badge on monday!"),
        kept("closing_hope_of_the_user", {"We booked the venue for the offsite.", "Hope this helps you plan next year."},
             "We booked the venue for the offsite. Hope this helps you plan next year."),
        kept("heading_of_the_user_with_a_colon_added", {"OKRs for Q3:", "Ship the beta and hire two engineers."},
             "okrs for q3\nship beta, hire two engineers"),
        kept("opener_introducing_text_of_the_user", {"I have three things to say:", "The roof leaks again."},
             "the roof leaks again"),
        kept("closing_divider_of_the_user", {"The minutes of the meeting follow.", "---"}, "the minutes follow\n---\n"),
        Case{"chatter_around_the_user_text_goes",
             lines({"Sure! Here's the polished version:", "Dinner is at eight.", "---", "Let me know if you need more."}),
             lines({"Dinner is at eight."}), QStringLiteral("Dinner is at eight. Let me know.")},
        Case{"short_exclamation_goes_unless_a_sentence_of_the_user", lines({"Sure!", "The door is locked at night."}),
             lines({"The door is locked at night."}), QStringLiteral("make sure the door is locked at night")},
        Case{"introducing_opener_before_new_text_goes", lines({"Sure, here you go:", "The roof is leaking once more."}),
             lines({"The roof is leaking once more."}), QStringLiteral("the roof leaks again")}));

// Word boundaries follow whole characters: a letter with a combining accent continues the word,
// so "Sure" followed by an accent is not the opener "Sure".
TEST(ResponseSanitizerUnicode, CombiningMarkContinuesTheWord) {
    const QString accented = QStringLiteral("Sure\u0301ly!\nThe numbers are final now.");
    EXPECT_EQ(ResponseSanitizer::clean(accented, {}), accented);
    const QString plain = QStringLiteral("Sure!\nThe numbers are final now.");
    EXPECT_EQ(ResponseSanitizer::clean(plain, {}), QStringLiteral("The numbers are final now."));
}

// A divider line that still carries the carriage return of a CR LF ending is a divider.
TEST(ResponseSanitizerUnicode, DividerBeforeFinalLineBreak) {
    const QString text = QStringLiteral("---\r\nThe answer is forty-two.");
    EXPECT_EQ(ResponseSanitizer::clean(text, {}), QStringLiteral("The answer is forty-two."));
}

TEST(ResponseSanitizerUnicode, NeverEmptiesANonEmptyAnswer) {
    for (const char* input : {"---", "```\n```", "Sure!\n---", "Hope this helps!", "(end)", "  OK  "}) {
        const QString in = QString::fromUtf8(input);
        EXPECT_FALSE(ResponseSanitizer::clean(in, {}).trimmed().isEmpty()) << input;
    }
}

} // namespace
