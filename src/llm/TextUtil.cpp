#include "llm/TextUtil.h"
#include <QChar>
#include <QTextBoundaryFinder>

namespace corvane::llm::text {

namespace {

template <typename Pred>
QString trimBy(QStringView s, Pred keep) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end) {
        char32_t c = s[begin].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && begin + 1 < end && s[begin + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(s[begin], s[begin + 1]);
            width = 2;
        }
        if (!keep(c))
            break;
        begin += width;
    }
    while (end > begin) {
        char32_t c = s[end - 1].unicode();
        qsizetype width = 1;
        if (QChar::isLowSurrogate(c) && end - 2 >= begin && s[end - 2].isHighSurrogate()) {
            c = QChar::surrogateToUcs4(s[end - 2], s[end - 1]);
            width = 2;
        }
        if (!keep(c))
            break;
        end -= width;
    }
    return s.mid(begin, end - begin).toString();
}

bool isBoundary(QStringView s, qsizetype pos) {
    if (pos <= 0 || pos >= s.size())
        return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s.constData(), s.size());
    finder.setPosition(pos);
    return finder.isAtBoundary();
}

} // namespace

qsizetype graphemeCount(QStringView s) {
    if (s.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s.constData(), s.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString graphemePrefix(QStringView s, qsizetype n) {
    if (n <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s.constData(), s.size());
    qsizetype pos = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return s.toString();
        pos = next;
    }
    return s.left(pos).toString();
}

bool endsWithCharacter(QStringView s, QStringView suffix) {
    return s.endsWith(suffix) && isBoundary(s, s.size() - suffix.size());
}

bool startsWithCharacter(QStringView s, QStringView prefix) {
    return s.startsWith(prefix) && isBoundary(s, prefix.size());
}

bool isSpaceOrBreak(char32_t c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85)
        return true;
    switch (QChar::category(c)) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool isSpaceOrTab(char32_t c) {
    return c == 0x09 || QChar::category(c) == QChar::Separator_Space;
}

QString trimFully(QStringView s) { return trimBy(s, isSpaceOrBreak); }

QString trimSpaces(QStringView s) { return trimBy(s, isSpaceOrTab); }

} // namespace corvane::llm::text
