// Finds the awaits that GCC 12 compiles into a broken coroutine frame (the coroutine crashes when it
// is resumed): a co_await or co_yield inside the condition of an if, while, for or switch, as an
// operand of ?:, && or ||, or awaiting such an expression, wherever the line breaks fall. Such an
// await goes into a named local first:
//     const bool unlocked = co_await unlock();
//     if (!unlocked) ...
//
//   awaits_outside_conditions <file or folder>...   reports each one; fails when there is any
//   awaits_outside_conditions --planted <file>      the file marks with "// caught" each line that must
//                                                    be reported; fails on any difference
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The source with comments, string and character literals and preprocessor lines turned into
// blanks; line breaks stay where they were.
std::string codeOnly(const std::string& src) {
    std::string out = src;
    const auto blank = [&](size_t from, size_t to) {
        for (size_t k = from; k < to && k < out.size(); ++k)
            if (out[k] != '\n')
                out[k] = ' ';
    };
    bool lineStart = true;
    size_t i = 0;
    while (i < src.size()) {
        const char c = src[i];
        if (lineStart && c == '#') { // a directive, with its continued lines
            size_t end = i;
            while (end < src.size() && (src[end] != '\n' || (end > 0 && src[end - 1] == '\\')))
                ++end;
            blank(i, end);
            i = end;
            continue;
        }
        if (c == '\n' || !std::isspace(static_cast<unsigned char>(c)))
            lineStart = c == '\n';
        if (src.compare(i, 2, "//") == 0) {
            const size_t end = src.find('\n', i);
            blank(i, end == std::string::npos ? src.size() : end);
            i = end == std::string::npos ? src.size() : end;
        } else if (src.compare(i, 2, "/*") == 0) {
            const size_t end = src.find("*/", i + 2);
            const size_t stop = end == std::string::npos ? src.size() : end + 2;
            blank(i, stop);
            i = stop;
        } else if (c == '"' && i > 0 && src[i - 1] == 'R' && (i < 2 || !isWordChar(src[i - 2]) ||
                                                              src[i - 2] == '8' || src[i - 2] == 'u' ||
                                                              src[i - 2] == 'U' || src[i - 2] == 'L')) {
            const size_t open = src.find('(', i);
            const std::string close = ")" + src.substr(i + 1, open - i - 1) + "\"";
            const size_t end = open == std::string::npos ? std::string::npos : src.find(close, open);
            const size_t stop = end == std::string::npos ? src.size() : end + close.size();
            blank(i, stop);
            i = stop;
        } else if (c == '"' || (c == '\'' && !(i > 0 && std::isxdigit(static_cast<unsigned char>(src[i - 1]))))) {
            size_t k = i + 1; // a digit separator (1'000) is no character literal
            while (k < src.size() && src[k] != c && src[k] != '\n')
                k += src[k] == '\\' ? 2 : 1;
            blank(i, k + 1);
            i = k + 1;
        } else {
            ++i;
        }
    }
    return out;
}

struct Token {
    std::string text;
    int line;
};

std::vector<Token> tokens(const std::string& code) {
    static const char* const punctuators[] = {"<=>", "->*", "...", "<<=", ">>=", "::", "->", "&&", "||", "==", "!=",
                                              "<=",  ">=",  "+=",  "-=",  "*=",  "/=", "%=", "&=", "|=", "^=", "<<",
                                              ">>",  "++",  "--"};
    std::vector<Token> out;
    int line = 1;
    for (size_t i = 0; i < code.size();) {
        const char c = code[i];
        if (c == '\n')
            ++line;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        size_t n = 1;
        if (isWordChar(c)) {
            while (i + n < code.size() && isWordChar(code[i + n]))
                ++n;
        } else {
            for (const char* p : punctuators)
                if (code.compare(i, std::char_traits<char>::length(p), p) == 0) {
                    n = std::char_traits<char>::length(p);
                    break;
                }
        }
        out.push_back({code.substr(i, n), line});
        i += n;
    }
    return out;
}

bool isOpen(const std::string& t) { return t == "(" || t == "[" || t == "{"; }
bool isClose(const std::string& t) { return t == ")" || t == "]" || t == "}"; }
bool isLogical(const std::string& t) { return t == "&&" || t == "||" || t == "?" || t == "and" || t == "or"; }
bool endsOperand(const std::string& t) {
    static const std::set<std::string> ends = {";", ",", "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="};
    return ends.count(t) > 0;
}

struct Finding {
    int line;
    std::string what;
};

