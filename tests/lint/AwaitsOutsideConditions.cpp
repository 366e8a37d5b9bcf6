// Finds the awaits that GCC 12 compiles into a broken coroutine frame (the coroutine crashes when it
// is resumed): a co_await or co_yield inside the condition of an if, while, for or switch, as an
// operand of ?:, && or ||, or awaiting such an expression, wherever the line breaks fall. Such an
// await goes into a named local first ("const bool unlocked = co_await unlock(); if (!unlocked)").
// Macros hide both: a #define holding co_await, co_yield or co_return is refused (write it out where
// it is used), and an await passed to a macro whose body branches counts as in a condition. Only
// the macros defined in the files read are known.
//   awaits_outside_conditions <file or folder>...   reports each one; fails when there is any
//   awaits_outside_conditions --planted <file>      the file marks with "// caught" each line that must
//                                                    be reported; fails on any difference (or no mark)
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Token {
    std::string text;
    int line;
};

struct Lexed {
    std::vector<Token> tokens;     // group 2 of the lexer: comments and literals give none
    std::vector<Token> directives; // each preprocessor line from its "#", continued lines included
};

// A backslash-newline continues a directive, a line comment or a literal.
Lexed lex(const std::string& source) {
    static const std::regex lexer(
        R"re(\n[ \t]*#(?:[^\n\\]|\\[\s\S])*|//(?:[^\n\\]|\\[\s\S])*|/\*[\s\S]*?(?:\*/|$))re" // directives, comments
        R"re(|\b(?:u8|[uUL])?R"([^(\s]*)\([\s\S]*?(?:\)\1"|$)|"(?:\\[\s\S]|[^"\\\n])*"?|'(?:\\[\s\S]|[^'\\\n])*'?)re" // literals
        R"re(|(\d\w*(?:'\w+)*|\w+|<=>|->\*|\.\.\.|<<=|>>=|::|->|&&|\|\||[-+*/%&|^=!<>]=|<<|>>|\+\+|--|\S))re");
    const std::string text = "\n" + source; // a directive may open the file
    Lexed out;
    int line = 0;
    auto from = text.begin();
    for (std::sregex_iterator m(text.begin(), text.end(), lexer), end; m != end; ++m) {
        line += int(std::count(from, (*m)[0].first, '\n'));
        if ((*m)[2].matched)
            out.tokens.push_back({m->str(2), line});
        else if (*(*m)[0].first == '\n')
            out.directives.push_back({m->str(0).substr(m->str(0).find('#') + 1), line + 1});
        line += int(std::count((*m)[0].first, (*m)[0].second, '\n'));
        from = (*m)[0].second;
    }
    return out;
}

bool in(const std::string& t, std::initializer_list<std::string_view> set) {
    return std::find(set.begin(), set.end(), t) != set.end();
}
bool isOpen(const std::string& t) { return in(t, {"(", "[", "{"}); }
bool isClose(const std::string& t) { return in(t, {")", "]", "}"}); }
bool isWord(const std::string& t) { return std::isalnum(static_cast<unsigned char>(t[0])) || t[0] == '_'; }
bool endsOperand(const std::string& t) {
    return in(t, {";", ",", "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="});
}

// A #define: the macro's name and the tokens after it (parameters and body), lines counted in the file.
struct Define {
    std::string name;
    std::vector<Token> body;
};

std::optional<Define> defineOf(const Token& directive) {
    std::vector<Token> t = lex(directive.text).tokens;
    if (t.size() < 2 || t[0].text != "define")
        return std::nullopt;
    for (Token& token : t)
        token.line += directive.line - 1;
    return Define{t[1].text, std::vector<Token>(t.begin() + 2, t.end())};
}

// The macros of the files read whose body awaits (each use is an await) or branches (an await
// passed to one may decide the branch).
struct Macros {
    std::set<std::string> awaiting, branching;
    void learn(const Lexed& source) {
        for (const Token& directive : source.directives)
            if (const auto define = defineOf(directive))
                for (const Token& t : define->body) {
                    if (in(t.text, {"co_await", "co_yield"}))
                        awaiting.insert(define->name);
                    if (in(t.text, {"if", "while", "for", "switch", "?", "&&", "||", "and", "or"}))
                        branching.insert(define->name);
                }
    }
};

// Each fault found: its line and what is wrong.
std::vector<std::pair<int, std::string>> check(const Lexed& source, const Macros& macros) {
    std::vector<std::pair<int, std::string>> found;
    for (const Token& directive : source.directives)
        if (const auto define = defineOf(directive))
            for (const Token& t : define->body)
                if (in(t.text, {"co_await", "co_yield", "co_return"}))
                    found.push_back({t.line, t.text + " in the macro " + define->name +
                                                 ": write it out where the macro is used, where this check sees it"});
    const std::vector<Token>& t = source.tokens;
    const int n = int(t.size());
    std::vector<int> match(n, -1), parent(n, -1), open;
    for (int i = 0; i < n; ++i) {
        if (isClose(t[i].text) && !open.empty()) {
            match[i] = open.back();
            match[open.back()] = i;
            open.pop_back();
        }
        parent[i] = open.empty() ? -1 : open.back();
        if (isOpen(t[i].text))
            open.push_back(i);
    }
    // A brace that opens a block or a lambda's body, not a braced initializer: awaits inside it are
    // statements of their own. A body may follow a trailing return type ("-> Task<bool> {"), whose
    // commas stand between angle brackets and whose *, & and && end a type ("p->busy && Wait{" is
    // no return type).
    const auto opensBody = [&](int brace) {
        if (brace == 0 || in(t[brace - 1].text, {")", "]", ";", "{", "}", ":", "else", "do", "try", "mutable",
                                                 "noexcept", "const", "override", "final"}))
            return true;
        int k = brace - 1, angles = 0;
        for (; k > 0; --k) {
            const std::string& s = t[k].text;
            if (s == ">" || s == ">>")
                angles += int(s.size());
            else if (s == "<" && angles > 0)
                --angles;
            else if (in(s, {"*", "&", "&&"}) ? isWord(t[k + 1].text) && !in(t[k + 1].text, {"const", "volatile"})
                                              : !isWord(s) && s != "::" && !(s == "," && angles > 0))
                break;
        }
        return t[k].text == "->" && angles == 0;
    };
    // The first &&, ||, ?, and, or met from j on, stepping over bracketed groups, before the operand
    // ends (or, when endsCount is false, before the bracket around it closes).
    const auto logical = [&](int j, int step, bool endsCount) -> std::string {
        for (; j >= 0 && j < n; j += step) {
            const std::string& s = t[j].text;
            if ((step > 0 ? isClose(s) : isOpen(s) || s == "}") || (endsCount && endsOperand(s)))
                return "";
            if (in(s, {"&&", "||", "?", "and", "or"}))
                return s;
            if ((step > 0 ? isOpen(s) : isClose(s)) && match[j] >= 0)
                j = match[j];
        }
        return "";
    };
    for (int i = 0; i < n; ++i) {
        const bool hidden = macros.awaiting.count(t[i].text) > 0;
        if (!hidden && !in(t[i].text, {"co_await", "co_yield"}))
            continue;
        std::string what;
        // Up through the brackets around the await, to the statement: a condition, or a bracketed
        // group (a call's arguments, a braced value) that is itself an operand.
        for (int p = parent[i]; p >= 0 && what.empty() && !(t[p].text == "{" && opensBody(p)); p = parent[p]) {
            const int k = p > 0 && t[p - 1].text == "constexpr" ? p - 2 : p - 1;
            const std::string before = k >= 0 ? t[k].text : "";
            const std::string after = match[p] >= 0 ? logical(match[p] + 1, 1, true) : "";
            if (t[p].text == "(" && in(before, {"if", "while", "for", "switch"}))
                what = "in the condition of " + before;
            else if (t[p].text == "(" && macros.branching.count(before))
                what = "passed to the macro " + before + ", which branches";
            else if (const std::string op = logical(p - 1, -1, true); !op.empty() || !after.empty())
                what = "inside an operand of " + (op.empty() ? after : op);
        }
        for (const std::string& op : {logical(i - 1, -1, true), logical(i + 1, 1, true)})
            if (what.empty() && !op.empty())
                what = "an operand of " + op;
        if (const std::string op = i + 1 < n && t[i + 1].text == "(" ? logical(i + 2, 1, false) : "";
            what.empty() && !op.empty())
            what = "awaiting a " + op + " expression";
        if (!what.empty())
            found.push_back({t[i].line, (hidden ? "co_await hidden in the macro " : "") + t[i].text + " " + what +
                                            ": await into a named local first (GCC 12 breaks the coroutine frame)"});
    }
    return found;
}

} // namespace

int main(int argc, char** argv) {
    const bool planted = argc == 3 && std::string(argv[1]) == "--planted";
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <file or folder>... | --planted <file>\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int a = planted ? 2 : 1; a < argc; ++a) {
        if (!fs::is_directory(argv[a]))
            files.push_back(argv[a]);
        else
            for (const auto& entry : fs::recursive_directory_iterator(argv[a]))
                if (entry.is_regular_file() && in(entry.path().extension().string(), {".cpp", ".h", ".hpp", ".cc"}))
                    files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    // Every file is read before any is checked: a macro may be defined in one and used in another.
    struct Source {
        std::string text;
        std::optional<Lexed> lexed; // files without awaits or definitions spare the lexer
    };
    std::vector<Source> sources;
    Macros macros;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
            return 2;
        }
        Source& source = sources.emplace_back(Source{{std::istreambuf_iterator<char>(in), {}}, std::nullopt});
        if (source.text.find("co_") != std::string::npos || source.text.find("define") != std::string::npos)
            macros.learn(*(source.lexed = lex(source.text)));
    }
    size_t marked = 0;
    int wrong = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        const fs::path& file = files[f];
        Source& source = sources[f];
        if (!source.lexed && std::any_of(macros.awaiting.begin(), macros.awaiting.end(), [&](const std::string& name) {
                return source.text.find(name) != std::string::npos;
            }))
            source.lexed = lex(source.text);
        std::set<int> expected; // planted: the lines marked "// caught"
        std::istringstream lines(planted ? source.text : std::string());
        int number = 0;
        for (std::string line; std::getline(lines, line);)
            if (++number, line.find("// caught") != std::string::npos)
                expected.insert(number);
        marked += expected.size();
        std::set<int> reported;
        if (source.lexed)
            for (const auto& [line, what] : check(*source.lexed, macros))
                if (reported.insert(line), !expected.count(line) && ++wrong)
                    std::printf("%s:%d: %s\n", file.c_str(), line, what.c_str());
        for (int line : expected)
            if (!reported.count(line) && ++wrong)
                std::printf("%s:%d: not caught\n", file.c_str(), line);
    }
    std::printf(planted ? "%zu planted awaits, %d differences\n" : "%zu files read, %d awaits in conditions or macros\n",
                planted ? marked : files.size(), wrong);
    return wrong == 0 && (marked > 0 || !planted) ? 0 : 1;
}
