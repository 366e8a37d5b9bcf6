#include "llm/ResponseSanitizer.h"
#include "llm/TextUtil.h"
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace corvane::llm {

namespace {

using text::graphemeCount;
using text::trimFully;
using text::trimSpaces;

// The patterns are written with the classic meanings of \b, \s and $ (word boundary, white space,
// end of text or before a final line break). PCRE differs from those in small ways, so they are
// spelled out before compiling:
//  - \b: every \b here follows a letter, so it means "no word character follows", where word
//    characters include combining marks and the zero-width joiners (a mark continues its word);
//  - \s: tab, line feed, form feed, carriage return and Unicode separators;
//  - $: the end of the text, optionally after one final line break of any kind.
QString portable(QString pattern) {
    pattern.replace(QStringLiteral("\\b"),
                    QStringLiteral("(?![\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\x{200C}\\x{200D}])"));
    pattern.replace(QStringLiteral("\\s"), QStringLiteral("[\\t\\n\\f\\r\\p{Z}]"));
    if (pattern.endsWith(QLatin1Char('$'))) {
        pattern.chop(1);
        pattern += QStringLiteral("(?=(?:\\r\\n|[\\n\\r\\x{85}\\x{2028}\\x{2029}])?\\z)");
    }
    return pattern;
}

QRegularExpression compile(const char16_t* pattern, bool caseInsensitive) {
    QRegularExpression::PatternOptions options = QRegularExpression::UseUnicodePropertiesOption;
    if (caseInsensitive)
        options |= QRegularExpression::CaseInsensitiveOption;
    QRegularExpression re(portable(QString::fromUtf16(pattern)), options);
    Q_ASSERT_X(re.isValid(), "ResponseSanitizer", qPrintable(re.errorString()));
    re.optimize();
    return re;
}

struct Patterns {
    QRegularExpression leadingChatter = compile(
        uR"(^(好的|好嘞|好滴|OK|Okay|Sure\b|Certainly\b|Of course\b|Alright\b|Got it\b|当然|明白|收到|已为|已按|已根据|已将|已帮|已优化|已完成|以下是|以下为|这是|调整后|修改后|优化后|润色后|翻译后|精简后|改写后|扩写后|Here('s| is)\b|Below (is|are)\b|The following (is|are)\b|I('ve| have)\b))",
        true);
    QRegularExpression metaHint = compile(
        uR"((优化|调整|修改|润色|翻译|精简|改写|扩写|处理|版本|如下|风格|语气|提示词|结果|文本|内容|要求|optimi[sz]ed?|adjust(ed)?|modifi(ed)?|polish(ed)?|translat(ed)?|shorten(ed)|simplifi(ed)|rewrit(e|ten)|revis(ed)|refin(ed)|version|style|tone|prompt|result|text|content|as follows))",
        true);
    QRegularExpression trailingChatter = compile(
        uR"(^(如需|如有|如果需要|若需|若有|需要我|请随时|随时告诉|请告诉|告诉我|以上是|以上就是|以上为|希望这|希望以上|希望这些|希望对你|注[:：]|备注[:：]|\(完\)|（完）|—+\s*完\s*—+|Hope (this|that|it) helps\b|Let me know if\b|Feel free to\b|If you (have any|need|want|'d like|would like)\b|Should you (have|need|want)\b|Any (other )?questions\b|Don't hesitate\b|Let me know how\b|Note[s]?[:：]|\(end\)|-+\s*end\s*-+))",
        true);
    QRegularExpression divider = compile(uR"(^(-{3,}|\*{3,}|_{3,})$)", false);
};

const Patterns& patterns() {
    static const Patterns p; // thread-safe one-time initialisation
    return p;
}

bool matches(const QRegularExpression& re, const QString& s) { return re.match(s).hasMatch(); }

const QString kFence = QStringLiteral("```");
const QChar kLineFeed = QLatin1Char('\n');

bool isBlank(const QString& line) { return trimSpaces(line).isEmpty(); }

// The first line feed that is a character of its own (the line feed of a CR LF pair is not).
qsizetype firstLoneLineFeed(const QString& t) {
    for (qsizetype i = t.indexOf(kLineFeed); i != -1; i = t.indexOf(kLineFeed, i + 1)) {
        if (i == 0 || t[i - 1] != QLatin1Char('\r'))
            return i;
    }
    return -1;
}

bool endsWithAny(const QString& s, std::initializer_list<const char16_t*> suffixes) {
    for (const char16_t* suffix : suffixes) {
        if (text::endsWithCharacter(s, QStringView(suffix)))
            return true;
    }
    return false;
}

bool isStop(QChar c) { return QStringView(u".!?:;…。！？：；").contains(c); }
bool isBreak(QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); }

// Whether the user's original (case-folded) holds the line as a line or sentence of its own: the
// line is compared without the spaces around it, without regard to case, and without the final
// punctuation an answer may have added or changed; in the original it stands between line breaks
// or sentence ends. ("Sure!" is not held by "make sure the door is locked".)
bool holds(const QString& original, QStringView line) {
    QString needle = trimFully(line).toCaseFolded();
    while (!needle.isEmpty() && isStop(needle.back()))
        needle.chop(1);
    needle = trimFully(needle);
    if (needle.isEmpty())
        return false;
    const qsizetype size = original.size();
    for (qsizetype at = original.indexOf(needle); at != -1; at = original.indexOf(needle, at + 1)) {
        qsizetype before = at;
        while (before > 0 && text::isSpaceOrTab(original[before - 1].unicode()))
            --before;
        qsizetype after = at + needle.size();
        while (after < size && text::isSpaceOrTab(original[after].unicode()))
            ++after;
        const bool starts = before == 0 || isBreak(original[before - 1]) || isStop(original[before - 1]);
        const bool ends = after == size || isBreak(original[after]) || isStop(original[after]);
        if (starts && ends)
            return true;
    }
    return false;
}

bool holdsAny(const QString& original, const QStringList& lines) {
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return holds(original, line); });
}

