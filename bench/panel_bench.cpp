// Figures for the run's path through the real panel (offscreen): what one streamed token costs at
// the start and at the end of a 1 MB answer, the longest time the main thread is held while it
// streams, and the time from the trigger to the request on the wire for a short and a 100 KB field.
// Prints figures only; nothing here is asserted.
#include "llm/LLMClient.h"
#include "llm/ResponseSanitizer.h"
#include "panel/FloatingPanelController.h"
#include "panel/FloatingPanelView.h"
#include "panel/PanelWidgets.h"
#include "panel/StoreRecipeCatalog.h"
#include "platform/SystemClock.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemorySystemLog.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"
#include "trigger/TriggerEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace corvane;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A model stream the benchmark plays event by event, as the model client delivers them.
class PlayedStream final : public llm::ModelStream {
public:
    void stop() override { m_finished = true; }
    bool isFinished() const override { return m_finished; }
    void play(const llm::StreamEvent& e) { Q_EMIT event(e); }

private:
    bool m_finished = false;
};

class PlayedModel final : public llm::ModelClient {
public:
    std::unique_ptr<llm::ModelStream> optimize(const QString&, const QString&, const QList<llm::ChatMessage>&) override {
        auto stream = std::make_unique<PlayedStream>();
        last = stream.get();
        return stream;
    }
    PlayedStream* last = nullptr;
};

struct NoActivity final : trigger::ActivitySink {
    void setActivity(trigger::AppActivity) override {}
};
struct NoUsage final : trigger::UsageEvents {
    void track(const QString&, const QVariantMap&) override {}
};
struct NoUpdate final : trigger::UpdateGate {
    bool isUpdateRequired() const override { return false; }
    void showForcedUpdateWindow() override {}
};
struct OneScreen final : panel::DesktopGeometry {
    QList<panel::ScreenArea> screens() const override { return {{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1080)}}; }
    QPointF pointer() const override { return {700, 400}; }
};

// The engine over the fake desktop, in-memory stores with a full activity log, and the real panel.
struct Session {
    explicit Session(llm::ModelClient& model) : engine({desktop, desktop, desktop.clipboard(), desktop, clock, model,
                                                        controller, activity, usage, updates, settings, recipes,
                                                        profiles, logger}) {
        stores::DiagLog::configure(&systemLog, &clock, QString());
        settings.setApiKey(QStringLiteral("sk-bench"), settings.apiVendorID());
        controller.setEngine(engine);
        for (int i = 0; i < stores::OptimizationLogger::maxEntries; ++i)
            logger.log(stores::OptimizationLog::LogStatus::Completed, QStringLiteral("earlier input %1").arg(i),
                       QStringLiteral("earlier answer"), std::nullopt, QStringLiteral("Optimize"),
                       QStringLiteral("app=org.gnome.TextEditor"));
        auto& window = desktop.openWindow(7, QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), 4007);
        platform::fake::FakeField f;
        f.role = QStringLiteral("entry");
        field = desktop.addField(window, f);
    }
    ~Session() { stores::DiagLog::configure(nullptr, nullptr, QString()); }

    platform::fake::FakeClock clock;
    platform::fake::FakeDesktop desktop{clock};
    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    platform::fake::MemorySystemLog systemLog;
    stores::KeychainHelper keychain{secrets};
    stores::SettingsStore settings{prefs, keychain};
    stores::RecipeStore recipes{prefs, clock, {QStringLiteral("en-US")}};
    stores::AppProfileStore profiles{prefs, clock, {QStringLiteral("en-US")}};
    stores::OptimizationLogger logger{prefs, clock};
    panel::StoreRecipeCatalog catalog{recipes, profiles};
    OneScreen screens;
    platform::SystemClock realClock;  // the panel paces its drawing in real time
    panel::FloatingPanelController controller{catalog, prefs, realClock, screens};
    NoActivity activity;
    NoUsage usage;
    NoUpdate updates;
    trigger::TriggerEngine engine;
    std::shared_ptr<platform::fake::FakeField> field;
};

