#pragma once
// Small text helpers shared by the answer parsers and the sanitizer. Lengths count user-perceived
// characters (extended grapheme clusters), as a user would count them.
#include <QString>
#include <QStringView>

namespace corvane::llm::text {

// Number of grapheme clusters in s.
qsizetype graphemeCount(QStringView s);
// The first n grapheme clusters of s (all of s when it has fewer).
QString graphemePrefix(QStringView s, qsizetype n);
// True when s ends with suffix and the suffix starts on a grapheme boundary of s, so that a
// combining mark after the suffix's first character does not count as the suffix.
bool endsWithCharacter(QStringView s, QStringView suffix);
bool startsWithCharacter(QStringView s, QStringView prefix);

// White space and line breaks: Unicode category Z, U+0009..U+000D and U+0085.
bool isSpaceOrBreak(char32_t c);
// Spaces and tabs only: category Zs and U+0009.
bool isSpaceOrTab(char32_t c);
QString trimFully(QStringView s);
QString trimSpaces(QStringView s);

} // namespace corvane::llm::text
