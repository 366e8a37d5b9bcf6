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

} // namespace corvane::trigger::text