// About 1 MB of answer in tokens of a few characters, in paragraphs.
QStringList answerTokens(qsizetype bytes) {
    static const char* words[] = {" the", " quick", " brown", " fox", " jumps", " over", " a", " lazy", " dog,",
                                  " and", " then", " it", " writes", " another", " sentence."};
    QStringList out;
    qsizetype size = 0;
    for (int i = 0; size < bytes; ++i) {
        QString token = QString::fromLatin1(words[i % 15]);
        if (i % 120 == 119)
            token += QStringLiteral("\n\n");
        size += token.size();
        out << token;
    }
    return out;
}

// Spins the event loop (10 s at most) until done; longest: the longest single turn.
void processUntil(const std::function<bool()>& done, Clock::duration* longest) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!done() && Clock::now() < deadline) {
        const auto t = Clock::now();
        QApplication::processEvents(QEventLoop::AllEvents);
        *longest = std::max(*longest, Clock::now() - t);
    }
}

bool panelCaughtUp(Session& s) {
    auto* view = s.controller.view();
    auto* box = view ? view->findChild<panel::PlainTextBox*>(QStringLiteral("resultText")) : nullptr;
    return box && box->document()->characterCount() - 1 == s.controller.state().optimizedText().size();
}

Clock::duration threadCpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// Streams a 1 MB answer, tokensPerRead tokens per read of the socket, the reads `pace` apart (the
// main thread sleeps in between, as it would wait for the network). Per-token figures are the main
// thread's CPU time; a stall is the wall time of one read with the event-loop turn after it.
void streamAnswer(int tokensPerRead, std::chrono::microseconds pace) {
    PlayedModel model;
    Session s(model);
    s.field->text = QStringLiteral("Please fix teh grammer in this sentense");
    auto run = s.engine.trigger(std::nullopt);
    QApplication::processEvents();
    PlayedStream* stream = model.last;
    const QStringList tokens = answerTokens(1 << 20);
    const qsizetype window = tokens.size() / 10; // the first and the last tenth
    Clock::duration longest{}, first{}, last{};
    qsizetype firstTokens = 0, lastTokens = 0;
    const auto started = Clock::now();
    for (qsizetype at = 0; at < tokens.size(); at += tokensPerRead) {
        const auto t = Clock::now();
        const auto cpu = threadCpu();
        const qsizetype end = std::min<qsizetype>(tokens.size(), at + tokensPerRead);
        for (qsizetype i = at; i < end; ++i)
            stream->play(llm::StreamEvent::token(tokens.at(i)));
        QApplication::processEvents(QEventLoop::AllEvents);
        longest = std::max(longest, Clock::now() - t);
        const auto spent = threadCpu() - cpu;
        if (at < window) {
            first += spent;
            firstTokens += end - at;
        }
        if (end > tokens.size() - window) {
            last += spent;
            lastTokens += end - at;
        }
        std::this_thread::sleep_for(pace);
    }
    Clock::duration later{};
    processUntil([&] { return panelCaughtUp(s); }, &later);
    const auto streamed = Clock::now() - started;
    auto t = Clock::now();
    stream->play(llm::StreamEvent::done());
    Clock::duration doneStall = Clock::now() - t;
    processUntil([&] { return panelCaughtUp(s); }, &doneStall);
    auto* box = s.controller.view()->findChild<panel::PlainTextBox*>(QStringLiteral("resultText"));
    const QString expected = llm::ResponseSanitizer::clean(tokens.join(QString()), s.field->text);
    const bool exact = s.controller.state().optimizedText() == expected && box->toPlainText() == expected;
    if (tokensPerRead >= tokens.size()) {
        std::printf("stream 1 MB answer in one read: %zu tokens | handling the read %7.1f ms, longest turn after it "
                    "%6.1f ms, shown after %7.1f ms | end of stream %6.1f ms | text exact: %s\n",
                    size_t(tokens.size()), ms(longest), ms(later), ms(streamed), ms(doneStall), exact ? "yes" : "NO");
    } else {
        const double perFirst = ms(first) * 1000 / double(firstTokens);
        const double perLast = ms(last) * 1000 / double(lastTokens);
        std::printf("stream 1 MB answer, %3d tokens per read: %zu tokens in %7.1f ms | per token first tenth %5.2f us, "
                    "last tenth %5.2f us (ratio %.2f) | longest stall %5.1f ms | end of stream %6.1f ms | text exact: %s\n",
                    tokensPerRead, size_t(tokens.size()), ms(streamed), perFirst, perLast, perLast / perFirst,
                    ms(std::max(longest, later)), ms(doneStall), exact ? "yes" : "NO");
    }
    std::fflush(stdout);
    s.engine.cancel();
    QApplication::processEvents();
}

