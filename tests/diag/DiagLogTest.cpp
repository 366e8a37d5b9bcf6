// The diagnostics log as its writers and the feedback sender see it: lines in the file and the
// system log, throttled keys on the virtual clock, and the tail of the file.
// Local time is pinned to Asia/Kolkata (UTC+05:30, no daylight saving), so the conversion from UTC
// is checked too.
#include "DiagFiles.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemorySystemLog.h"
#include "stores/DiagLog.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using corvane::platform::fake::FakeClock;
using corvane::platform::fake::MemorySystemLog;
using corvane::stores::DiagLog;
using corvane::diagtest::readAll;
using corvane::diagtest::writeAll;

namespace {

const bool kZonePinned = [] {
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    return true;
}();

// 2026-03-07 08:35:09.042 UTC is 14:05:09.042 in Kolkata.
const QDateTime kStart(QDate(2026, 3, 7), QTime(8, 35, 9, 42), Qt::UTC);
const QString kStamp = QStringLiteral("03-07 14:05:09.042");

class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("state/corvane/corvane-diag.log"));
        DiagLog::configure(&systemLog, &clock, path);
    }
    void TearDown() override {
        DiagLog::flush();
        DiagLog::configure(nullptr, nullptr, QString());
    }
    QList<QByteArray> fileLines() {
        DiagLog::flush();
        QList<QByteArray> lines = readAll(path).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    QTemporaryDir dir;
    QString path;
    FakeClock clock{kStart};
    MemorySystemLog systemLog;
};

TEST_F(DiagLogTest, FirstLineCreatesTheFolderAndFileWithLocalTimestamp) {
    DiagLog::event(QStringLiteral("App launching, AXIsProcessTrusted=false"));
    DiagLog::flush();

    EXPECT_EQ(readAll(path), (kStamp + QStringLiteral(" App launching, AXIsProcessTrusted=false\n")).toUtf8());
    EXPECT_EQ(systemLog.lines(), QStringList{QStringLiteral("diag|App launching, AXIsProcessTrusted=false")});
}

TEST_F(DiagLogTest, MessagesAreWrittenExactlyAsPassedNeverAsFormats) {
    const QStringList messages = {
        QStringLiteral("two words"),
        QStringLiteral("%s%n%s%n%x%p"),
        QStringLiteral("%{public}s %@ %d %%"),
        QStringLiteral("first line\nsecond line"),
        QStringLiteral("trigger AX read: 中文 – émoji 🙂"),
        QStringLiteral("  spaced\ttabbed  "),
        QString(),
    };
    for (const QString& message : messages)
        DiagLog::event(message);
    DiagLog::flush();

    QByteArray expected;
    QStringList mirrored;
    for (const QString& message : messages) {
        expected += (kStamp + QLatin1Char(' ') + message + QLatin1Char('\n')).toUtf8();
        mirrored << QStringLiteral("diag|") + message;
    }
    EXPECT_EQ(readAll(path), expected);
    EXPECT_EQ(systemLog.lines(), mirrored);
}

