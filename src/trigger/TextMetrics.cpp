#include "trigger/TextMetrics.h"

namespace corvane::trigger::text {

// QChar::isSpace covers the Unicode separators (Zs, Zl, Zp), TAB to CR and NEL.
QString trimmed(const QString& s) { return s.trimmed(); }
QString trimmed(QString&& s) { return std::move(s).trimmed(); }

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

QString writable(const QString& s) {
    const auto kept = [&](qsizetype i) {
        const QChar c = s[i];
        if (c.isHighSurrogate())
            return i + 1 < s.size() && s[i + 1].isLowSurrogate();
        if (c.isLowSurrogate())
            return i > 0 && s[i - 1].isHighSurrogate();
        return c.unicode() != 0;
    };
    qsizetype i = 0;
    while (i < s.size() && kept(i))
        ++i;
    if (i == s.size())
        return s;  // the usual answer: nothing to take out, nothing copied
    QString out = s.first(i);
    for (; i < s.size(); ++i)
        if (kept(i))
            out.append(s[i]);
    return out;
}

QString inLineEndingsOf(QString answer, const QString& fieldText) {
    const QLatin1String crlf("\r\n");
    if (!answer.contains(QLatin1Char('\r')) && !fieldText.contains(crlf))
        return answer;
    answer.replace(crlf, QLatin1String("\n"));
    if (fieldText.contains(crlf))
        answer.replace(QLatin1Char('\n'), crlf);
    return answer;
}

} // namespace corvane::trigger::text