// A plain HTTP server on its own thread: records when each request's head arrived and answers with
// a one-token stream.
class WireServer {
public:
    WireServer() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_fd, 16);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~WireServer() {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_thread.join();
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/v1").arg(m_port); }
    std::atomic<Clock::rep> arrived{0};

private:
    void serve() {
        while (!m_stop) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                return;
            std::string head;
            char buf[65536];
            bool seen = false;
            qsizetype bodyLeft = -1;
            while (true) {
                const ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                if (!seen) {
                    seen = true;
                    arrived = Clock::now().time_since_epoch().count();
                }
                head.append(buf, size_t(n));
                const auto end = head.find("\r\n\r\n");
                if (end == std::string::npos)
                    continue;
                if (bodyLeft < 0) {
                    const auto cl = head.find("ontent-Length: ");
                    bodyLeft = cl == std::string::npos ? 0 : std::stoll(head.substr(cl + 15));
                }
                if (qsizetype(head.size() - end - 4) >= bodyLeft)
                    break;
            }
            const char answer[] = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n"
                                  "data: {\"choices\":[{\"delta\":{\"content\":\"Fixed.\"}}]}\n\ndata: [DONE]\n\n";
            ::send(c, answer, sizeof answer - 1, MSG_NOSIGNAL);
            ::close(c);
        }
    }
    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Trigger → request on the wire, the median of several runs, for a field of the given size.
void triggerToRequest(WireServer& server, const QString& label, const QString& text) {
    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    stores::KeychainHelper keychain{secrets};
    stores::SettingsStore llmSettings{prefs, keychain};
    llmSettings.setApiEndpoint(server.url());
    llmSettings.setApiKey(QStringLiteral("sk-bench"), llmSettings.apiVendorID());
    llm::LLMClient client(llmSettings);
    Session s(client);
    s.field->text = text;
    std::vector<double> figures;
    for (int i = 0; i < 15; ++i) {
        server.arrived = 0;
        const auto t = Clock::now();
        auto run = s.engine.trigger(std::nullopt);
        Clock::duration ignored{};
        processUntil([&] { return s.engine.state().kind != trigger::TriggerState::Kind::Optimizing; }, &ignored);
        if (server.arrived == 0 || s.engine.state().kind != trigger::TriggerState::Kind::Result) {
            std::printf("trigger → request (%s): the run did not reach the server\n", qPrintable(label));
            return;
        }
        figures.push_back(ms(Clock::duration(server.arrived.load()) - t.time_since_epoch()));
        s.engine.cancel();
        // The next run starts once this one's panel has settled, as it would for a user.
        processUntil(
            [&] {
                const auto boxes = s.controller.view()->findChildren<panel::PlainTextBox*>();
                return std::all_of(boxes.begin(), boxes.end(), [](auto* b) { return b->isComplete(); });
            },
            &ignored);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        QApplication::processEvents();
    }
    std::sort(figures.begin(), figures.end());
    std::printf("trigger → request on the wire, %-14s median %6.2f ms (min %6.2f, max %6.2f)\n", qPrintable(label),
                figures[figures.size() / 2], figures.front(), figures.back());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    {
        WireServer server;
        triggerToRequest(server, QStringLiteral("short field:"), QStringLiteral("Please fix teh grammer in this sentense"));
        triggerToRequest(server, QStringLiteral("100 KB field:"),
                         QStringLiteral("A sentence of a long document, with teh usual typos in it. ").repeated(1700));
    }
    using std::chrono::microseconds;
    streamAnswer(8, microseconds(250));
    streamAnswer(64, microseconds(2000));
    streamAnswer(1 << 30, microseconds(0));
    return 0;
}
