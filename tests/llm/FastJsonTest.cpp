// The quick event reader must give exactly the full reader's answer whenever it gives one.
#include "llm/FastJson.h"
#include "llm/LLMClient.h"
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
    // keys one letter, one byte or one case away from the ones looked for
    R"({"choices":[{"delta":{"contenu":"x","content ":"y","Content":"z","conten":"w","contents":"v"}}]})",
    R"({"choices":[{"delta":{"contentt":"x"},"deltA":{"content":"y"}}],"choice":[{"delta":{"content":"z"}}]})",
    R"({"candidates":[{"content":{"parts":[{"texT":"a"},{"tex":"b"},{"text":"c"},{"texts":"d"}]}}]})",
    R"({"candidatez":[{"content":{"parts":[{"text":"a"}]}}],"candidates":[{"contenT":{"parts":[{"text":"b"}]}}]})",
    R"({"type":"content_block_delta","delta":{"txet":"x","TEXT":"y","text":"ok"}})",
    R"({"type":"content_block_deltA","delta":{"text":"x"}})",
    // one part, not ASCII; ASCII control characters written as escapes
    R"({"candidates":[{"content":{"parts":[{"text":"\u00e9t\u00e9 \ud83d\ude00"}]}}]})",
    R"({"type":"content_block_delta","delta":{"text":"\u0001\u001f\u007f~ "}})",
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
    // cut off where the blanks the quick reader adds after a payload could be taken for its end
    R"({"choices":[{"delta":{"content":"x\)",
    "{\"choices\":[{\"delta\":{\"content\":\"caf\xc3",
    R"({"choices":[{"delta":{"content":"x"}}],"n":1)",
    R"({"choices":[{"delta":{"content":"x"}}],"b":tr)",
    R"({"choices":[{"delta":{"content":"x"}}]} garbage)",
    R"({"choices":[{"delta":{"content":"x"}}]}{})",
    R"("just a string")",
    "[DONE]",
    "",
    "{}",
    "[]",
    R"({"a":tru})",
    R"({"choices":[{"delta":{"content":"\u12"}}]})",
    // numbers the two readers might take differently
    R"({"x":0.0,"choices":[{"delta":{"content":"zero"}}]})",
    R"({"x":1e-400,"choices":[{"delta":{"content":"underflow"}}]})",
    R"({"x":4.9e-324,"choices":[{"delta":{"content":"subnormal"}}]})",
    R"({"x":1.7976931348623157e308,"choices":[{"delta":{"content":"largest"}}]})",
    R"({"x":-9223372036854775808,"y":18446744073709551615,"choices":[{"delta":{"content":"edges"}}]})",
    R"({"choices":[{"delta":{"content":"lone \udc00 low"}}]})",
};

// Payloads too long to write out: a 310-digit integer and 0. with 323 zeros and a 1.
std::vector<QByteArray> payloads() {
    std::vector<QByteArray> all(std::begin(kPayloads), std::end(kPayloads));
    for (const QByteArray& number : {QByteArray("1") + QByteArray(309, '0'), "0." + QByteArray(323, '0') + "1"}) {
        all.push_back(R"({"type":"content_block_delta","n":)" + number + R"(,"delta":{"text":"big"},)" +
                      R"("choices":[{"delta":{"content":"big"}}],"candidates":[{"content":{"parts":[{"text":"big"}]}}]})");
    }
    return all;
}

std::string show(const std::optional<QString>& s) { return s ? "\"" + s->toStdString() + "\"" : "none"; }

TEST(FastEventReader, AgreesWithTheFullReader) {
    int decided = 0;
    for (const QByteArray& payload : payloads()) {
        for (APIFormat format : APIFormat::allCases()) {
            const QByteArrayView bytes(payload);
            const std::optional<QString> full = corvane::llm::eventTextFullReader(bytes, format);
            // What the client uses, decided or not, is always the full reader's answer.
            EXPECT_EQ(show(corvane::llm::LLMClient::content(bytes, format)), show(full))
                << format.rawValue().toStdString() << ": " << payload.left(200).constData();
            const auto quick = corvane::llm::fastjson::eventText(bytes, format);
            if (!quick)
                continue;
            ++decided;
            EXPECT_EQ(show(*quick), show(full)) << format.rawValue().toStdString() << ": " << payload.left(200).constData();
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
