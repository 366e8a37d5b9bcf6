#include "stores/Graphemes.h"
#include <QTextBoundaryFinder>

namespace corvane::stores::graphemes {

namespace {

// Qt's finder works out every kind of break (words, lines, sentences too) for all of the text it
// is given before it answers: on a long text that costs far more than walking it. So it is only
// ever given a part of it.

bool ascii(char16_t c) { return c < 0x80; }

// Characters that no rule joins to a neighbour, in either direction: neither prepended, extending,
// spacing marks, joiners, conjoining jamo nor regional indicators. Between two of them there is
// always a break (but between CR and LF). Ranges of the common scripts, leaving out every
// combining mark inside them.
inline bool simple(char16_t c) {
    if (c < 0x0300 || (c >= 0x4E00 && c <= 0x9FFF))
        return true; // ASCII, Latin-1 and Latin Extended: letters, signs, controls
    if (c < 0x4E00) {
        return (c >= 0x0370 && c <= 0x0482) || (c >= 0x048A && c <= 0x052F) // Greek, Cyrillic
               || (c >= 0x2010 && c <= 0x205F)                               // punctuation
               || (c >= 0x3000 && c <= 0x3029) || (c >= 0x3030 && c <= 0x303F) // CJK punctuation
               || (c >= 0x3041 && c <= 0x3096) || (c >= 0x309B && c <= 0x30FF) // kana
               || (c >= 0x3400 && c <= 0x4DBF);                               // CJK ideographs
    }
    return (c >= 0xAC00 && c <= 0xD7A3)    // Hangul syllables
           || (c >= 0xFF01 && c <= 0xFF60);   // full-width forms
}

// Between two simple characters other than CR LF there is always a break, and what comes before
// the first cannot change that.
inline bool safeBreak(const char16_t* s, qsizetype at) {
    return simple(s[at - 1]) && simple(s[at]) && !(s[at - 1] == u'\r' && s[at] == u'\n');
}

qsizetype clusters(const QChar* chars, qsizetype length) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, chars, length);
    qsizetype n = 0;
    while (finder.toNextBoundary() != -1)
        ++n;
    return n;
}

// The end of the n-th character within the first window units of text, when the window settles
// it: -1 when the text has fewer than n, 0 when a longer window is needed.
qsizetype nthEnd(const QString& text, qsizetype n, qsizetype window) {
    const bool whole = window >= text.size();
    const qsizetype length = whole ? text.size() : window;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData(), length);
    qsizetype end = 0;
    for (qsizetype seen = 0; seen < n; ++seen) {
        end = finder.toNextBoundary();
        if (end == -1)
            return whole ? -1 : 0;
    }
    // The window's own end is a break only for the window: the character may go on past it.
    return whole || end < length ? end : 0;
}

// Looks at longer and longer beginnings of text: a character rarely spans more than a few units.
qsizetype nthEnd(const QString& text, qsizetype n) {
    for (qsizetype window = n * 4 + 64;; window *= 2)
        if (const qsizetype end = nthEnd(text, n, window); end != 0)
            return end;
}

} // namespace

qsizetype count(const QString& text) {
    const auto* s = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype size = text.size();
    // An all-ASCII text has one character per unit, CR LF pairs aside.
    char16_t any = 0;
    for (qsizetype i = 0; i < size; ++i)
        any |= s[i];
    if (ascii(any))
        return size - (text.contains(u'\r') ? text.count(QStringLiteral("\r\n")) : 0);
    qsizetype n = 0;
    qsizetype i = 0;
    while (i < size) {
        // Simple characters count one by one (CR LF as one).
        if (i + 1 == size || safeBreak(s, i + 1)) {
            if (simple(s[i])) {
                ++n;
                ++i;
                continue;
            }
        } else if (s[i] == u'\r' && s[i + 1] == u'\n' && (i + 2 == size || safeBreak(s, i + 2))) {
            ++n;
            i += 2;
            continue;
        }
        // Anything else up to the next certain break goes through Qt's finder.
        qsizetype end = i + 1;
        while (end < size && !safeBreak(s, end))
            ++end;
        n += clusters(text.constData() + i, end - i);
        i = end;
    }
    return n;
}

bool hasAtLeast(const QString& text, qsizetype n) {
    if (n <= 0)
        return true;
    // A cluster takes at least one UTF-16 unit.
    if (text.size() < n)
        return false;
    return nthEnd(text, n) > 0;
}

QString prefix(const QString& text, qsizetype n) {
    if (n <= 0)
        return {};
    // A cluster takes at least one UTF-16 unit, so short texts need no walk.
    if (text.size() <= n)
        return text;
    const qsizetype end = nthEnd(text, n);
    return end < 0 ? text : text.left(end);
}

} // namespace corvane::stores::graphemes
