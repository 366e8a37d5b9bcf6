// Lines come out whole however the bytes are cut into chunks.
#include "llm/LineSplitter.h"
#include "llm/SsePayload.h"
#include <QList>
#include <gtest/gtest.h>

using corvane::llm::LineSplitter;

namespace {

QList<QByteArray> split(const QByteArray& stream, qsizetype chunk, qsizetype cap = 1 << 20, bool* overflowed = nullptr) {
    LineSplitter splitter(cap);
    QList<QByteArray> lines;
    auto sink = [&](QByteArrayView line) {
        lines.append(line.toByteArray());
        return true;
    };
    bool ok = true;
    for (qsizetype at = 0; ok && at < stream.size(); at += chunk)
        ok = splitter.feed(QByteArrayView(stream).sliced(at, std::min(chunk, stream.size() - at)), sink);
    if (ok)
        splitter.finish(sink);
    if (overflowed)
        *overflowed = splitter.overflowed();
    return lines;
}

TEST(LineSplitter, AnyChunkingGivesTheSameLines) {
    const struct {
        QByteArray stream;
        QList<QByteArray> lines;
    } cases[] = {
        {"data: a\n\ndata: b\n", {"data: a", "", "data: b"}},
        {"data: a\r\n\r\ndata: b\r\n", {"data: a", "", "data: b"}},
        {"one\rtwo\r\rthree", {"one", "two", "", "three"}},
        {"no final newline", {"no final newline"}},
        {"\n", {""}},
        {"", {}},
        {"mixed\r\n\nend\r", {"mixed", "", "end"}},
        {"caf\xc3\xa9\n", {"caf\xc3\xa9"}},
        // line ends on either side of the 16- and 32-byte steps of the search
        {QByteArray(15, 'a') + "\n" + QByteArray(16, 'b') + "\r\n" + QByteArray(31, 'c') + "\r" + QByteArray(32, 'd') +
             "\n" + QByteArray(33, 'e') + "\r\n" + QByteArray(47, 'f') + "\n" + QByteArray(64, 'g'),
         {QByteArray(15, 'a'), QByteArray(16, 'b'), QByteArray(31, 'c'), QByteArray(32, 'd'), QByteArray(33, 'e'),
          QByteArray(47, 'f'), QByteArray(64, 'g')}},
    };
    for (const auto& c : cases) {
        for (qsizetype chunk : {1, 2, 3, 7, 40, 1024})
            EXPECT_EQ(split(c.stream, chunk), c.lines) << c.stream.constData() << " chunk " << chunk;
    }
}

TEST(LineSplitter, AnOverlongLineStopsInsteadOfGrowing) {
    bool overflowed = false;
    const QList<QByteArray> lines = split("ok\n" + QByteArray(100, 'x') + "\nlater\n", 7, 64, &overflowed);
    EXPECT_TRUE(overflowed);
    EXPECT_EQ(lines, QList<QByteArray>{"ok"});
    EXPECT_EQ(split(QByteArray(64, 'y') + "\n", 5, 64, &overflowed), QList<QByteArray>{QByteArray(64, 'y')});
    EXPECT_FALSE(overflowed);
}

TEST(LineSplitter, SinkCanStopTheReading) {
    LineSplitter splitter(1024);
    int seen = 0;
    EXPECT_FALSE(splitter.feed("a\nb\nc\n", [&](QByteArrayView) { return ++seen < 2; }));
    EXPECT_EQ(seen, 2);
}

TEST(SsePayload, OnlyExactDataLinesCarryAPayload) {
    using corvane::llm::isDoneMarker;
    using corvane::llm::ssePayload;
    EXPECT_EQ(ssePayload("data: {\"a\":1}"), QByteArrayView("{\"a\":1}"));
    EXPECT_EQ(ssePayload("data:[DONE]"), QByteArrayView("[DONE]"));
    EXPECT_EQ(ssePayload("data: \t [DONE] \t"), QByteArrayView("[DONE]"));
    EXPECT_EQ(ssePayload("data:"), QByteArrayView(""));
    EXPECT_FALSE(ssePayload(" data: x"));
    EXPECT_FALSE(ssePayload("Data: x"));
    EXPECT_FALSE(ssePayload("event: message_start"));
    EXPECT_FALSE(ssePayload(": keep-alive"));
    EXPECT_TRUE(isDoneMarker("[DONE]"));
    EXPECT_FALSE(isDoneMarker("[done]"));
}

} // namespace