std::vector<Finding> check(const std::string& source) {
    const std::vector<Token> t = tokens(codeOnly(source));
    const int n = int(t.size());
    std::vector<int> match(n, -1), parent(n, -1);
    std::vector<int> open;
    for (int i = 0; i < n; ++i) {
        parent[i] = open.empty() ? -1 : open.back();
        if (isOpen(t[i].text)) {
            open.push_back(i);
        } else if (isClose(t[i].text) && !open.empty()) {
            match[i] = open.back();
            match[open.back()] = i;
            open.pop_back();
            parent[i] = open.empty() ? -1 : open.back();
        }
    }
    // A brace that opens a block or a lambda's body, not a braced initializer: awaits inside it are
    // statements of their own. A body may follow a trailing return type ("-> Task<bool> {").
    const auto opensBody = [&](int brace) {
        static const std::set<std::string> before = {")", "]", ";", "{", "}", "else", "do", "try",
                                                     "mutable", "noexcept", "const", "override", "final"};
        static const std::set<std::string> inType = {"::", "<", ">", ">>", ",", "*", "&", "&&", "const"};
        if (brace == 0 || before.count(t[brace - 1].text) > 0)
            return true;
        int k = brace - 1;
        while (k > 0 && (isWordChar(t[k].text[0]) || inType.count(t[k].text) > 0))
            --k;
        return t[k].text == "->";
    };
    std::vector<Finding> found;
    for (int i = 0; i < n; ++i) {
        if (t[i].text != "co_await" && t[i].text != "co_yield")
            continue;
        std::string what;
        for (int p = parent[i]; p >= 0 && what.empty() && !(t[p].text == "{" && opensBody(p)); p = parent[p]) {
            int k = p - 1;
            if (k >= 0 && t[k].text == "constexpr")
                --k;
            if (t[p].text == "(" && k >= 0 &&
                (t[k].text == "if" || t[k].text == "while" || t[k].text == "for" || t[k].text == "switch"))
                what = "in the condition of " + t[k].text;
        }
        for (int j = i - 1; what.empty() && j >= 0 && !isOpen(t[j].text) && !endsOperand(t[j].text) &&
                            t[j].text != "{" && t[j].text != "}";
             j = isClose(t[j].text) && match[j] >= 0 ? match[j] - 1 : j - 1) {
            if (isLogical(t[j].text))
                what = "an operand of " + t[j].text;
        }
        for (int j = i + 1; what.empty() && j < n && !isClose(t[j].text) && !endsOperand(t[j].text);
             j = isOpen(t[j].text) && match[j] >= 0 ? match[j] + 1 : j + 1) {
            if (isLogical(t[j].text))
                what = "an operand of " + t[j].text;
        }
        if (what.empty() && i + 1 < n && t[i + 1].text == "(" && match[i + 1] > 0) {
            for (int j = i + 2; what.empty() && j < match[i + 1]; j = isOpen(t[j].text) && match[j] > 0 ? match[j] + 1 : j + 1)
                if (isLogical(t[j].text))
                    what = "awaiting a " + t[j].text + " expression";
        }
        if (!what.empty())
            found.push_back({t[i].line, t[i].text + " " + what});
    }
    return found;
}

bool readFile(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Every line marked "// caught" is reported, and no other.
int checkPlanted(const fs::path& path) {
    std::string source;
    if (!readFile(path, source)) {
        std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
        return 2;
    }
    std::set<int> expected, reported;
    std::istringstream lines(source);
    int number = 0;
    for (std::string line; std::getline(lines, line);)
        if (++number, line.find("// caught") != std::string::npos)
            expected.insert(number);
    for (const Finding& f : check(source))
        reported.insert(f.line);
    int wrong = 0;
    for (int line : expected)
        if (!reported.count(line) && ++wrong)
            std::printf("%s:%d: not caught\n", path.c_str(), line);
    for (int line : reported)
        if (!expected.count(line) && ++wrong)
            std::printf("%s:%d: caught, but it is sound\n", path.c_str(), line);
    std::printf("%zu planted awaits caught, %d differences\n", expected.size(), wrong);
    return wrong == 0 && !expected.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--planted")
        return checkPlanted(argv[2]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <file or folder>... | --planted <file>\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int a = 1; a < argc; ++a) {
        const fs::path root(argv[a]);
        if (!fs::is_directory(root)) {
            files.push_back(root);
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".hpp" || ext == ".cc"))
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    int count = 0;
    for (const fs::path& file : files) {
        std::string source;
        if (!readFile(file, source)) {
            std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
            return 2;
        }
        for (const Finding& f : check(source)) {
            std::printf("%s:%d: %s: await into a named local first (GCC 12 breaks the coroutine frame)\n",
                        file.c_str(), f.line, f.what.c_str());
            ++count;
        }
    }
    std::printf("%zu files read, %d awaits in conditions\n", files.size(), count);
    return count == 0 ? 0 : 1;
}
