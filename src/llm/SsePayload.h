#pragma once
// Server-sent event lines: "data:" (exact, at the first byte) followed by the payload.
#include <QByteArrayView>
#include <optional>

namespace corvane::llm {

// The payload of an event line with spaces and tabs trimmed, or nothing for any other line.
inline std::optional<QByteArrayView> ssePayload(QByteArrayView line) {
    // Compared inline: this runs for every line of every stream.
    if (line.size() < 5 || line[0] != 'd' || line[1] != 'a' || line[2] != 't' || line[3] != 'a' || line[4] != ':')
        return std::nullopt;
    qsizetype begin = 5;
    qsizetype end = line.size();
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (begin < end && blank(line[begin]))
        ++begin;
    while (end > begin && blank(line[end - 1]))
        --end;
    return line.sliced(begin, end - begin);
}

inline bool isDoneMarker(QByteArrayView payload) { return payload == QByteArrayView("[DONE]"); }

} // namespace corvane::llm