TEST_F(DiagLogTest, ExistingFileIsAppendedToInPlaceOnALineOfItsOwn) {
    // An earlier run's last line, whole or cut short by a full disk.
    const struct {
        QByteArray earlier, separator;
    } cases[] = {
        {"01-02 03:04:05.006 from an earlier run\n", ""},
        {"01-02 03:04:05.006 cut in the mid", "\n"},
    };
    for (const auto& c : cases) {
        writeAll(path, c.earlier);
        struct stat before {};
        ASSERT_EQ(stat(QFile::encodeName(path).constData(), &before), 0);

        DiagLog::event(QStringLiteral("next run"));
        DiagLog::flush();

        struct stat after {};
        ASSERT_EQ(stat(QFile::encodeName(path).constData(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file must be appended to, not replaced";
        EXPECT_EQ(readAll(path), c.earlier + c.separator + (kStamp + QStringLiteral(" next run\n")).toUtf8());
    }
}

TEST_F(DiagLogTest, LineThatCannotBeWrittenIsLostAloneAndLaterLinesArrive) {
    // A folder where the file should be: the append fails and must leave it alone.
    QDir().mkpath(path);
    DiagLog::event(QStringLiteral("lost"));
    DiagLog::flush();
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(systemLog.lines(), QStringList{QStringLiteral("diag|lost")});

    QDir(path).removeRecursively();
    DiagLog::event(QStringLiteral("kept"));
    EXPECT_EQ(fileLines(), QList<QByteArray>{(kStamp + QStringLiteral(" kept")).toUtf8()});
}

TEST_F(DiagLogTest, EventReturnsWhileTheFileCannotBeOpenedYet) {
    // Opening a FIFO for writing waits until someone reads it: an event() that touched the file on
    // the caller's thread would not return before the reader below.
    const QString fifo = dir.filePath(QStringLiteral("pipe.log"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    DiagLog::configure(&systemLog, &clock, fifo);

    auto call = std::async(std::launch::async, [] { DiagLog::event(QStringLiteral("queued")); });
    const bool returned = call.wait_for(std::chrono::seconds(10)) == std::future_status::ready;

    // The reader opens at once and waits at most 10 s for the line: a line that never comes (the
    // log read it back out of the pipe itself) fails here, not at the suite's time limit.
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    QByteArray received;
    char buffer[256];
    const QDeadlineTimer deadline(10'000);
    for (pollfd ready{reader, POLLIN, 0}; !received.endsWith('\n') && ::poll(&ready, 1, int(deadline.remainingTime())) > 0;) {
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n == 0)
            break; // the writer came and went
        received.append(buffer, qMax<ssize_t>(n, 0));
    }
    call.wait();
    DiagLog::flush();
    ::close(reader);

    EXPECT_TRUE(returned) << "event() waited for the file";
    EXPECT_EQ(received, (kStamp + QStringLiteral(" queued\n")).toUtf8());
}

TEST_F(DiagLogTest, ConcurrentWritersProduceWholeLinesInEachWritersOrder) {
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    const QString padding(120, QLatin1Char('x'));
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([t, &padding] {
            for (int n = 0; n < kLines; ++n)
                DiagLog::event(QStringLiteral("writer %1 line %2 %3").arg(t).arg(n).arg(padding));
        });
    for (auto& w : writers)
        w.join();

    const QList<QByteArray> lines = fileLines();
    ASSERT_EQ(lines.size(), kThreads * kLines);
    const QRegularExpression shape(QStringLiteral("^%1 writer (\\d+) line (\\d+) x{120}$").arg(QRegularExpression::escape(kStamp)));
    std::vector<int> next(kThreads, 0);
    for (const QByteArray& line : lines) {
        const auto match = shape.match(QString::fromUtf8(line));
        ASSERT_TRUE(match.hasMatch()) << line.constData();
        const int t = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), next[t]++) << "lines of writer " << t << " out of order";
    }
    EXPECT_EQ(systemLog.lines().size(), kThreads * kLines);
}

TEST_F(DiagLogTest, ThrottleWindowLetsALineThroughOnlyOncePerWindow) {
    struct Case {
        qint64 gapMs;
        int lines;
    };
    const Case cases[] = {{29'000, 1}, {29'999, 1}, {30'000, 2}, {31'000, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gapMs);
        DiagLog::configure(&systemLog, &clock, path); // forgets earlier keys
        const qsizetype before = systemLog.lines().size();
        DiagLog::throttled(QStringLiteral("keydown"), 30.0, QStringLiteral("EventMonitor keyDown arriving (keyCode sample=49)"));
        clock.advance(c.gapMs);
        DiagLog::throttled(QStringLiteral("keydown"), 30.0, QStringLiteral("EventMonitor keyDown arriving (keyCode sample=0)"));
        EXPECT_EQ(systemLog.lines().size() - before, c.lines);
    }
}

TEST_F(DiagLogTest, ThrottleKeysAreIndependentAndDroppedLinesDoNotExtendTheWindow) {
    DiagLog::throttled(QStringLiteral("keydown"), 30.0, QStringLiteral("key"));
    DiagLog::throttled(QStringLiteral("monitor-no-trust"), 60.0, QStringLiteral("trust"));
    // A key that fires every 5 s for 95 s more passes at 30, 60 and 90 s.
    for (int i = 1; i <= 19; ++i) {
        clock.advance(5'000);
        DiagLog::throttled(QStringLiteral("keydown"), 30.0, QStringLiteral("key"));
        DiagLog::throttled(QStringLiteral("monitor-no-trust"), 60.0, QStringLiteral("trust"));
    }
    const QStringList lines = systemLog.lines();
    EXPECT_EQ(lines.count(QStringLiteral("diag|key")), 4);
    EXPECT_EQ(lines.count(QStringLiteral("diag|trust")), 2); // at 0 and 60 s
    EXPECT_EQ(fileLines().size(), 6);
}

TEST_F(DiagLogTest, ThrottleFromManyThreadsPassesOneLine) {
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t)
        callers.emplace_back([] {
            for (int i = 0; i < 200; ++i)
                DiagLog::throttled(QStringLiteral("burst"), 10.0, QStringLiteral("burst line"));
        });
    for (auto& c : callers)
        c.join();
    EXPECT_EQ(systemLog.lines(), QStringList{QStringLiteral("diag|burst line")});
}

TEST_F(DiagLogTest, TailNeverStartsInsideACharacter) {
    struct Case {
        const char* name;
        QByteArray content;
        qint64 maxBytes;
        QString expected;
    };
    const QByteArray e = "\xC3\xA9";             // é, two bytes
    const QByteArray zh = "\xE4\xB8\xAD";        // 中, three bytes
    const QByteArray smile = "\xF0\x9F\x99\x82"; // 🙂, four bytes
    const Case cases[] = {
        {"small file whole", "0123456789", 16000, QStringLiteral("0123456789")},
        {"exact size", "0123456789", 10, QStringLiteral("0123456789")},
        {"plain cut", "0123456789", 4, QStringLiteral("6789")},
        {"zero bytes", "0123456789", 0, QString()},
        {"cut at 2nd of 2", "ab" + e + "cd", 3, QStringLiteral("cd")},
        {"cut before 2-byte char", "ab" + e + "cd", 4, QStringLiteral("écd")},
        {"cut at 2nd of 3", "x" + zh + "y", 3, QStringLiteral("y")},
        {"cut at 3rd of 3", "x" + zh + "y", 2, QStringLiteral("y")},
        {"cut before 3-byte char", "x" + zh + "y", 4, QStringLiteral("中y")},
        {"cut at 2nd of 4", "a" + smile + "b", 4, QStringLiteral("b")},
        {"cut at 4th of 4", "a" + smile + "b", 2, QStringLiteral("b")},
        {"only continuation bytes left", "a" + smile, 3, QString()},
        {"invalid bytes become U+FFFD", "ok\xFF\xFEok", 6, QStringLiteral("ok\uFFFD\uFFFDok")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAll(path, c.content);
        const QString tail = DiagLog::tail(c.maxBytes);
        EXPECT_EQ(tail, c.expected);
        if (!tail.contains(QChar(0xFFFD))) { // a replacement character is longer than the byte it replaces
            EXPECT_LE(tail.toUtf8().size(), std::max<qint64>(c.maxBytes, 0));
        }
    }
}

TEST_F(DiagLogTest, TailWithoutAFileIsEmpty) {
    EXPECT_EQ(DiagLog::tail(16000), QString());
    DiagLog::configure(nullptr, nullptr, QString());
    EXPECT_EQ(DiagLog::tail(16000), QString());
}

TEST_F(DiagLogTest, TailOfAHugeFileReadsOnlyItsEnd) {
    // A sparse 64 GiB log: reading it whole could never fit in memory.
    writeAll(path, QByteArray());
    QFile file(path);
    ASSERT_TRUE(file.resize(qint64(64) << 30));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
    const QByteArray newest = "03-07 14:05:09.042 the newest line\n";
    file.write("\n" + newest);
    file.close();

    EXPECT_EQ(DiagLog::tail(newest.size()), QString::fromUtf8(newest));
    QFile::remove(path);
}

TEST(DiagLogUnconfigured, EveryCallIsSafeAndWritesNoFile) {
    DiagLog::configure(nullptr, nullptr, QString());
    DiagLog::event(QStringLiteral("before start"));
    DiagLog::throttled(QStringLiteral("k"), 30.0, QStringLiteral("before start"));
    DiagLog::flush();
    EXPECT_EQ(DiagLog::tail(100), QString());
    EXPECT_EQ(DiagLog::filePath(), QString());
}

TEST(DiagLogPath, FollowsXdgStateHome) {
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    struct Case {
        QByteArray value;
        QString expected;
    };
    const Case cases[] = {
        {"/srv/state", QStringLiteral("/srv/state/corvane/corvane-diag.log")},
        {"", QDir::homePath() + QStringLiteral("/.local/state/corvane/corvane-diag.log")},
        {"relative/dir", QDir::homePath() + QStringLiteral("/.local/state/corvane/corvane-diag.log")},
    };
    for (const Case& c : cases) {
        qputenv("XDG_STATE_HOME", c.value);
        EXPECT_EQ(DiagLog::defaultFilePath(), c.expected) << c.value.constData();
    }
    qputenv("XDG_STATE_HOME", saved);
}

} // namespace
