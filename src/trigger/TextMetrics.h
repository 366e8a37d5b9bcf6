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
// s without what no field can hold: NUL, and surrogates without their partner (the bus and the
// clipboard carry UTF-8, which has no way to say them).
QString writable(const QString& s);
// answer with its CR LF line breaks written as the field's own: CR LF when fieldText uses them,
// else LF, as Linux toolkits keep their text. Lone CRs are left as they are.
QString inLineEndingsOf(QString answer, const QString& fieldText);

} // namespace corvane::trigger::text
