#include "llm/FastJson.h"
#include <simdjson.h>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace corvane::llm::fastjson {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

// Typed views of an element whose type was checked (copies: the results they come in are temporaries).
simdjson::dom::array arrayOf(element e) {
    simdjson::dom::array a;
    const simdjson::error_code error = e.get_array().get(a);
    (void)error;
    return a;
}

object objectOf(element e) {
    object o;
    const simdjson::error_code error = e.get_object().get(o);
    (void)error;
    return o;
}

// Deeper documents go to the full reader, which has its own nesting limit.
constexpr size_t kMaxDepth = 64;
constexpr qsizetype kMaxQuickBytes = 64 * 1024;

// Whether every value in the tree is one the full reader takes the same way. The full reader
// refuses a number that rounds to zero or to a subnormal from non-zero digits (simdjson takes it);
// a zero written as a decimal ("0.0") cannot be told apart here and is left to it too.
bool numbersAgree(element e) {
    switch (e.type()) {
    case element_type::DOUBLE: {
        double d = 0;
        return e.get_double().get(d) == simdjson::SUCCESS && std::isnormal(d);
    }
    case element_type::ARRAY:
        for (element child : arrayOf(e)) {
            if (!numbersAgree(child))
                return false;
        }
        return true;
    case element_type::OBJECT:
        for (auto field : objectOf(e)) {
            if (!numbersAgree(field.value))
                return false;
        }
        return true;
    default:
        return true;
    }
}

// The member's value when it has the type asked for; the last of duplicate keys wins, as in the
// full reader.
std::optional<element> member(object o, std::string_view key, element_type type) {
    std::optional<element> found;
    for (auto field : o) {
        if (field.key == key)
            found = field.value;
    }
    if (!found || found->type() != type)
        return std::nullopt;
    return found;
}

QString text(element e) {
    const std::string_view s = e.get_string().value_unsafe();
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::optional<QString> stringMember(object o, std::string_view key) {
    if (const std::optional<element> e = member(o, key, element_type::STRING))
        return text(*e);
    return std::nullopt;
}

// The first element of an array whose every element is an object.
std::optional<object> firstOfObjects(object o, std::string_view key) {
    const std::optional<element> array = member(o, key, element_type::ARRAY);
    if (!array)
        return std::nullopt;
    std::optional<object> first;
    for (element child : arrayOf(*array)) {
        if (child.type() != element_type::OBJECT)
            return std::nullopt;
        if (!first)
            first = objectOf(child);
    }
    return first;
}

std::optional<QString> openAIText(object root) {
    const std::optional<object> choice = firstOfObjects(root, "choices");
    if (!choice)
        return std::nullopt;
    for (std::string_view holder : {std::string_view("delta"), std::string_view("message")}) {
        if (const std::optional<element> part = member(*choice, holder, element_type::OBJECT)) {
            if (std::optional<QString> t = stringMember(objectOf(*part), "content"))
                return t;
        }
    }
    return std::nullopt;
}

std::optional<QString> anthropicText(object root) {
    if (stringMember(root, "type") != QLatin1String("content_block_delta"))
        return std::nullopt;
    const std::optional<element> delta = member(root, "delta", element_type::OBJECT);
    return delta ? stringMember(objectOf(*delta), "text") : std::nullopt;
}

std::optional<QString> geminiText(object root) {
    const std::optional<object> candidate = firstOfObjects(root, "candidates");
    if (!candidate)
        return std::nullopt;
    const std::optional<element> content = member(*candidate, "content", element_type::OBJECT);
    if (!content)
        return std::nullopt;
    const std::optional<element> parts = member(objectOf(*content), "parts", element_type::ARRAY);
    if (!parts)
        return std::nullopt;
    for (element part : arrayOf(*parts)) {
        if (part.type() != element_type::OBJECT)
            return std::nullopt;
    }
    QString joined;
    for (element part : arrayOf(*parts)) {
        if (std::optional<QString> piece = stringMember(objectOf(part), "text"))
            joined += *piece;
    }
    return joined;
}

} // namespace

std::optional<std::optional<QString>> eventText(QByteArrayView payload, APIFormat format) {
    // The reader keeps buffers sized for the largest document it has read: a rare huge event goes
    // to the full reader, whose memory is given back at once.
    if (payload.size() > kMaxQuickBytes)
        return std::nullopt;
    thread_local simdjson::dom::parser parser = [] {
        simdjson::dom::parser p;
        const simdjson::error_code error = p.allocate(static_cast<size_t>(kMaxQuickBytes), kMaxDepth);
        (void)error; // without the room made now, the first parse makes it
        return p;
    }();
    // simdjson reads a little past the end of its input: give it a padded copy.
    thread_local std::vector<char> padded;
    const auto size = static_cast<size_t>(payload.size());
    if (padded.size() < size + simdjson::SIMDJSON_PADDING)
        padded.resize(size + simdjson::SIMDJSON_PADDING);
    if (size > 0)
        std::memcpy(padded.data(), payload.data(), size);
    std::memset(padded.data() + size, 0, simdjson::SIMDJSON_PADDING);

    element root;
    if (parser.parse(padded.data(), size, false).get(root) != simdjson::SUCCESS)
        return std::nullopt; // undecided
    if (root.type() == element_type::ARRAY)
        return std::optional<QString>(); // an array on top holds no text for either reader
    if (root.type() != element_type::OBJECT || !numbersAgree(root))
        return std::nullopt;
    const object o = objectOf(root);
    switch (format.value()) {
    case APIFormat::OpenAI:
        return openAIText(o);
    case APIFormat::Anthropic:
        return anthropicText(o);
    case APIFormat::Gemini:
        return geminiText(o);
    }
    return std::nullopt;
}

} // namespace corvane::llm::fastjson
