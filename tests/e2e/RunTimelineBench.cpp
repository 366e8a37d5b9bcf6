// Where a run's time goes, from the key that starts it to its request at the model server: the
// real binary marks each step on the system's monotonic clock (CORVANE_RUN_TRACE), the scenario
// stamps the key as the X server hands it out, the request's first bytes (its request line) and the
// whole request as they arrive at the model server, and prints medians of 20 runs per application
// and trigger. Nothing is asserted about time. Runs only with
// CORVANE_E2E_BENCH=1 (target bench_run_timeline); with CORVANE_BENCH_BASE_BINARY set to another
// build of corvane, the same runs go through that build too, side by side in one table;
// CORVANE_BENCH_FIELD=<part of a name> keeps only the fields whose name holds it.
#include "e2e/ScenarioFixture.h"
#include "platform/RunTrace.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/XInputKeyTap.h"
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>

namespace corvane::e2e {
namespace {

using platform::runtrace::nowUs;

// The steps the binary marks, in the order a run passes them.
const char* const kSteps[] = {"key",  "fired", "run",     "app",     "found",   "facts",   "text", "info",
                              "begin", "body",  "proxy",   "connect", "written", "started", "shown"};
constexpr int kRuns = 20;

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v[v.size() / 2];
}

QString loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2) : QString();
}

struct Field {
    const char* name;
    QString title; // a part of the window title
    std::function<std::unique_ptr<App>(const QString& dir)> start;
};

// A long text of ordinary lines, about kb kilobytes.
QString longText(int kb) {
    QString text;
    for (int line = 0; text.size() < kb * 1024; ++line)
        text += QStringLiteral("Line %1 of a long field, with words enough to wrap in a narrow window.\n").arg(line);
    return text;
}

QList<Field> fields() {
    QList<Field> out;
    out.append({"GTK entry", QStringLiteral("Corvane e2e entry"), [](const QString&) {
                    return startGtkEntry(QStringLiteral("Please make this sentence sound better"));
                }});
    out.append({"Qt editor", QStringLiteral("Corvane test editor"), [](const QString&) {
                    return startQtEditor({QStringLiteral("--plain"), QStringLiteral("Please make this note sound better"),
                                          QStringLiteral("--focus"), QStringLiteral("plain")});
                }});
    out.append({"Qt editor 100 KB", QStringLiteral("Corvane test editor"), [](const QString&) {
                    return startQtEditor({QStringLiteral("--plain"), longText(100), QStringLiteral("--focus"),
                                          QStringLiteral("plain")});
                }});
    if (!QStandardPaths::findExecutable(QStringLiteral("geany")).isEmpty())
        out.append({"Geany", QStringLiteral("note.txt"), [](const QString& dir) {
                        QDir().mkpath(dir + QStringLiteral("/geany"));
                        QFile note(dir + QStringLiteral("/note.txt"));
                        if (note.open(QIODevice::WriteOnly))
                            note.write("Please make this note sound better");
                        note.close();
                        return std::make_unique<App>(
                            QStringLiteral("geany"),
                            QStringList{QStringLiteral("--new-instance"), QStringLiteral("--no-session"),
                                        QStringLiteral("--no-plugins"), QStringLiteral("--config=") + dir +
                                                                            QStringLiteral("/geany"),
                                        dir + QStringLiteral("/note.txt")});
                    }});
    return out;
}

