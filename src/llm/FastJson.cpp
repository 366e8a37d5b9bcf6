#include "llm/FastJson.h"
#include <cctype>
#include <cstring>
#include <vector>

namespace corvane::llm::fastjson {

namespace {

struct Node {
    enum class Type : quint8 { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool escaped = false;    // string value holds escapes
    bool keyEscaped = false; // member key holds escapes
    int begin = 0, end = 0;  // string contents (without quotes)
    int keyBegin = 0, keyEnd = 0;
    int firstChild = -1, lastChild = -1, next = -1;
    int count = 0;
};

constexpr int kMaxDepth = 64;

class Reader {
public:
    Reader(QByteArrayView text, std::vector<Node>& nodes) : s(text.data()), n(text.size()), nodes(nodes) {}

    // Index of the root, or -1 when the text is not strictly valid JSON with an object or array on top.
    int readDocument() {
        skipBlanks();
        if (pos >= n || (s[pos] != '{' && s[pos] != '['))
            return -1;
        const int root = readValue(0);
        skipBlanks();
        return root >= 0 && pos == n ? root : -1;
    }

    const char* s;
    qsizetype n;
    qsizetype pos = 0;
    std::vector<Node>& nodes;

private:
    void skipBlanks() {
        while (pos < n && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r'))
            ++pos;
    }

    bool literal(const char* word) {
        const size_t len = std::strlen(word);
        if (n - pos < static_cast<qsizetype>(len) || std::memcmp(s + pos, word, len) != 0)
            return false;
        pos += static_cast<qsizetype>(len);
        return true;
    }

    // Strict string: no raw control characters, only the standard escapes, valid UTF-8.
    bool readString(int& begin, int& end, bool& escaped) {
        ++pos; // opening quote
        begin = static_cast<int>(pos);
        escaped = false;
        bool ascii = true;
        while (pos < n) {
            const auto c = static_cast<unsigned char>(s[pos]);
            if (c == '"') {
                end = static_cast<int>(pos++);
                return ascii || QByteArrayView(s + begin, end - begin).isValidUtf8();
            }
            if (c < 0x20)
                return false;
            if (c >= 0x80)
                ascii = false;
            if (c == '\\') {
                escaped = true;
                if (++pos >= n)
                    return false;
                const char e = s[pos];
                if (e == 'u') {
                    for (int i = 1; i <= 4; ++i) {
                        if (pos + i >= n || !std::isxdigit(static_cast<unsigned char>(s[pos + i])))
                            return false;
                    }
                    pos += 4;
                } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
                    return false;
                }
            }
            ++pos;
        }
        return false;
    }

    // Strict number; exponents are left to the full reader (it refuses values out of range).
    bool readNumber() {
        if (s[pos] == '-')
            ++pos;
        if (pos >= n || !std::isdigit(static_cast<unsigned char>(s[pos])))
            return false;
        if (s[pos] == '0')
            ++pos;
        else
            while (pos < n && std::isdigit(static_cast<unsigned char>(s[pos])))
                ++pos;
        if (pos < n && s[pos] == '.') {
            ++pos;
            if (pos >= n || !std::isdigit(static_cast<unsigned char>(s[pos])))
                return false;
            while (pos < n && std::isdigit(static_cast<unsigned char>(s[pos])))
                ++pos;
        }
        return !(pos < n && (s[pos] == 'e' || s[pos] == 'E'));
    }

    int add(Node node) {
        nodes.push_back(node);
        return static_cast<int>(nodes.size() - 1);
    }

    void append(int parent, int child) {
        Node& p = nodes[parent];
        if (p.lastChild >= 0)
            nodes[p.lastChild].next = child;
        else
            p.firstChild = child;
        p.lastChild = child;
        ++p.count;
    }

    int readValue(int depth) {
        if (depth > kMaxDepth || pos >= n)
            return -1;
        Node node;
        switch (s[pos]) {
        case '{':
        case '[':
            return readContainer(depth);
        case '"':
            node.type = Node::Type::String;
            if (!readString(node.begin, node.end, node.escaped))
                return -1;
            return add(node);
        case 't':
            node.type = Node::Type::Bool;
            return literal("true") ? add(node) : -1;
        case 'f':
            node.type = Node::Type::Bool;
            return literal("false") ? add(node) : -1;
        case 'n':
            return literal("null") ? add(node) : -1;
        default:
            node.type = Node::Type::Number;
            return readNumber() ? add(node) : -1;
        }
    }

