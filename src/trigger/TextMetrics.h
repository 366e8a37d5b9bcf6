#pragma once
// Text rules of the trigger pipeline. Lengths count user-perceived characters (stores/Graphemes.h).
#include <QString>

namespace corvane::trigger::text {

// s without Unicode white space and line breaks at both ends.
QString trimmed(const QString& s);
// The same, trimming s's own text in place where s is its only holder.
QString trimmed(QString&& s);
// True when s holds any line break: LF, CR, VT, FF, NEL, LINE or PARAGRAPH SEPARATOR.
bool containsLineBreak(const QString& s);

} // namespace corvane::trigger::text
