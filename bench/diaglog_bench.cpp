// Diagnostics log: what event() costs its caller (the key-event handler calls it), and tail() on a
// large file. Figures only.
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemorySystemLog.h"
#include "stores/DiagLog.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using corvane::stores::DiagLog;

static void BM_EventCallerSide(benchmark::State& state) {
    QTemporaryDir dir;
    corvane::platform::fake::FakeClock clock;
    corvane::platform::fake::MemorySystemLog systemLog;
    DiagLog::configure(&systemLog, &clock, dir.filePath(QStringLiteral("corvane-diag.log")));
    const QString message = QStringLiteral("EventMonitor keyDown arriving (keyCode sample=49)");
    for (auto _ : state)
        DiagLog::event(message);
    DiagLog::flush();
    DiagLog::configure(nullptr, nullptr, QString());
}
BENCHMARK(BM_EventCallerSide);

static void BM_ThrottledDropped(benchmark::State& state) {
    corvane::platform::fake::FakeClock clock;
    DiagLog::configure(nullptr, &clock, QString());
    for (auto _ : state)
        DiagLog::throttled(QStringLiteral("keydown"), 30.0, QStringLiteral("EventMonitor keyDown arriving"));
    DiagLog::configure(nullptr, nullptr, QString());
}
BENCHMARK(BM_ThrottledDropped);

static void BM_TailOfLargeFile(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane-diag.log"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        const QByteArray line = "03-07 14:05:09.042 trigger AX read: role=AXTextArea len=120 ok\n";
        for (qint64 written = 0; written < state.range(0); written += line.size())
            file.write(line);
    }
    DiagLog::configure(nullptr, nullptr, path);
    for (auto _ : state)
        benchmark::DoNotOptimize(DiagLog::tail(16000));
    DiagLog::configure(nullptr, nullptr, QString());
}
BENCHMARK(BM_TailOfLargeFile)->Arg(1 << 20)->Arg(64 << 20);

BENCHMARK_MAIN();
