// How long a run takes to reach a model server a real round trip away, and whether it reuses its
// connection. Started by bench/remote_latency/run.sh (ninja -C build bench_remote_latency), which
// makes the delayed link, the TLS model server and the private desktop session, and passes them in
// CORVANE_BENCH_* variables. Corvane runs in the link's client namespace; for each of
// CORVANE_BENCH_STARTS starts (3) it takes the first run (cold), then one run after each idle pause
// of CORVANE_BENCH_WARM_GAPS seconds (5,10,30: warm). Each run is a triple space in a GTK entry; the
// third space is stamped as the X server hands it out, the request line by the server, the first
// token as corvane sets it in the panel (its run trace), all on the monotonic clock. The answer
// ends normally and the panel is closed, so the connection stays usable for the next run.
// CORVANE_BENCH_BINARY measures another build of corvane; CORVANE_BENCH_BASE_BINARY measures
// that one first, side by side. Figures are printed, never asserted.
#include "e2e/CorvaneProcess.h"
#include "e2e/Desktop.h"
#include "e2e/PanelProbe.h"
#include "platform/RunTrace.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/XInputKeyTap.h"
#include <QApplication>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace corvane;
using namespace corvane::e2e;
using platform::runtrace::nowUs;

namespace {

// What the model server stamped (see remote_latency/model_server.py), read as it grows.
class ServerLog {
public:
    struct Connection {
        qint64 acceptedUs = -1;
        bool resumed = false;
    };
    struct Request {
        int connection = 0;
        qint64 atUs = -1;
        int nth = 0; // 1 for the first request on its connection
    };

    explicit ServerLog(const QString& path) : m_file(path) { m_file.open(QIODevice::ReadOnly); }

    void poll() {
        m_pending += m_file.readAll();
        for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0; m_pending.remove(0, end + 1)) {
            const QList<QByteArray> f = m_pending.left(end).split(' ');
            if (f.size() == 4 && f[0] == "conn" && f[2] == "accepted")
                connections[f[1].toInt()].acceptedUs = f[3].toLongLong();
            else if (f.size() == 5 && f[0] == "conn" && f[2] == "tls")
                connections[f[1].toInt()].resumed = f[4] == "resumed";
            else if (f.size() == 4 && f[0] == "request")
                requests.append({f[1].toInt(), f[2].toLongLong(), f[3].toInt()});
        }
    }

    QHash<int, Connection> connections;
    QList<Request> requests;

private:
    QFile m_file;
    QByteArray m_pending;
};

struct Run {
    QString label;
    bool cold = false;
    int idleSeconds = 0;
    bool ok = false;
    bool reused = false;  // the connection had carried an earlier request
    bool resumed = false; // a new connection's TLS session was resumed
    double openedMs = NAN; // the connection accepted (negative: before the third space)
    double requestMs = NAN, tokenMs = NAN;
};

// A triple space, the request at the server, the first token in the panel, the end; the panel is
// closed. keyAtUs is where the key tap stamps each space's press.
Run runOnce(ServerLog& log, const qint64& keyAtUs, const CorvaneProcess& corvane, const PanelProbe& panel) {
    Run run;
    const qsizetype traceFrom = corvane.output().size();
    const qsizetype before = log.requests.size();
    if (!pressKeysPromptly({QStringLiteral("space"), QStringLiteral("space"), QStringLiteral("space")}) ||
        !waitPromptly([&] { log.poll(); return log.requests.size() > before; }, 15000)) {
        waitUntil([&] { return panel.click(QStringLiteral("Close")); }, 3000);
        waitUntil([&] { return !panel.visible(); }, 5000);
        return run;
    }
    const qint64 key = keyAtUs;
    const ServerLog::Request request = log.requests[before];
    const ServerLog::Connection connection = log.connections.value(request.connection);
    run.reused = request.nth > 1;
    if (!run.reused) {
        run.resumed = connection.resumed;
        run.openedMs = (connection.acceptedUs - key) / 1000.0;
    }
    run.requestMs = (request.atUs - key) / 1000.0;
    run.ok = waitUntil([&] { return panel.title() == QStringLiteral("Done"); }) &&
             waitUntil([&] { return panel.click(QStringLiteral("Close")); }) &&
             waitUntil([&] { return !panel.visible(); });
    // The first piece of the answer set in the panel, as corvane marked it after showing the panel
    // for this run (before that, the panel may draw the last run's answer).
    const QString trace = corvane.output().mid(traceFrom);
    const qsizetype shown = trace.indexOf(QLatin1String("run-trace shown "));
    if (const qsizetype at = trace.indexOf(QLatin1String("run-trace result "), shown); shown >= 0 && at >= 0)
        run.tokenMs = (trace.mid(at + 17).section(QLatin1Char('\n'), 0, 0).toLongLong() - key) / 1000.0;
    return run;
}

