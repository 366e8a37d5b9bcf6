// Reading answer text and provider error sentences out of what the servers send back.
#include "llm/LLMClient.h"
#include <gtest/gtest.h>

using corvane::llm::APIFormat;
using corvane::llm::LLMClient;

namespace {

struct ContentCase {
    const char* name;
    APIFormat format;
    const char* payload;
    std::optional<const char*> expected; // nothing: no text in it
};

void PrintTo(const ContentCase& c, std::ostream* os) { *os << c.name; }

std::optional<std::string> asStd(const std::optional<QString>& s) {
    return s ? std::optional<std::string>(s->toStdString()) : std::nullopt;
}
std::optional<std::string> asStd(const std::optional<const char*>& s) {
    return s ? std::optional<std::string>(*s) : std::nullopt;
}

class EventPayloads : public ::testing::TestWithParam<ContentCase> {};

TEST_P(EventPayloads, YieldTheirText) {
    const ContentCase& c = GetParam();
    EXPECT_EQ(asStd(LLMClient::contentFromSSEPayload(QString::fromUtf8(c.payload), c.format)), asStd(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, EventPayloads,
    ::testing::Values(
        ContentCase{"openai_delta", APIFormat::OpenAI, R"({"choices":[{"delta":{"content":"Hel"}}]})", "Hel"},
        ContentCase{"openai_empty_delta_is_text", APIFormat::OpenAI, R"({"choices":[{"delta":{"content":""}}]})", ""},
        ContentCase{"openai_role_only", APIFormat::OpenAI, R"({"choices":[{"delta":{"role":"assistant"}}]})", std::nullopt},
        ContentCase{"openai_null_content", APIFormat::OpenAI, R"({"choices":[{"delta":{"content":null}}]})", std::nullopt},
        ContentCase{"openai_no_choices", APIFormat::OpenAI, R"({"id":"x"})", std::nullopt},
        ContentCase{"openai_empty_choices", APIFormat::OpenAI, R"({"choices":[]})", std::nullopt},
        ContentCase{"openai_choices_not_objects", APIFormat::OpenAI, R"({"choices":[{"delta":{"content":"a"}},1]})", std::nullopt},
        ContentCase{"openai_whole_message", APIFormat::OpenAI, R"({"choices":[{"message":{"content":"All of it"}}]})", "All of it"},
        ContentCase{"openai_delta_wins_over_message", APIFormat::OpenAI,
                    R"({"choices":[{"delta":{"content":"d"},"message":{"content":"m"}}]})", "d"},
        ContentCase{"openai_non_ascii", APIFormat::OpenAI, R"({"choices":[{"delta":{"content":"你好 😀"}}]})", "你好 😀"},
        ContentCase{"anthropic_text_delta", APIFormat::Anthropic,
                    R"({"type":"content_block_delta","index":0,"delta":{"type":"text_delta","text":"Hi"}})", "Hi"},
        ContentCase{"anthropic_other_event", APIFormat::Anthropic, R"({"type":"message_start","message":{}})", std::nullopt},
        ContentCase{"anthropic_missing_type", APIFormat::Anthropic, R"({"delta":{"text":"Hi"}})", std::nullopt},
        ContentCase{"anthropic_delta_without_text", APIFormat::Anthropic,
                    R"({"type":"content_block_delta","delta":{"type":"input_json_delta","partial_json":"{"}})", std::nullopt},
        ContentCase{"anthropic_error_event", APIFormat::Anthropic,
                    R"({"type":"error","error":{"type":"overloaded_error","message":"Overloaded"}})", std::nullopt},
        ContentCase{"gemini_two_parts", APIFormat::Gemini,
                    R"({"candidates":[{"content":{"parts":[{"text":"Hel"},{"text":"lo"}]}}]})", "Hello"},
        ContentCase{"gemini_parts_without_text", APIFormat::Gemini,
                    R"({"candidates":[{"content":{"parts":[{"inlineData":{}}]}}]})", ""},
        ContentCase{"gemini_no_candidates", APIFormat::Gemini, R"({"usageMetadata":{}})", std::nullopt},
        ContentCase{"gemini_empty_candidates", APIFormat::Gemini, R"({"candidates":[]})", std::nullopt},
        ContentCase{"gemini_content_not_object", APIFormat::Gemini, R"({"candidates":[{"content":"x"}]})", std::nullopt},
        ContentCase{"not_json", APIFormat::OpenAI, "Hello there", std::nullopt},
        ContentCase{"top_level_array", APIFormat::Gemini, R"([{"candidates":[]}])", std::nullopt},
        ContentCase{"truncated_json", APIFormat::OpenAI, R"({"choices":[{"delta":{"content":"a"})", std::nullopt}));

class WholeBodies : public ::testing::TestWithParam<ContentCase> {};

TEST_P(WholeBodies, YieldTheirText) {
    const ContentCase& c = GetParam();
    EXPECT_EQ(asStd(LLMClient::contentFromWholeBody(QString::fromUtf8(c.payload), c.format)), asStd(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, WholeBodies,
    ::testing::Values(
        ContentCase{"openai_message", APIFormat::OpenAI, R"({"choices":[{"message":{"role":"assistant","content":"Done."}}]})", "Done."},
        ContentCase{"openai_no_delta_fallback", APIFormat::OpenAI, R"({"choices":[{"delta":{"content":"x"}}]})", std::nullopt},
        ContentCase{"openai_empty_content", APIFormat::OpenAI, R"({"choices":[{"message":{"content":""}}]})", ""},
        ContentCase{"anthropic_blocks_joined", APIFormat::Anthropic,
                    R"({"type":"message","content":[{"type":"text","text":"A"},{"type":"tool_use"},{"type":"other","text":"B"}]})", "AB"},
        ContentCase{"anthropic_message_without_text", APIFormat::Anthropic, R"({"type":"message","content":[]})", ""},
        ContentCase{"anthropic_other_type", APIFormat::Anthropic, R"({"type":"error","content":[{"text":"A"}]})", std::nullopt},
        ContentCase{"anthropic_content_not_array", APIFormat::Anthropic, R"({"type":"message","content":"A"})", std::nullopt},
        ContentCase{"gemini_like_events", APIFormat::Gemini, R"({"candidates":[{"content":{"parts":[{"text":"G"}]}}]})", "G"},
        ContentCase{"html_page", APIFormat::OpenAI, "<html><body>Bad gateway</body></html>", std::nullopt}));

struct ErrorCase {
    const char* name;
    QString body;
    std::optional<QString> expected;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ErrorBodies : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorBodies, YieldTheProvidersSentence) {
    const ErrorCase& c = GetParam();
    const std::optional<QString> got = LLMClient::extractErrorMessage(c.body);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << (got ? got->toStdString() : std::string("none"));
    if (got) {
        EXPECT_EQ(got->toStdString(), c.expected->toStdString());
    }
}

const QString k400 = QString(400, QLatin1Char('a'));

INSTANTIATE_TEST_SUITE_P(
    Shapes, ErrorBodies,
    ::testing::Values(
        ErrorCase{"blank", QStringLiteral(" \n\t "), std::nullopt},
        ErrorCase{"plain_line_with_line_feed", QStringLiteral("Service down\n"), QStringLiteral("Service down")},
        ErrorCase{"two_plain_lines", QStringLiteral("Bad gateway\nnginx"), QStringLiteral("Bad gateway nginx")},
        ErrorCase{"carriage_return_stays", QStringLiteral("Bad gateway\r\nnginx"), QStringLiteral("Bad gateway\r nginx")},
        ErrorCase{"message", QStringLiteral(R"({"message":"Nope"})"), QStringLiteral("Nope")},
        ErrorCase{"msg", QStringLiteral(R"({"msg":"Nope"})"), QStringLiteral("Nope")},
        ErrorCase{"detail_text", QStringLiteral(R"({"detail":"Not authenticated"})"), QStringLiteral("Not authenticated")},
        ErrorCase{"empty_message_falls_to_error", QStringLiteral(R"({"message":"","error":{"message":"Inner"}})"),
                  QStringLiteral("Inner")},
        ErrorCase{"error_text", QStringLiteral(R"({"error":"Invalid key"})"), QStringLiteral("Invalid key")},
        ErrorCase{"error_with_only_code", QStringLiteral(R"({"error":{"code":429}})"), std::nullopt},
        ErrorCase{"error_null", QStringLiteral(R"({"error":null,"detail":5})"), std::nullopt},
        ErrorCase{"top_level_array", QStringLiteral(R"([{"message":"x"}])"), std::nullopt},
        ErrorCase{"bare_json_string_is_plain_text", QStringLiteral(R"("quoted")"), QStringLiteral(R"("quoted")")},
        ErrorCase{"three_nested_errors", QStringLiteral(R"({"error":{"error":{"error":{"message":"Deep"}}}})"),
                  QStringLiteral("Deep")},
        ErrorCase{"four_nested_errors", QStringLiteral(R"({"error":{"error":{"error":{"error":{"message":"Deep"}}}}})"),
                  std::nullopt},
        ErrorCase{"detail_list", QStringLiteral(R"({"detail":[{"msg":"field required"},{"msg":""},{"loc":["body"]}]})"),
                  QStringLiteral("field required")},
        ErrorCase{"detail_list_joined", QStringLiteral(R"({"detail":[{"msg":"a"},{"msg":"b"}]})"), QStringLiteral("a; b")},
        ErrorCase{"message_keeps_line_breaks", QStringLiteral(R"({"message":"line one\nline two"})"),
                  QStringLiteral("line one\nline two")},
        ErrorCase{"exactly_400", k400, k400},
        ErrorCase{"401_cut_to_400", k400 + QLatin1Char('b'), k400 + QChar(0x2026)},
        ErrorCase{"cap_counts_characters_not_units",
                  QString(400, QLatin1Char('x')).replace(0, 1, QStringLiteral("😀")) + QStringLiteral("yz"),
                  QString(400, QLatin1Char('x')).replace(0, 1, QStringLiteral("😀")).left(401) + QChar(0x2026)}));

} // namespace
