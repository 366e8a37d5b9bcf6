// Finds the awaits that GCC 12 compiles into a broken coroutine frame (the coroutine crashes when it
// is resumed): a co_await or co_yield inside the condition of an if, while, for or switch, as an
// operand of ?:, && or ||, or awaiting such an expression, wherever the line breaks fall. Such an
// await goes into a named local first ("const bool unlocked = co_await unlock(); if (!unlocked)").
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

// The tokens of the source (group 2 of the lexer); preprocessor lines, comments and literals give none.
std::vector<Token> tokens(const std::string& source) {
    static const std::regex lexer(
        R"re(\n[ \t]*#(?:[^\n\\]|\\[\s\S])*|//[^\n]*|/\*[\s\S]*?(?:\*/|$))re" // directives, comments
        R"re(|\b(?:u8|[uUL])?R"([^(\s]*)\([\s\S]*?(?:\)\1"|$)|"(?:\\.|[^"\\\n])*"?|'(?:\\.|[^'\\\n])*'?)re" // literals
        R"re(|(\d\w*(?:'\w+)*|\w+|<=>|->\*|\.\.\.|<<=|>>=|::|->|&&|\|\||[-+*/%&|^=!<>]=|<<|>>|\+\+|--|\S))re");
    const std::string text = "\n" + source; // a directive may open the file
    std::vector<Token> out;
    int line = 0;
    auto from = text.begin();
    for (std::sregex_iterator m(text.begin(), text.end(), lexer), end; m != end; ++m) {
        line += int(std::count(from, (*m)[0].first, '\n'));
        if ((*m)[2].matched)
            out.push_back({m->str(2), line});
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

// Each await found: its line and what is wrong with it.
std::vector<std::pair<int, std::string>> check(const std::string& source) {
    const std::vector<Token> t = tokens(source);
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
    // statements of their own. A body may follow a trailing return type ("-> Task<bool> {").
    const auto opensBody = [&](int brace) {
        if (brace == 0 || in(t[brace - 1].text, {")", "]", ";", "{", "}", "else", "do", "try", "mutable", "noexcept",
                                                 "const", "override", "final"}))
            return true;
        int k = brace - 1;
        while (k > 0 && (isWord(t[k].text) || in(t[k].text, {"::", "<", ">", ">>", ",", "*", "&", "&&", "const"})))
            --k;
        return t[k].text == "->";
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
    std::vector<std::pair<int, std::string>> found;
    for (int i = 0; i < n; ++i) {
        if (!in(t[i].text, {"co_await", "co_yield"}))
            continue;
        std::string what;
        for (int p = parent[i]; p >= 0 && what.empty() && !(t[p].text == "{" && opensBody(p)); p = parent[p]) {
            const int k = p > 0 && t[p - 1].text == "constexpr" ? p - 2 : p - 1;
            if (t[p].text == "(" && k >= 0 && in(t[k].text, {"if", "while", "for", "switch"}))
                what = "in the condition of " + t[k].text;
        }
        for (const std::string& op : {logical(i - 1, -1, true), logical(i + 1, 1, true)})
            if (what.empty() && !op.empty())
                what = "an operand of " + op;
        if (const std::string op = i + 1 < n && t[i + 1].text == "(" ? logical(i + 2, 1, false) : "";
            what.empty() && !op.empty())
            what = "awaiting a " + op + " expression";
        if (!what.empty())
            found.push_back({t[i].line, t[i].text + " " + what});
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
    size_t marked = 0;
    int wrong = 0;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
            return 2;
        }
        const std::string source{std::istreambuf_iterator<char>(in), {}};
        std::set<int> expected; // planted: the lines marked "// caught"
        std::istringstream lines(planted ? source : std::string());
        int number = 0;
        for (std::string line; std::getline(lines, line);)
            if (++number, line.find("// caught") != std::string::npos)
                expected.insert(number);
        marked += expected.size();
        std::set<int> reported;
        if (source.find("co_") != std::string::npos) // a file without awaits spares the lexer
            for (const auto& [line, what] : check(source))
                if (reported.insert(line), !expected.count(line) && ++wrong)
                    std::printf("%s:%d: %s: await into a named local first (GCC 12 breaks the coroutine frame)\n",
                                file.c_str(), line, what.c_str());
        for (int line : expected)
            if (!reported.count(line) && ++wrong)
                std::printf("%s:%d: not caught\n", file.c_str(), line);
    }
    std::printf(planted ? "%zu planted awaits, %d differences\n" : "%zu files read, %d awaits in conditions\n",
                planted ? marked : files.size(), wrong);
    return wrong == 0 && (marked > 0 || !planted) ? 0 : 1;
}
