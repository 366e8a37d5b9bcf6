// The quick event reader must give exactly the full reader's answer whenever it gives one.
#include "llm/FastJson.h"
#include <gtest/gtest.h>

using corvane::llm::APIFormat;

namespace {

const char* const kPayloads[] = {
    // ordinary events
    R"({"id":"c1","object":"chat.completion.chunk","choices":[{"index":0,"delta":{"content":"Hi"}}]})",
    R"({"choices":[{"delta":{"role":"assistant","content":""}}]})",
    R"({"choices":[{"delta":{"content":null}}]})",
    R"({"choices":[{"message":{"content":"whole"}}]})",
    R"({"type":"content_block_delta","index":0,"delta":{"type":"text_delta","text":"Hi"}})",
    R"({"type":"message_start","message":{"id":"m"}})",
    R"({"candidates":[{"content":{"parts":[{"text":"a"},{"inlineData":{}},{"text":"b"}],"role":"model"}}]})",
    R"({"candidates":[{"content":{"parts":[]}}]})",
    // escapes and characters
    R"({"choices":[{"delta":{"content":"line\nnext \"quoted\" \\ \/ \t \u00e9 \ud83d\ude00 \ud800"}}]})",
    R"({"\u0063hoices":[{"delta":{"\u0063ontent":"escaped keys"}}]})",
    "{\"choices\":[{\"delta\":{\"content\":\"caf\xc3\xa9 \xe5\xaf\x86 \xf0\x9f\x98\x80\"}}]}",
    R"({"type":"content_block_delta","delta":{"text":"\u0000nul"}})",
    // shapes
    R"({"choices":[{"delta":{"content":"first"}},{"delta":{"content":"second"}}]})",
    R"({"choices":[{"delta":{"content":"a"}},42]})",
    R"({"choices":[]})",
    R"({"choices":{"delta":{"content":"x"}}})",
    R"({"choices":[{"delta":{"content":"dup1"},"delta":{"content":"dup2"}}]})",
    R"({"choices":[{"delta":{"content":"x"}}],"choices":[]})",
    R"({"type":"content_block_delta","type":"ping","delta":{"text":"x"}})",
    R"([{"choices":[{"delta":{"content":"in array"}}]}])",
    R"({"candidates":[{"content":{"parts":[{"text":"a"},"b"]}}]})",
    R"({"candidates":[{"content":{"parts":[{"text":1},{"text":"z"}]}}]})",
    R"({"n":[1,-0,0.5,-12.25,1234567890123456789012],"t":true,"f":false,"z":null,"choices":[{"delta":{"content":"nums"}}]})",
    " \r\n\t{\"choices\":[{\"delta\":{\"content\":\"blanks\"}}]} \r\n",
    // lax or broken text the full reader judges
    "{\"choices\":[{\"delta\":{\"content\":\"tab\there\"}}]}",
    R"({"choices":[{"delta":{"content":"bad \x escape"}}]})",
    "\xef\xbb\xbf{\"choices\":[{\"delta\":{\"content\":\"bom\"}}]}",
    R"({"choices":[{"delta":{"content":"trailing"}},]})",
    R"({"x":1.,"choices":[{"delta":{"content":"one dot"}}]})",
    R"({"x":.5,"choices":[{"delta":{"content":"dot five"}}]})",
    R"({"x":1e999,"choices":[{"delta":{"content":"huge"}}]})",
    R"({"x":1E+5,"choices":[{"delta":{"content":"exp"}}]})",
    R"({"x":01,"choices":[{"delta":{"content":"zero"}}]})",
    "{\"choices\":[{\"delta\":{\"content\":\"bad \xff utf8\"}}]}",
    "{\"choices\":[{\"delta\":{\"content\":\"surrogate \xed\xa0\x80\"}}]}",
    R"({"choices":[{"delta":{"content":"unterminated)",
    R"({"choices":[{"delta":{"content":"x"}}]} garbage)",
    R"({"choices":[{"delta":{"content":"x"}}]}{})",
    R"("just a string")",
    "[DONE]",
    "",
    "{}",
    "[]",
    R"({"a":tru})",
    R"({"choices":[{"delta":{"content":"\u12"}}]})",
};

std::string show(const std::optional<QString>& s) { return s ? "\"" + s->toStdString() + "\"" : "none"; }

TEST(FastEventReader, AgreesWithTheFullReader) {
    int decided = 0;
    for (const char* payload : kPayloads) {
        for (APIFormat format : APIFormat::allCases()) {
            const QByteArrayView bytes(payload, static_cast<qsizetype>(std::strlen(payload)));
            const auto quick = corvane::llm::fastjson::eventText(bytes, format);
            if (!quick)
                continue;
            ++decided;
            EXPECT_EQ(show(*quick), show(corvane::llm::eventTextFullReader(bytes, format)))
                << format.rawValue().toStdString() << ": " << payload;
        }
    }
    EXPECT_GT(decided, 60); // the quick reader does handle the ordinary events
}

TEST(FastEventReader, DeepNestingIsLeftToTheFullReader) {
    QByteArray deep = R"({"choices":[{"delta":{"content":"deep"}}],"x":)";
    deep += QByteArray(200, '[') + QByteArray(200, ']') + "}";
    EXPECT_FALSE(corvane::llm::fastjson::eventText(deep, APIFormat::OpenAI));
}

} // namespace