    int readContainer(int depth) {
        const bool isObject = s[pos] == '{';
        Node container;
        container.type = isObject ? Node::Type::Object : Node::Type::Array;
        const int self = add(container);
        ++pos;
        skipBlanks();
        const char close = isObject ? '}' : ']';
        if (pos < n && s[pos] == close) {
            ++pos;
            return self;
        }
        while (true) {
            int keyBegin = 0, keyEnd = 0;
            bool keyEscaped = false;
            if (isObject) {
                if (pos >= n || s[pos] != '"' || !readString(keyBegin, keyEnd, keyEscaped))
                    return -1;
                skipBlanks();
                if (pos >= n || s[pos] != ':')
                    return -1;
                ++pos;
                skipBlanks();
            }
            const int child = readValue(depth + 1);
            if (child < 0)
                return -1;
            nodes[child].keyBegin = keyBegin;
            nodes[child].keyEnd = keyEnd;
            nodes[child].keyEscaped = keyEscaped;
            append(self, child);
            skipBlanks();
            if (pos >= n)
                return -1;
            if (s[pos] == ',') {
                ++pos;
                skipBlanks();
                continue;
            }
            if (s[pos] != close)
                return -1;
            ++pos;
            return self;
        }
    }
};

// Decodes a strictly valid string's contents the way the full reader does (\u as UTF-16 units).
QString decode(const char* s, int begin, int end, bool escaped) {
    if (!escaped)
        return QString::fromUtf8(s + begin, end - begin);
    QString out;
    out.reserve(end - begin);
    int run = begin;
    for (int i = begin; i < end; ++i) {
        if (s[i] != '\\')
            continue;
        out += QString::fromUtf8(s + run, i - run);
        const char e = s[++i];
        switch (e) {
        case 'b': out += QChar(u'\b'); break;
        case 'f': out += QChar(u'\f'); break;
        case 'n': out += QChar(u'\n'); break;
        case 'r': out += QChar(u'\r'); break;
        case 't': out += QChar(u'\t'); break;
        case 'u':
            out += QChar(static_cast<char16_t>(QByteArrayView(s + i + 1, 4).toUShort(nullptr, 16)));
            i += 4;
            break;
        default: out += QLatin1Char(e); break;
        }
        run = i + 1;
    }
    out += QString::fromUtf8(s + run, end - run);
    return out;
}

struct Doc {
    const char* s;
    const std::vector<Node>& nodes;

    const Node& at(int i) const { return nodes[static_cast<size_t>(i)]; }

    bool keyIs(const Node& node, const char* key) const {
        const size_t len = std::strlen(key);
        if (!node.keyEscaped)
            return static_cast<size_t>(node.keyEnd - node.keyBegin) == len && std::memcmp(s + node.keyBegin, key, len) == 0;
        return decode(s, node.keyBegin, node.keyEnd, true) == QLatin1String(key);
    }

    // The member's node when it has the type asked for; the last of duplicate keys wins.
    int member(int object, const char* key, Node::Type type) const {
        int found = -1;
        for (int c = at(object).firstChild; c >= 0; c = at(c).next) {
            if (keyIs(at(c), key))
                found = c;
        }
        return found >= 0 && at(found).type == type ? found : -1;
    }

    // The first element of an array whose every element is an object.
    int firstOfObjects(int array) const {
        if (array < 0 || at(array).count == 0)
            return -1;
        for (int c = at(array).firstChild; c >= 0; c = at(c).next) {
            if (at(c).type != Node::Type::Object)
                return -1;
        }
        return at(array).firstChild;
    }

    std::optional<QString> string(int node) const {
        if (node < 0)
            return std::nullopt;
        return decode(s, at(node).begin, at(node).end, at(node).escaped);
    }
};

std::optional<QString> openAIText(const Doc& d, int root) {
    const int choice = d.firstOfObjects(d.member(root, "choices", Node::Type::Array));
    if (choice < 0)
        return std::nullopt;
    for (const char* holder : {"delta", "message"}) {
        const int part = d.member(choice, holder, Node::Type::Object);
        if (part >= 0) {
            if (std::optional<QString> text = d.string(d.member(part, "content", Node::Type::String)))
                return text;
        }
    }
    return std::nullopt;
}

std::optional<QString> anthropicText(const Doc& d, int root) {
    const std::optional<QString> type = d.string(d.member(root, "type", Node::Type::String));
    if (type != QLatin1String("content_block_delta"))
        return std::nullopt;
    const int delta = d.member(root, "delta", Node::Type::Object);
    return delta < 0 ? std::nullopt : d.string(d.member(delta, "text", Node::Type::String));
}

std::optional<QString> geminiText(const Doc& d, int root) {
    const int candidate = d.firstOfObjects(d.member(root, "candidates", Node::Type::Array));
    if (candidate < 0)
        return std::nullopt;
    const int content = d.member(candidate, "content", Node::Type::Object);
    if (content < 0)
        return std::nullopt;
    const int parts = d.member(content, "parts", Node::Type::Array);
    if (parts < 0)
        return std::nullopt;
    for (int c = d.at(parts).firstChild; c >= 0; c = d.at(c).next) {
        if (d.at(c).type != Node::Type::Object)
            return std::nullopt;
    }
    QString text;
    for (int c = d.at(parts).firstChild; c >= 0; c = d.at(c).next) {
        if (std::optional<QString> piece = d.string(d.member(c, "text", Node::Type::String)))
            text += *piece;
    }
    return text;
}

} // namespace

std::optional<std::optional<QString>> eventText(QByteArrayView payload, APIFormat format) {
    thread_local std::vector<Node> nodes;
    nodes.clear();
    Reader reader(payload, nodes);
    const int root = reader.readDocument();
    if (root < 0)
        return std::nullopt; // undecided
    const Doc doc{payload.data(), nodes};
    if (doc.at(root).type != Node::Type::Object)
        return std::optional<QString>(); // an array on top holds no text
    switch (format.value()) {
    case APIFormat::OpenAI:
        return openAIText(doc, root);
    case APIFormat::Anthropic:
        return anthropicText(doc, root);
    case APIFormat::Gemini:
        return geminiText(doc, root);
    }
    return std::nullopt;
}

} // namespace corvane::llm::fastjson
