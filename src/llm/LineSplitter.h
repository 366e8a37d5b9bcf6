#pragma once
// Splits a byte stream into text lines as it arrives. A line ends at LF, CR or CR LF (the
// terminator is not part of the line); a CR at the end of one chunk and an LF at the start of the
// next make one terminator. A line longer than the cap stops the splitter instead of growing
// without bound.
#include <QByteArray>
#include <QByteArrayView>
#include <bit>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::llm {

class LineSplitter {
public:
    explicit LineSplitter(qsizetype maxLineBytes) : m_maxLineBytes(maxLineBytes) {}

    // Hands every complete line to sink(QByteArrayView) -> bool. Returns false when the sink asked
    // to stop or a line grew past the cap (overflowed() then says so); the splitter is then spent.
    // When the sink asked to stop, *used (if given) says how many bytes of chunk went into lines.
    template <typename Sink>
    bool feed(QByteArrayView chunk, Sink&& sink, qsizetype* used = nullptr) {
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
            if (!go) {
                if (used)
                    *used = p - chunk.data();
                return false;
            }
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
    // The first CR or LF in [p, end), or nothing. One pass for both bytes: event lines are short,
    // and two library searches per line cost more than the line itself.
    static const char* findTerminator(const char* p, const char* end) {
#if defined(__SSE2__)
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i cr = _mm_set1_epi8('\r');
        auto hits = [&](const char* at) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            return static_cast<unsigned>(
                _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr))));
        };
        for (; end - p >= 32; p += 32) {
            if (const unsigned found = hits(p) | hits(p + 16) << 16)
                return p + std::countr_zero(found);
        }
        if (end - p >= 16) {
            if (const unsigned found = hits(p))
                return p + std::countr_zero(found);
            p += 16;
        }
#endif
        for (; p < end; ++p) {
            if (*p == '\n' || *p == '\r')
                return p;
        }
        return nullptr;
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
