#include "trigger/TextMetrics.h"
#include <QTextBoundaryFinder>

namespace corvane::trigger::text {

qsizetype graphemeCount(const QString& s) {
    if (s.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString graphemePrefix(const QString& s, qsizetype n) {
    if (n <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qsizetype taken = 0;
    qsizetype pos = 0;
    while (taken < n) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return s;
        pos = next;
        ++taken;
    }
    return s.left(pos);
}

QString trimmed(const QString& s) { return s.trimmed(); }

bool containsLineBreak(const QString& s) {
    for (const QChar c : s) {
        switch (c.unicode()) {
        case 0x000A: case 0x000B: case 0x000C: case 0x000D:
        case 0x0085: case 0x2028: case 0x2029:
            return true;
        default:
            break;
        }
    }
    return false;
}

} // namespace corvane::trigger::text