class RunTimeline : public Scenario {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("CORVANE_E2E_BENCH"))
            GTEST_SKIP() << "a benchmark: runs with CORVANE_E2E_BENCH=1 (ninja bench_run_timeline)";
        Scenario::SetUp();
    }

    struct Row {
        QString label;
        QHash<QString, QList<double>> steps; // ms after the key
        QList<double> requestLine; // the request's first bytes at the server
        QList<double> request;     // the whole request
        QList<double> plainRead; // the field's text read by a plain accessibility client
        int runs = 0;
        int failed = 0; // runs that sent no request or did not end
    };

    // One run: the keys, the request's arrival, then Cancel. The marks the binary printed for it,
    // in ms after the key as this process saw it.
    bool runOnce(bool hotkey, Row& row) {
        const qsizetype from = corvane->output().size();
        m_hotkey = hotkey;
        m_keyAtUs = -1;
        m_startedAtUs = -1;
        m_arrivedAtUs = -1;
        if (!hotkey) {
            // The monitor rests for two seconds after each triple space.
            while (nowUs() - m_lastTripleUs < 2200 * 1000)
                waitUntil([] { return false; }, 50);
        }
        if (!pressKeysPromptly(hotkey ? QStringList{QStringLiteral("ctrl+alt+space")}
                                      : QStringList{QStringLiteral("space"), QStringLiteral("space"),
                                                    QStringLiteral("space")}))
            return false;
        if (!hotkey)
            m_lastTripleUs = nowUs();
        if (!waitPromptly([&] { return m_arrivedAtUs >= 0; }, 10000) || m_keyAtUs < 0 || m_startedAtUs < 0) {
            // No request (the field was not read): the panel's error is closed for the next run.
            waitUntil([&] { return panel->click(QStringLiteral("Close")); }, 3000);
            waitPanelHidden();
            return false;
        }
        const bool cancelled = waitUntil([&] { return panel->shows(QStringLiteral("Partial answer")); }) &&
                               waitUntil([&] { return panel->click(QStringLiteral("Cancel")); }) && waitPanelHidden();
        waitUntil([&] { return corvane->output().indexOf("run-trace written", from) >= 0; }, 2000);
        const QString trace = corvane->output().mid(from);
        for (const QString& line : trace.split(QLatin1Char('\n'))) {
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts.size() == 3 && parts[0] == QLatin1String("run-trace"))
                row.steps[parts[1]].append((parts[2].toLongLong() - m_keyAtUs) / 1000.0);
        }
        row.requestLine.append((m_startedAtUs - m_keyAtUs) / 1000.0);
        row.request.append((m_arrivedAtUs - m_keyAtUs) / 1000.0);
        ++row.runs;
        return cancelled;
    }

    void print(const QList<Row>& rows) {
        std::printf("\nBENCH run timeline: ms after the key (the third space's press, or the hotkey's release as "
                    "the X server hands it out), median of %d; req.line: the request's first bytes at the server, "
                    "whole: all of it; load average %s\n",
                    kRuns, qPrintable(loadAverage()));
        std::printf("%-38s", "");
        for (const char* step : kSteps)
            std::printf("%8s", step);
        std::printf("%9s%9s%9s%9s%9s%7s\n", "req.line", "min", "max", "whole", "plain", "failed");
        for (const Row& row : rows) {
            std::printf("%-38s", qPrintable(row.label));
            for (const char* step : kSteps) {
                const QList<double> v = row.steps.value(QString::fromLatin1(step));
                if (v.isEmpty())
                    std::printf("%8s", "-");
                else
                    std::printf("%8.1f", median(v));
            }
            const QList<double>& line = row.requestLine;
            std::printf("%9.1f%9.1f%9.1f%9.1f%9.1f%7d\n", median(line),
                        line.isEmpty() ? -1.0 : *std::min_element(line.begin(), line.end()),
                        line.isEmpty() ? -1.0 : *std::max_element(line.begin(), line.end()), median(row.request),
                        median(row.plainRead), row.failed);
        }
        std::fflush(stdout);
    }

    bool m_hotkey = false;
    qint64 m_keyAtUs = -1;
    qint64 m_startedAtUs = -1;
    qint64 m_arrivedAtUs = -1;
    qint64 m_lastTripleUs = 0;
};

TEST_F(RunTimeline, ThirdSpaceAndHotkeyToRequest) {
    qputenv("CORVANE_RUN_TRACE", "1");
    server.setReadChunk(4096);
    QObject::connect(&server, &test::TestHttpServer::requestStarted, [&] { m_startedAtUs = nowUs(); });
    server.respond([&](const test::RecordedRequest&) {
        m_arrivedAtUs = nowUs();
        return streamedAnswer({QStringLiteral("Partial answer ")}, 0, false);
    });
    platform::linux_::X11Connection x11;
    platform::linux_::XInputKeyTap tap(x11);
    ASSERT_TRUE(tap.start([&](const platform::KeyEvent& e) {
        if (e.keyCode == 49 && e.pressed != m_hotkey)
            m_keyAtUs = nowUs();
    })) << tap.lastError().toStdString();

    QList<std::pair<QString, QString>> builds;
    if (const QString base = qEnvironmentVariable("CORVANE_BENCH_BASE_BINARY"); !base.isEmpty())
        builds.append({QStringLiteral("before"), base});
    builds.append({QStringLiteral("after"), QString()});

    // Corvane runs first and the application starts after it, as in a session where Corvane starts
    // with the desktop: the application's focus reaches it as an event.
    QList<Row> rows;
    for (const auto& [buildName, binary] : builds) {
        CorvaneProcess::Settings settings;
        settings.ctrlAltSpaceHotkey = true;
        settings.apiTimeoutSeconds = 600;
        settings.binary = binary;
        startCorvane(settings);
        for (const Field& field : fields()) {
            if (!QString::fromLatin1(field.name).contains(qEnvironmentVariable("CORVANE_BENCH_FIELD")))
                continue;
            SCOPED_TRACE(field.name);
            auto window = field.start(scratch(QString::fromLatin1(field.name).replace(QLatin1Char(' '), QLatin1Char('-'))));
            ASSERT_TRUE(waitUntil([&] { return activeWindowTitle().contains(field.title); }, 60000))
                << field.name << " did not come up; active: " << activeWindowTitle().toStdString();
            ASSERT_TRUE(pressKeys({QStringLiteral("ctrl+End")}));
            for (const bool hotkey : {false, true}) {
                Row row;
                row.label = QStringLiteral("%1 %2 %3").arg(buildName, QString::fromLatin1(field.name),
                                                           hotkey ? QStringLiteral("hotkey") : QStringLiteral("3 spaces"));
                for (int i = 0; i < kRuns; ++i)
                    if (!runOnce(hotkey, row))
                        ++row.failed;
                // The same field's text read the plain way: one call on an element already found.
                platform::linux_::AtspiAccessibility plain;
                if (const platform::ElementRef element = plain.searchFocusedElement())
                    for (int i = 0; i < kRuns; ++i) {
                        const qint64 from = nowUs();
                        if (plain.value(element))
                            row.plainRead.append((nowUs() - from) / 1000.0);
                    }
                rows.append(row);
                print({row});
            }
            window.reset();
        }
        corvane.reset();
    }
    print(rows);
}

} // namespace
} // namespace corvane::e2e
