#pragma once
// Text measures as the user sees them: lengths count user-perceived characters (grapheme
// clusters), not bytes or UTF-16 units.
#include <QString>

namespace corvane::trigger::text {

qsizetype graphemeCount(const QString& s);
// The first n user-perceived characters of s (s itself when it is shorter).
QString graphemePrefix(const QString& s, qsizetype n);
// s without Unicode white space and line breaks at both ends.
QString trimmed(const QString& s);
// True when s holds any line break: LF, CR, VT, FF, NEL, LINE or PARAGRAPH SEPARATOR.
bool containsLineBreak(const QString& s);

} // namespace corvane::trigger::text