double median(QList<double> v) {
    v.removeIf([](double x) { return std::isnan(x); });
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? NAN : v[v.size() / 2];
}

QList<int> warmGaps() {
    QList<int> out;
    for (const QString& s : qEnvironmentVariable("CORVANE_BENCH_WARM_GAPS", QStringLiteral("5,10,30")).split(u','))
        out.append(s.toInt());
    return out;
}

QString ms(double v) { return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', 1); }

void printRunsHeader() {
    std::printf("%-22s%8s%12s%10s%10s%10s%10s\n", "run", "idle s", "connection", "TLS", "opened", "req.line", "token");
}

void printRun(const Run& r) {
    const QString idle = r.cold ? QStringLiteral("-") : QString::number(r.idleSeconds);
    if (std::isnan(r.requestMs))
        std::printf("%-22s%8s  failed: no request\n", qPrintable(r.label), qPrintable(idle));
    else
        std::printf("%-22s%8s%12s%10s%10s%10s%10s%s\n", qPrintable(r.label), qPrintable(idle),
                    r.reused ? "reused" : "new", r.reused ? "-" : r.resumed ? "resumed" : "full",
                    qPrintable(ms(r.openedMs)), qPrintable(ms(r.requestMs)), qPrintable(ms(r.tokenMs)),
                    r.ok ? "" : "  (the run did not end)");
    std::fflush(stdout);
}

// The medians, the goals beside them, and the summary line (the last one names no build).
void printSummary(const QString& build, const QList<Run>& runs, double rttMs, bool last) {
    QList<double> coldRequest, coldToken, warmRequest, warmToken;
    int warm = 0, reused = 0, resumed = 0;
    for (const Run& r : runs) {
        (r.cold ? coldRequest : warmRequest).append(r.requestMs);
        (r.cold ? coldToken : warmToken).append(r.tokenMs);
        if (!r.cold && !std::isnan(r.requestMs)) {
            ++warm;
            reused += r.reused;
            resumed += r.resumed;
        }
    }
    const double cold = median(coldRequest), warmMedian = median(warmRequest);
    const double warmGoal = rttMs / 2 + 15, coldGoal = 2.5 * rttMs + 20;
    const auto verdict = [](double v, double goal) { return v <= goal ? "met" : "missed"; };
    const QString name = build.isEmpty() ? QString() : QLatin1Char(' ') + build;
    std::printf("\nmedians%s: cold request line %.1f ms, first token %.1f ms (%lld runs); warm request line %.1f "
                "ms, first token %.1f ms (%lld runs)\n",
                qPrintable(name), cold, median(coldToken), coldRequest.size(), warmMedian, median(warmToken),
                warmRequest.size());
    std::printf("goals%s: warm request within one way + 15 ms = %.1f ms: %s; first run within 2.5 round trips + 20 "
                "ms = %.1f ms: %s\n",
                qPrintable(name), warmGoal, verdict(warmMedian, warmGoal), coldGoal, verdict(cold, coldGoal));
    std::printf("warm runs%s, as the server saw them: %d of %d on a reused connection; of the %d on a new one, %d "
                "with a resumed TLS session\n",
                qPrintable(name), reused, warm, warm - reused, resumed);
    std::printf("remote latency%s: rtt %.0f ms; cold %.0f ms; warm %.0f ms\n",
                last ? "" : qPrintable(QStringLiteral(" (%1)").arg(build)), rttMs, cold, warmMedian);
}

} // namespace

