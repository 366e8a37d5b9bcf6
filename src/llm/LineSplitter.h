#pragma once
// Splits a byte stream into text lines as it arrives. A line ends at LF, CR or CR LF (the
// terminator is not part of the line); a CR at the end of one chunk and an LF at the start of the
// next make one terminator. A line longer than the cap stops the splitter instead of growing
// without bound.
#include <QByteArray>
#include <QByteArrayView>
#include <cstring>
#include <utility>

namespace corvane::llm {

class LineSplitter {
public:
    explicit LineSplitter(qsizetype maxLineBytes) : m_maxLineBytes(maxLineBytes) {}

    // Hands every complete line to sink(QByteArrayView) -> bool. Returns false when the sink asked
    // to stop or a line grew past the cap (overflowed() then says so); the splitter is then spent.
    template <typename Sink>
    bool feed(QByteArrayView chunk, Sink&& sink) {
        const char* p = chunk.data();
        const char* end = p + chunk.size();
        if (m_afterCR && p < end) {
            m_afterCR = false;
            if (*p == '\n')
                ++p;
        }
        while (p < end) {
            const char* eol = findTerminator(p, end);
            if (!eol) {
                if (m_pending.size() + (end - p) > m_maxLineBytes)
                    return overflow();
                m_pending.append(p, end - p);
                return true;
            }
            bool go;
            if (m_pending.isEmpty()) {
                if (eol - p > m_maxLineBytes)
                    return overflow();
                go = sink(QByteArrayView(p, eol - p));
            } else {
                if (m_pending.size() + (eol - p) > m_maxLineBytes)
                    return overflow();
                m_pending.append(p, eol - p);
                go = sink(QByteArrayView(m_pending));
                m_pending.clear();
            }
            p = eol + 1;
            if (*eol == '\r') {
                if (p < end) {
                    if (*p == '\n')
                        ++p;
                } else {
                    m_afterCR = true;
                }
            }
            if (!go)
                return false;
        }
        return true;
    }

    // End of the stream: the text after the last terminator, if any, is a line too.
    template <typename Sink>
    bool finish(Sink&& sink) {
        if (m_pending.isEmpty())
            return true;
        const QByteArray last = std::exchange(m_pending, {});
        return sink(QByteArrayView(last));
    }

    bool overflowed() const { return m_overflowed; }

private:
    static const char* findTerminator(const char* p, const char* end) {
        const auto n = static_cast<size_t>(end - p);
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', n));
        const char* crEnd = lf ? lf : end;
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(crEnd - p)));
        return cr ? cr : lf;
    }

    bool overflow() {
        m_overflowed = true;
        m_pending.clear();
        return false;
    }

    qsizetype m_maxLineBytes;
    QByteArray m_pending;
    bool m_afterCR = false;
    bool m_overflowed = false;
};

} // namespace corvane::llm
