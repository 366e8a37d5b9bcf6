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

// The parsed document as simdjson lays it out: one 64-bit word per value (two for a number), the
// type in the top byte. A container's word points past its end, a string's into the string buffer
// (a 32-bit length, then the bytes). Walking it directly costs a fraction of the element API.
class Tape {
public:
    explicit Tape(const simdjson::dom::document& doc) : m_words(doc.tape.get()), m_strings(doc.string_buf.get()) {}

    static constexpr size_t root = 1; // word 0 frames the document

    char type(size_t i) const { return static_cast<char>(m_words[i] >> 56); }

    // The word just past the value at i.
    size_t after(size_t i) const {
        switch (type(i)) {
        case '{':
        case '[':
            return static_cast<uint32_t>(m_words[i]);
        case 'l':
        case 'u':
        case 'd':
            return i + 2;
        default:
            return i + 1;
        }
    }

    std::string_view string(size_t i) const {
        const uint8_t* at = m_strings + (m_words[i] & 0x00FFFFFFFFFFFFFFull);
        uint32_t length;
        std::memcpy(&length, at, sizeof length);
        return {reinterpret_cast<const char*>(at + sizeof length), length};
    }

    QString text(size_t i) const { return textOf(string(i)); }

    // The value of the object's member when it has the type asked for, else 0. The last of
    // duplicate keys wins, as in the full reader. (The key's length is known when compiling, so
    // the comparison is a few instructions.)
    template <size_t N>
    size_t member(size_t object, const char (&key)[N], char wanted) const {
        if (object == 0 || type(object) != '{')
            return 0;
        size_t found = 0;
        const size_t end = after(object) - 1; // the closing word
        for (size_t k = object + 1; k < end;) {
            const size_t value = k + 1;
            if (sameKey(string(k), key))
                found = value;
            k = after(value);
        }
        return found != 0 && type(found) == wanted ? found : 0;
    }

    // Calls f for each element of the array at i; stops early when f returns false.
    template <typename F>
    bool eachElement(size_t array, F&& f) const {
        const size_t end = after(array) - 1;
        for (size_t e = array + 1; e < end; e = after(e)) {
            if (!f(e))
                return false;
        }
        return true;
    }

    // The first element of an array whose every element is an object, else 0.
    size_t firstOfObjects(size_t array) const {
        if (array == 0)
            return 0;
        size_t first = 0;
        const bool allObjects = eachElement(array, [&](size_t e) {
            if (first == 0)
                first = e;
            return type(e) == '{';
        });
        return allObjects ? first : 0;
    }

    // Whether every number is one the full reader takes the same way. The full reader refuses a
    // number that rounds to zero or to a subnormal from non-zero digits, which simdjson takes; a
    // zero written as a decimal ("0.0") cannot be told apart here and is left to it too.
    bool numbersAgree() const {
        const size_t end = static_cast<uint32_t>(m_words[0]) - 1;
        // Most events hold no decimal number at all: a pass without branches finds no word that
        // could be one (a number's value word may look like one; the walk below then decides).
        bool maybeDouble = false;
        for (size_t i = root; i < end; ++i)
            maybeDouble |= (m_words[i] >> 56) == 'd';
        if (!maybeDouble)
            return true;
        bool agree = true;
        for (size_t i = root; i < end;) {
            const char t = type(i);
            const bool isDouble = t == 'd';
            double d;
            std::memcpy(&d, &m_words[i + 1], sizeof d); // the closing word is always there to read
            agree &= !isDouble || std::isnormal(d);
            i += 1 + static_cast<size_t>(isDouble | (t == 'l') | (t == 'u'));
        }
        return agree;
    }

private:
    const uint64_t* m_words;
    const uint8_t* m_strings;
};

template <size_t N>
std::optional<QString> stringMember(const Tape& t, size_t object, const char (&key)[N]) {
    const size_t value = t.member(object, key, '"');
    return value ? std::optional<QString>(t.text(value)) : std::nullopt;
}

std::optional<QString> openAIText(const Tape& t) {
    const size_t choice = t.firstOfObjects(t.member(Tape::root, "choices", '['));
    if (choice == 0)
        return std::nullopt;
    if (const size_t delta = t.member(choice, "delta", '{')) {
        if (std::optional<QString> text = stringMember(t, delta, "content"))
            return text;
    }
    if (const size_t message = t.member(choice, "message", '{'))
        return stringMember(t, message, "content");
    return std::nullopt;
}

std::optional<QString> anthropicText(const Tape& t) {
    const size_t type = t.member(Tape::root, "type", '"');
    if (type == 0 || t.string(type) != "content_block_delta")
        return std::nullopt;
    return stringMember(t, t.member(Tape::root, "delta", '{'), "text");
}

std::optional<QString> geminiText(const Tape& t) {
    const size_t candidate = t.firstOfObjects(t.member(Tape::root, "candidates", '['));
    const size_t content = t.member(candidate, "content", '{');
    const size_t parts = t.member(content, "parts", '[');
    if (parts == 0 || !t.eachElement(parts, [&](size_t part) { return t.type(part) == '{'; }))
        return std::nullopt;
    // Nearly always one part: its text is the answer as it stands.
    size_t only = 0;
    int count = 0;
    t.eachElement(parts, [&](size_t part) {
        if (const size_t text = t.member(part, "text", '"')) {
            only = text;
            ++count;
        }
        return true;
    });
    if (count <= 1)
        return only ? t.text(only) : QString();
    QString joined;
    t.eachElement(parts, [&](size_t part) {
        if (const size_t text = t.member(part, "text", '"'))
            joined += t.text(text);
        return true;
    });
    return joined;
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

    simdjson::dom::element root;
    if (parser.parse(reader.padded.data(), blocks, false).get(root) != simdjson::SUCCESS)
        return std::nullopt; // undecided
    const Tape tape(parser.doc);
    const char top = tape.type(Tape::root);
    if (top == '[')
        return std::optional<QString>(); // an array on top holds no text for either reader
    if (top != '{' || !tape.numbersAgree())
        return std::nullopt;
    switch (format.value()) {
    case APIFormat::OpenAI:
        return openAIText(tape);
    case APIFormat::Anthropic:
        return anthropicText(tape);
    case APIFormat::Gemini:
        return geminiText(tape);
    }
    return std::nullopt;
}

} // namespace corvane::llm::fastjson