int main(int argc, char** argv) {
    const QString endpoint = qEnvironmentVariable("CORVANE_BENCH_ENDPOINT");
    if (endpoint.isEmpty() || qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("%s runs from bench/remote_latency/run.sh: ninja -C build bench_remote_latency\n", argv[0]);
        return 0;
    }
    qputenv("CORVANE_RUN_TRACE", "1");
    QApplication app(argc, argv);
    ServerLog log(qEnvironmentVariable("CORVANE_BENCH_SERVER_LOG"));
    qint64 keyAtUs = -1;
    platform::linux_::X11Connection x11;
    platform::linux_::XInputKeyTap tap(x11);
    if (!tap.start([&](const platform::KeyEvent& e) {
            if (e.keyCode == 49 && e.pressed)
                keyAtUs = nowUs();
        })) {
        std::printf("no key tap: %s\n", qPrintable(tap.lastError()));
        return 1;
    }
    const double rttMs = qEnvironmentVariable("CORVANE_BENCH_RTT_MS").toDouble();
    const int starts = std::max(1, qEnvironmentVariable("CORVANE_BENCH_STARTS", QStringLiteral("3")).toInt());
    QList<std::pair<QString, QString>> builds; // a name ("" when alone) and a binary ("" for this build's)
    if (const QString base = qEnvironmentVariable("CORVANE_BENCH_BASE_BINARY"); !base.isEmpty())
        builds.append({QStringLiteral("before"), base});
    const QString name = builds.isEmpty() ? QString() : QStringLiteral("after");
    builds.append({name, qEnvironmentVariable("CORVANE_BENCH_BINARY")});

    std::printf("BENCH remote latency: %s ms each way (%s), measured round trip %.1f ms; ms after the third space's "
                "press as the X server hands it out; opened: the connection accepted at the server, req.line: the "
                "request's first bytes there, token: the first token set in the panel\n",
                qPrintable(qEnvironmentVariable("CORVANE_BENCH_DELAY_MS")),
                qPrintable(qEnvironmentVariable("CORVANE_BENCH_LINK")), rttMs);
    printRunsHeader();
    QList<QList<Run>> results;
    for (const auto& [build, binary] : builds) {
        QList<Run> runs;
        for (int start = 1; start <= starts; ++start) {
            CorvaneProcess corvane({.endpoint = endpoint, .apiTimeoutSeconds = 60, .binary = binary,
                                    .launcher = {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                                                 qEnvironmentVariable("CORVANE_BENCH_NETNS")}});
            QString why;
            if (!corvane.start(&why)) {
                std::printf("corvane did not start: %s\n", qPrintable(why));
                return 1;
            }
            const PanelProbe panel(corvane.pid());
            // The entry starts after corvane, as in a session where corvane starts with the desktop.
            const auto entry = startGtkEntry(QStringLiteral("Please make this sentence sound better"));
            if (!waitUntil([] { return activeWindowTitle().contains(QStringLiteral("Corvane e2e entry")); })) {
                std::printf("the GTK entry did not come up\n");
                return 1;
            }
            pressKeys({QStringLiteral("ctrl+End")});
            testsupport::settle(2000);
            const auto record = [&](Run run, bool cold, int idleSeconds) {
                run.cold = cold;
                run.idleSeconds = idleSeconds;
                run.label = (build.isEmpty() ? QString() : build + QLatin1Char(' ')) +
                            (cold ? QStringLiteral("cold %1") : QStringLiteral("warm %1")).arg(start);
                runs.append(run);
                printRun(run);
            };
            record(runOnce(log, keyAtUs, corvane, panel), true, 0);
            for (const int gap : warmGaps()) {
                testsupport::settle(gap * 1000);
                record(runOnce(log, keyAtUs, corvane, panel), false, gap);
            }
        }
        results.append(runs);
    }
    for (qsizetype i = 0; i < builds.size(); ++i)
        printSummary(builds[i].first, results[i], rttMs, i + 1 == builds.size());
    return 0;
}