// "- item", "* item", "• item", "1. item", "2) item", "3、item".
bool isListItem(const QString& line) {
    static const QRegularExpression item(QStringLiteral("^[\\t\\p{Zs}]*(?:[-*•+]|\\d{1,3}[.)])[\\t\\p{Zs}]|^[\\t\\p{Zs}]*\\d{1,3}、"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    return item.match(line).hasMatch();
}

qsizetype lastNonBlank(const QStringList& lines) {
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (!isBlank(lines[i]))
            return i;
    }
    return -1;
}

} // namespace

QString ResponseSanitizer::clean(const QString& input, const QString& original) {
    QString t = trimFully(input);
    if (t.isEmpty())
        return input;
    const QString folded = original.toCaseFolded();
    t = unwrapCodeFence(t, folded);
    for (int pass = 0; pass < 4; ++pass) {
        const QString before = t;
        t = stripLeadingChatter(t, folded);
        t = stripLeadingDivider(t, folded);
        t = stripTrailingChatter(t, folded);
        if (t == before)
            break;
    }
    t = trimFully(t);
    return t.isEmpty() ? input : t;
}

QString ResponseSanitizer::unwrapCodeFence(const QString& t, const QString& original) {
    if (!text::startsWithCharacter(t, kFence))
        return t;
    const QStringList lines = t.split(kLineFeed);
    if (lines.size() < 2)
        return t;
    const qsizetype closing = lastNonBlank(lines);
    if (closing <= 0 || trimSpaces(lines[closing]) != kFence)
        return t;
    if (holds(original, lines.first()) || holds(original, lines[closing]))
        return t; // the user's own code block
    const QString inner = trimFully(lines.mid(1, closing - 1).join(kLineFeed));
    return inner.isEmpty() ? t : inner;
}

QString ResponseSanitizer::stripLeadingChatter(const QString& t, const QString& original) {
    const qsizetype lf = firstLoneLineFeed(t);
    if (lf == -1)
        return t;
    const QString first = trimSpaces(QStringView(t).left(lf));
    const QString rest = trimFully(QStringView(t).mid(lf + 1));
    if (graphemeCount(rest) < 10)
        return t;
    const Patterns& p = patterns();
    if (!matches(p.leadingChatter, first))
        return t;
    if (holds(original, first))
        return t;
    const bool shortExclamation =
        graphemeCount(first) <= 16 && endsWithAny(first, {u"！", u"!", u"～", u"~"});
    if (shortExclamation || matches(p.metaHint, first))
        return rest;
    if (!endsWithAny(first, {u"：", u":"}))
        return t;
    // A line that only introduces what follows ("OKRs for Q3:", "I have three things to say:") is
    // the user's own when what it introduces is a list, or text from the original.
    const QString next = rest.left(firstLoneLineFeed(rest));
    if (isListItem(next) || holds(original, next))
        return t;
    return rest;
}

QString ResponseSanitizer::stripLeadingDivider(const QString& t, const QString& original) {
    const QStringList lines = t.split(kLineFeed);
    const Patterns& p = patterns();
    qsizetype total = 0;
    qsizetype dividerAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = trimSpaces(lines[i]);
        if (line.isEmpty())
            continue;
        if (matches(p.divider, line)) {
            dividerAt = i;
            break;
        }
        total += graphemeCount(line);
    }
    if (dividerAt == -1 || total > 200)
        return t;
    const QString head = trimFully(lines.mid(0, dividerAt).join(kLineFeed));
    const QString tail = trimFully(lines.mid(dividerAt + 1).join(kLineFeed));
    if (graphemeCount(tail) < 10)
        return t;
    if ((head.isEmpty() || matches(p.leadingChatter, head)) && !holdsAny(original, lines.mid(0, dividerAt + 1)))
        return tail;
    return t;
}

QString ResponseSanitizer::stripTrailingChatter(const QString& t, const QString& original) {
    const QStringList lines = t.split(kLineFeed);
    const qsizetype lastAt = lastNonBlank(lines);
    if (lastAt == -1)
        return t;
    const QString last = trimSpaces(lines[lastAt]);
    const QString body = trimFully(lines.mid(0, lastAt).join(kLineFeed));
    if (graphemeCount(body) < 10)
        return t;
    const Patterns& p = patterns();
    const bool chatter = (graphemeCount(last) <= 60 && matches(p.trailingChatter, last)) || matches(p.divider, last);
    return chatter && !holds(original, last) ? body : t;
}

} // namespace corvane::llm
