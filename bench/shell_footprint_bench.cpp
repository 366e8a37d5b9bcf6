// The shell's footprint beside a bare Qt tray app, both started the same way in the private
// desktop session (run it through tests/support/session.sh): start → listening (for the bare app:
// start → its event loop runs), and idle PSS/RSS after start and after 20 runs (for Corvane: a
// triple space in a GTK entry, a streamed answer from a local model server, Replace). Figures are
// printed, never asserted. With CORVANE_BENCH_MAPPINGS set it also lists the resident mappings (the
// bare app's after start, Corvane's after start and after the runs). PSS depends on what else maps
// the same libraries at that moment (other Qt processes on the machine): compare runs made together.
#include "e2e/CorvaneProcess.h"
#include "e2e/Desktop.h"
#include "e2e/PanelProbe.h"
#include "support/TestHttpServer.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace corvane;
using namespace corvane::e2e;

namespace {

struct Memory {
    double pssMiB = 0, rssMiB = 0;
};

Memory memoryOf(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    Memory m;
    if (!f.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "Pss:")
            m.pssMiB = parts[1].toDouble() / 1024.0;
        if (parts.size() >= 2 && parts[0] == "Rss:")
            m.rssMiB = parts[1].toDouble() / 1024.0;
    }
    return m;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Each answer differs from the text the previous run wrote back.
test::ScriptedResponse answer() {
    static int n = 0;
    ++n;
    test::ScriptedResponse response;
    response.header("Content-Type", "text/event-stream");
    response.header("Connection", "close");
    response.framing = test::ScriptedResponse::Framing::UntilClose;
    response.then(test::providers::openAIStream({QStringLiteral("Polished "), QStringLiteral("text %1.").arg(n)}));
    return response;
}

// One triple space in the focused entry; for Corvane, waits for the answer and presses Replace.
bool oneRun(const PanelProbe* panel) {
    QElapsedTimer t;
    t.start();
    const auto step = [&](const char* what) {
        if (qEnvironmentVariableIsSet("CORVANE_BENCH_RUNS"))
            std::fprintf(stderr, "  %s at %lld ms\n", what, qint64(t.elapsed()));
    };
    if (!pressKeys({QStringLiteral("End"), QStringLiteral("space"), QStringLiteral("space"), QStringLiteral("space")}))
        return false;
    if (!panel) {
        testsupport::settle(300);
        return true;
    }
    if (!waitUntil([&] { return panel->title() == QStringLiteral("Done"); }))
        return false;
    step("done");
    testsupport::settle(300); // the panel settles at its final size before the click
    if (!panel->click(QStringLiteral("Replace")))
        return false;
    step("clicked");
    const bool hidden = waitUntil([&] { return !panel->visible(); }, 5000);
    // The pointer leaves the button: a move to where it already is would never end.
    xdotool({QStringLiteral("mousemove"), QStringLiteral("0"), QStringLiteral("0")});
    step("hidden");
    return hidden;
}

constexpr int kStarts = 3, kIdleSettleMs = 2000;
const int kRuns = qEnvironmentVariableIsSet("CORVANE_BENCH_RUNS") ? qEnvironmentVariableIntValue("CORVANE_BENCH_RUNS") : 20;

std::vector<double> bareStarts() {
    std::vector<double> out;
    for (int i = 0; i < kStarts; ++i) {
        QElapsedTimer clock;
        clock.start();
        App bare(QStringLiteral(CORVANE_BENCH_BARE_TRAY), {});
        if (waitUntil([&] { return bare.process().bytesAvailable() > 0 || !bare.running(); }) && bare.running())
            out.push_back(double(clock.elapsed()));
    }
    return out;
}

std::vector<double> corvaneStarts(const QString& endpoint) {
    std::vector<double> out;
    for (int i = 0; i < kStarts; ++i) {
        CorvaneProcess corvane({.endpoint = endpoint, .apiTimeoutSeconds = 20, .ctrlAltSpaceHotkey = true});
        QString why;
        if (corvane.start(&why))
            out.push_back(double(corvane.startToListeningMs()));
        else
            std::printf("corvane did not start: %s\n", qPrintable(why));
    }
    return out;
}

// Resident and proportional kB by mapping (file name, or [heap], [anon], ...).
struct Mapped {
    qint64 rssKiB = 0, pssKiB = 0;
};
QMap<QString, Mapped> mappingsOf(qint64 pid) {
    QMap<QString, Mapped> out;
    QFile f(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    QString name;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QStringList parts = QString::fromUtf8(raw).simplified().split(QLatin1Char(' '));
        if (parts.value(0).contains(QLatin1Char('-')) && parts.size() >= 5 && !parts[0].endsWith(QLatin1Char(':')))
            name = parts.size() >= 6 ? parts[5].section(QLatin1Char('/'), -1) : QStringLiteral("[anon]");
        else if (parts.value(0) == QLatin1String("Rss:"))
            out[name].rssKiB += parts.value(1).toLongLong();
        else if (parts.value(0) == QLatin1String("Pss:"))
            out[name].pssKiB += parts.value(1).toLongLong();
    }
    return out;
}

// The largest resident mappings after the runs beside the same mappings after start and the bare
// app's after start: for finding what start-up and a run cost.
void printMappings(const QMap<QString, Mapped>& bare, const QMap<QString, Mapped>& atStart,
                   const QMap<QString, Mapped>& afterRuns) {
    QMap<QString, Mapped> all = afterRuns;
    for (auto it = bare.cbegin(); it != bare.cend(); ++it)
        if (!all.contains(it.key()))
            all.insert(it.key(), {});
    QList<QPair<qint64, QString>> sorted;
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        sorted.append({std::max(it.value().pssKiB, std::max(atStart.value(it.key()).pssKiB, bare.value(it.key()).pssKiB)),
                       it.key()});
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::printf("  %-34s %20s %20s %20s\n", "kB: RSS / PSS", "bare app at start", "corvane at start",
                "after the runs");
    for (const auto& [kb, n] : std::as_const(sorted)) {
        if (kb < 16)
            break;
        const Mapped b = bare.value(n), before = atStart.value(n), after = afterRuns.value(n);
        std::printf("  %-34s %9lld / %8lld %9lld / %8lld %9lld / %8lld\n", qPrintable(n.left(34)), b.rssKiB, b.pssKiB,
                    before.rssKiB, before.pssKiB, after.rssKiB, after.pssKiB);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("shell_footprint_bench needs the private desktop session: "
                    "tests/support/session.sh [--no-keyring] -- env QT_QPA_PLATFORM=offscreen %s\n",
                    argv[0]);
        return 0;
    }
    QApplication app(argc, argv);
    test::TestHttpServer server;
    if (!server.listen()) {
        std::printf("no local model server\n");
        return 1;
    }
    server.respond([](const test::RecordedRequest&) { return answer(); });
    const double bareStart = median(bareStarts());
    const double shellStart = median(corvaneStarts(server.baseUrl()));

    // Both run side by side from here, so that they share the same libraries with the same others.
    App bare(QStringLiteral(CORVANE_BENCH_BARE_TRAY), {});
    CorvaneProcess corvane({.endpoint = server.baseUrl(), .apiTimeoutSeconds = 20, .ctrlAltSpaceHotkey = true}); // a hotkey the window manager leaves free
    QString why;
    if (!corvane.start(&why) || !bare.running()) {
        std::printf("could not start both: %s\n", qPrintable(why));
        return 1;
    }
    testsupport::settle(kIdleSettleMs);
    const Memory bareIdle = memoryOf(bare.pid()), shellIdle = memoryOf(corvane.pid());
    const QMap<QString, Mapped> bareMapped = mappingsOf(bare.pid()), shellMappedAtStart = mappingsOf(corvane.pid());
    PanelProbe panel(corvane.pid());
    auto entry = startGtkEntry(QStringLiteral("some text to polish"));
    entry->waitActive();
    int done = 0;
    for (int r = 0; r < kRuns; ++r) {
        const bool ok = oneRun(&panel);
        done += ok ? 1 : 0;
        if (!ok)
            std::fprintf(stderr, "run %d did not complete: %s\n", r + 1, qPrintable(panel.describe()));
    }
    if (done < kRuns)
        std::printf("note: only %d of %d runs completed\n", done, kRuns);
    testsupport::settle(kIdleSettleMs);
    const Memory bareRuns = memoryOf(bare.pid()), shellRuns = memoryOf(corvane.pid());
    if (qEnvironmentVariableIsSet("CORVANE_BENCH_MAPPINGS"))
        printMappings(bareMapped, shellMappedAtStart, mappingsOf(corvane.pid()));


    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("%-34s %12s %12s %8s\n", "figure", "bare tray", "corvane", "ratio");
    std::printf("%-34s %9.0f ms %9.0f ms %7.2fx\n", "start -> listening (median of 3)", bareStart, shellStart,
                ratio(shellStart, bareStart));
    const struct {
        const char* name;
        double bare, shell;
    } rows[] = {
        {"idle PSS after start", bareIdle.pssMiB, shellIdle.pssMiB},
        {"idle RSS after start", bareIdle.rssMiB, shellIdle.rssMiB},
        {"idle PSS after 20 runs", bareRuns.pssMiB, shellRuns.pssMiB},
        {"idle RSS after 20 runs", bareRuns.rssMiB, shellRuns.rssMiB},
    };
    for (const auto& row : rows)
        std::printf("%-34s %8.1f MiB %8.1f MiB %7.2fx\n", row.name, row.bare, row.shell, ratio(row.shell, row.bare));
    return 0;
}
