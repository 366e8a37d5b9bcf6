#include "stores/Graphemes.h"
#include <QTextBoundaryFinder>

namespace corvane::stores::graphemes {

qsizetype count(const QString& text) {
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype n = 0;
    while (finder.toNextBoundary() != -1)
        ++n;
    return n;
}

bool hasAtLeast(const QString& text, qsizetype n) {
    if (n <= 0)
        return true;
    // A cluster takes at least one UTF-16 unit.
    if (text.size() < n)
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype seen = 0; seen < n; ++seen)
        if (finder.toNextBoundary() == -1)
            return false;
    return true;
}

QString prefix(const QString& text, qsizetype n) {
    if (n <= 0)
        return {};
    // A cluster takes at least one UTF-16 unit, so short texts need no walk.
    if (text.size() <= n)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    qsizetype end = 0;
    while (seen < n) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return text;
        end = next;
        ++seen;
    }
    return text.left(end);
}

} // namespace corvane::stores::graphemes
