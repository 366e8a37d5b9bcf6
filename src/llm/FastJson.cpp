#include "llm/FastJson.h"
#include <simdjson.h>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

namespace corvane::llm::fastjson {

namespace {

// Deeper documents go to the full reader, which has its own nesting limit.
constexpr size_t kMaxDepth = 64;
constexpr qsizetype kMaxQuickBytes = 64 * 1024;

// A token as text. Tokens are short and mostly ASCII: those are widened in place, which spares
// the general decoder's call and set-up; any other byte sends the whole token to it.
QString textOf(std::string_view s) {
    const auto size = static_cast<qsizetype>(s.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
    unsigned char high = 0;
    for (qsizetype i = 0; i < size; ++i)
        high |= bytes[i];
    if (high >= 0x80)
        return QString::fromUtf8(s.data(), size);
    QString text(size, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < size; ++i)
        out[i] = bytes[i];
    return text;
}

// A key compared with a literal whose length is known when compiling: two overlapping loads
// from each side (the keys looked for are 4 to 16 bytes long), no call.
template <size_t N>
bool sameKey(std::string_view name, const char (&key)[N]) {
    constexpr size_t length = N - 1;
    static_assert(length >= 4 && length <= 16);
    if (name.size() != length)
        return false;
    using Word = std::conditional_t<(length >= 8), uint64_t, uint32_t>;
    constexpr size_t last = length - sizeof(Word);
    Word a, b, c, d;
    std::memcpy(&a, name.data(), sizeof a);
    std::memcpy(&b, name.data() + last, sizeof b);
    std::memcpy(&c, key, sizeof c);
    std::memcpy(&d, key + last, sizeof d);
    return ((a ^ c) | (b ^ d)) == 0;
}

using simdjson::dom::element;
using simdjson::dom::element_type;

// The value of the object's member when it has the type asked for. The last of duplicate keys
// wins, as in the full reader. (The key's length is known when compiling, so the comparison is a
// few instructions.)
template <size_t N>
std::optional<element> member(const std::optional<element>& object, const char (&key)[N], element_type wanted) {
    if (!object || object->type() != element_type::OBJECT)
        return std::nullopt;
    std::optional<element> found;
    for (const simdjson::dom::key_value_pair field : simdjson::dom::object(*object))
        if (sameKey(field.key, key))
            found = field.value;
    if (!found || found->type() != wanted)
        return std::nullopt;
    return found;
}

std::string_view stringOf(const element& e) {
    std::string_view s;
    if (e.get_string().get(s) != simdjson::SUCCESS)
        return {}; // never: only called on strings
    return s;
}

// The first element of an array whose every element is an object.
std::optional<element> firstOfObjects(const std::optional<element>& array) {
    if (!array)
        return std::nullopt;
    std::optional<element> first;
    for (const element e : simdjson::dom::array(*array)) {
        if (e.type() != element_type::OBJECT)
            return std::nullopt;
        if (!first)
            first = e;
    }
    return first;
}

// Whether every number is one the full reader takes the same way. The full reader refuses a
// number that rounds to zero or to a subnormal from non-zero digits, which simdjson takes; a zero
// written as a decimal ("0.0") cannot be told apart here and is left to it too.
bool numbersAgree(const element& e) {
    switch (e.type()) {
    case element_type::OBJECT:
        for (const simdjson::dom::key_value_pair field : simdjson::dom::object(e))
            if (!numbersAgree(field.value))
                return false;
        return true;
    case element_type::ARRAY:
        for (const element item : simdjson::dom::array(e))
            if (!numbersAgree(item))
                return false;
        return true;
    case element_type::DOUBLE: {
        double d = 0;
        return e.get_double().get(d) == simdjson::SUCCESS && std::isnormal(d);
    }
    default:
        return true;
    }
}

template <size_t N>
std::optional<QString> stringMember(const std::optional<element>& object, const char (&key)[N]) {
    const auto value = member(object, key, element_type::STRING);
    return value ? std::optional<QString>(textOf(stringOf(*value))) : std::nullopt;
}

std::optional<QString> openAIText(const element& root) {
    const auto choice = firstOfObjects(member(root, "choices", element_type::ARRAY));
    if (!choice)
        return std::nullopt;
    if (const auto delta = member(choice, "delta", element_type::OBJECT)) {
        if (std::optional<QString> text = stringMember(delta, "content"))
            return text;
    }
    if (const auto message = member(choice, "message", element_type::OBJECT))
        return stringMember(message, "content");
    return std::nullopt;
}

std::optional<QString> anthropicText(const element& root) {
    const auto type = member(root, "type", element_type::STRING);
    if (!type || stringOf(*type) != "content_block_delta")
        return std::nullopt;
    return stringMember(member(root, "delta", element_type::OBJECT), "text");
}

std::optional<QString> geminiText(const element& root) {
    const auto candidate = firstOfObjects(member(root, "candidates", element_type::ARRAY));
    const auto content = member(candidate, "content", element_type::OBJECT);
    const auto parts = member(content, "parts", element_type::ARRAY);
    if (!parts)
        return std::nullopt;
    for (const element part : simdjson::dom::array(*parts))
        if (part.type() != element_type::OBJECT)
            return std::nullopt;
    // Nearly always one part: its text is the answer as it stands.
    std::optional<QString> joined;
    for (const element part : simdjson::dom::array(*parts)) {
        if (const auto text = member(part, "text", element_type::STRING)) {
            if (joined)
                *joined += textOf(stringOf(*text));
            else
                joined = textOf(stringOf(*text));
        }
    }
    return joined.value_or(QString());
}

} // namespace

std::optional<std::optional<QString>> eventText(QByteArrayView payload, APIFormat format) {
    // The reader keeps buffers sized for the largest document it has read: a rare huge event goes
    // to the full reader, whose memory is given back at once.
    if (payload.size() > kMaxQuickBytes)
        return std::nullopt;
    // One per thread, made once: the parser's buffers and a padded copy of the input (simdjson
    // reads a little past the end of what it is given).
    struct Reader {
        Reader() : padded(static_cast<size_t>(kMaxQuickBytes) + simdjson::SIMDJSON_PADDING) {
            const simdjson::error_code error = parser.allocate(static_cast<size_t>(kMaxQuickBytes), kMaxDepth);
            (void)error; // without the room made now, the first parse makes it
        }
        simdjson::dom::parser parser;
        std::vector<char> padded;
    };
    thread_local Reader reader;
    const auto size = static_cast<size_t>(payload.size());
    // Spaces up to the next 64 bytes: the library then reads whole blocks and skips the copy it
    // makes of a partial last one. Whitespace after a document neither mends nor spoils it.
    const size_t blocks = (size + 63) & ~size_t(63);
    if (size > 0) {
        std::memcpy(reader.padded.data(), payload.data(), size);
        std::memset(reader.padded.data() + size, ' ', blocks - size);
    }
    simdjson::dom::parser& parser = reader.parser;

    element root;
    if (parser.parse(reader.padded.data(), blocks, false).get(root) != simdjson::SUCCESS)
        return std::nullopt; // undecided
    const element_type top = root.type();
    if (top == element_type::ARRAY)
        return std::optional<QString>(); // an array on top holds no text for either reader
    if (top != element_type::OBJECT || !numbersAgree(root))
        return std::nullopt;
    switch (format.value()) {
    case APIFormat::OpenAI:
        return openAIText(root);
    case APIFormat::Anthropic:
        return anthropicText(root);
    case APIFormat::Gemini:
        return geminiText(root);
    }
    return std::nullopt;
}

} // namespace corvane::llm::fastjson
