// Figures for the model client: how fast answer streams are split into lines and read per format
// (bytes per second), what one token costs from the socket to the consumer's event on loopback, and
// the client's peak memory against servers that never stop sending (one child process per case).
// Prints figures only.
#include "llm/FastJson.h"
#include "llm/LLMClient.h"
#include "llm/LineSplitter.h"
#include "llm/SsePayload.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QProcess>
#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <vector>
#include <unistd.h>

using corvane::llm::APIFormat;
using corvane::llm::LLMClient;

namespace {

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

// A provider-shaped stream of n short tokens.
QByteArray streamOf(APIFormat format, int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        const QString token = QStringLiteral(" word%1").arg(i % 100);
        switch (format.value()) {
        case APIFormat::OpenAI:
            out += "data: " + compact({{"id", "chatcmpl-1"}, {"object", "chat.completion.chunk"},
                                       {"choices", QJsonArray{QJsonObject{{"index", 0}, {"delta", QJsonObject{{"content", token}}}}}}}) + "\n\n";
            break;
        case APIFormat::Anthropic:
            out += "event: content_block_delta\ndata: " +
                   compact({{"type", "content_block_delta"}, {"index", 0},
                            {"delta", QJsonObject{{"type", "text_delta"}, {"text", token}}}}) + "\n\n";
            break;
        case APIFormat::Gemini:
            out += "data: " + compact({{"candidates", QJsonArray{QJsonObject{{"content", QJsonObject{
                                          {"parts", QJsonArray{QJsonObject{{"text", token}}}}, {"role", "model"}}}}}}}) + "\r\n\r\n";
            break;
        }
    }
    if (format == APIFormat::OpenAI)
        out += "data: [DONE]\n\n";
    return out;
}

// A model client on in-memory settings, pointed at a local server.
struct LocalClient {
    LocalClient(APIFormat format, const QString& endpoint) {
        store.setApiFormatRaw(format.rawValue());
        store.setApiEndpoint(endpoint);
    }

    // Runs one request to its end (30 s at most), calling onToken after each token; returns the
    // number of tokens that came.
    int streamTokens(const std::function<void()>& onToken = {}) {
        int tokens = 0;
        bool ended = false;
        auto stream = client.optimize(QStringLiteral("p"), QStringLiteral("s"));
        QObject::connect(stream.get(), &corvane::llm::ModelStream::event, [&](const corvane::llm::StreamEvent& e) {
            if (e.isTerminal()) {
                ended = true;
                return;
            }
            ++tokens;
            if (onToken)
                onToken();
        });
        QDeadlineTimer deadline(30000);
        while (!ended && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return tokens;
    }

    corvane::platform::fake::MemoryPreferences prefs;
    corvane::platform::fake::MemorySecretStore secrets;
    corvane::stores::KeychainHelper keychain{secrets};
    corvane::stores::SettingsStore store{prefs, keychain};
    LLMClient client{store};
};

// range(1) == 1: Qt's JSON reader alone, for comparison.
void BM_SplitAndExtract(benchmark::State& state) {
    const APIFormat format = APIFormat::allCases().at(static_cast<qsizetype>(state.range(0)));
    const bool fullReaderOnly = state.range(1) == 1;
    const QByteArray body = streamOf(format, 2000);
    qint64 chars = 0;
    for (auto _ : state) {
        corvane::llm::LineSplitter splitter(LLMClient::maxBodyBytes);
        auto sink = [&](QByteArrayView line) {
            if (const auto payload = corvane::llm::ssePayload(line); payload && !corvane::llm::isDoneMarker(*payload)) {
                const auto text = fullReaderOnly ? corvane::llm::eventTextFullReader(*payload, format)
                                                 : LLMClient::content(*payload, format);
                if (text)
                    chars += text->size();
            }
            return true;
        };
        // Arrives in network-sized pieces.
        for (qsizetype at = 0; at < body.size(); at += 16384)
            splitter.feed(QByteArrayView(body).sliced(at, std::min<qsizetype>(16384, body.size() - at)), sink);
        splitter.finish(sink);
    }
    benchmark::DoNotOptimize(chars);
    state.SetBytesProcessed(state.iterations() * body.size());
    state.SetLabel(format.rawValue().toStdString() + (fullReaderOnly ? " (Qt reader only)" : ""));
}
BENCHMARK(BM_SplitAndExtract)->ArgsProduct({{0, 1, 2}, {0, 1}});

// Where an event's time goes: the same stream taken one step further per stage, each printed as
// time per event (at 1 GB/s an event may take as many ns as it has bytes). 0: lines split; 1: the
// payload cut out of each event line; 2: the payload also copied into a buffer blank-filled to whole
// 64-byte blocks and parsed by the library alone (parser reused); 3: the payload and a short token
// made and dropped as a QString, nothing parsed; 4: the whole quick path (parse, walk, token).
void BM_EventCost(benchmark::State& state) {
    const APIFormat format = APIFormat::allCases().at(static_cast<qsizetype>(state.range(0)));
    const int stage = static_cast<int>(state.range(1));
    constexpr int kEvents = 2000;
    const QByteArray body = streamOf(format, kEvents);
    simdjson::dom::parser parser;
    std::vector<char> padded(65536 + simdjson::SIMDJSON_PADDING);
    qint64 sum = 0;
    for (auto _ : state) {
        corvane::llm::LineSplitter splitter(LLMClient::maxBodyBytes);
        auto sink = [&](QByteArrayView line) {
            if (stage == 0) {
                sum += line.size();
                return true;
            }
            const auto payload = corvane::llm::ssePayload(line);
            if (!payload || corvane::llm::isDoneMarker(*payload))
                return true;
            switch (stage) {
            case 1:
                sum += payload->size();
                break;
            case 2: { // as the quick reader does it: blanks up to whole 64-byte blocks
                const auto size = static_cast<size_t>(payload->size());
                const size_t blocks = (size + 63) & ~size_t(63);
                std::memcpy(padded.data(), payload->data(), size);
                std::memset(padded.data() + size, ' ', blocks - size);
                simdjson::dom::element root;
                sum += parser.parse(padded.data(), blocks, false).get(root) == simdjson::SUCCESS;
                break;
            }
            case 3:
                sum += QString::fromUtf8(payload->last(std::min<qsizetype>(7, payload->size()))).size();
                break;
            default:
                if (const auto text = LLMClient::content(*payload, format))
                    sum += text->size();
                break;
            }
            return true;
        };
        for (qsizetype at = 0; at < body.size(); at += 16384)
            splitter.feed(QByteArrayView(body).sliced(at, std::min<qsizetype>(16384, body.size() - at)), sink);
        splitter.finish(sink);
    }
    benchmark::DoNotOptimize(sum);
    state.counters["per_event"] = benchmark::Counter(static_cast<double>(state.iterations() * kEvents),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["bytes_per_event"] = static_cast<double>(body.size()) / kEvents;
    static const char* const names[] = {"split", "payload", "library parse", "token", "quick path"};
    state.SetLabel(format.rawValue().toStdString() + ": " + names[stage]);
}
BENCHMARK(BM_EventCost)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3, 4}});

// A server that answers every connection with the same stream and closes.
class StreamServer : public QObject {
public:
    explicit StreamServer(QByteArray body) : m_body(std::move(body)) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n") || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n");
                    socket->write(m_body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

private:
    QTcpServer m_server;
    QByteArray m_body;
};

void BM_TokenSocketToEvent(benchmark::State& state) {
    constexpr int kTokens = 2000;
    const APIFormat format = APIFormat::allCases().at(static_cast<qsizetype>(state.range(0)));
    StreamServer server(streamOf(format, kTokens));
    LocalClient local(format, server.url());

    for (auto _ : state) {
        if (local.streamTokens() != kTokens)
            state.SkipWithError("the stream did not deliver every token");
    }
    state.SetItemsProcessed(state.iterations() * kTokens);
    // Seconds per token (printed with an SI prefix, e.g. "1.5u" for 1.5 µs).
    state.counters["time_per_token"] = benchmark::Counter(static_cast<double>(state.iterations() * kTokens),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(format.rawValue().toStdString());
}
BENCHMARK(BM_TokenSocketToEvent)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// One token at a time: the next token is written only after the previous one reached the consumer,
// so each iteration measures the whole way from the socket write to the event.
class PacedServer : public QObject {
public:
    explicit PacedServer(QList<QByteArray> lines) : m_lines(std::move(lines)) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                m_socket = socket;
                m_next = 0;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n") || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n");
                    sendNext();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    void sendNext() {
        if (!m_socket)
            return;
        if (m_next < m_lines.size()) {
            m_socket->write(m_lines[m_next++]);
            m_socket->flush();
        } else {
            m_socket->disconnectFromHost();
        }
    }

private:
    QTcpServer m_server;
    QList<QByteArray> m_lines;
    QPointer<QTcpSocket> m_socket;
    qsizetype m_next = 0;
};

void BM_TokenRoundTrip(benchmark::State& state) {
    constexpr int kTokens = 200;
    QList<QByteArray> lines;
    for (const QByteArray& event : streamOf(APIFormat::OpenAI, kTokens).split('\n')) {
        if (!event.isEmpty())
            lines.append(event + "\n\n");
    }
    PacedServer server(lines);
    LocalClient local(APIFormat::OpenAI, server.url());

    for (auto _ : state) {
        if (local.streamTokens([&] { server.sendNext(); }) != kTokens)
            state.SkipWithError("the stream did not deliver every token");
    }
    state.counters["time_per_token"] = benchmark::Counter(static_cast<double>(state.iterations() * kTokens),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TokenRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- Peak memory against endless bodies ----

// A value of /proc/self/status in KiB ("VmRSS", "VmHWM").
long statusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

struct EndlessCase {
    const char* name;
    int status;
    QByteArray start;  // sent once after the head
    QByteArray repeat; // then sent over and over, chunked
};

const EndlessCase kEndlessCases[] = {
    {"error_body", 500, "Internal failure: ", QByteArray("again and again ").repeated(4096)},
    {"one_line", 200, "data: ", QByteArray(65536, 'y')},
    {"comments", 200, "", QByteArray(": keep-alive, nothing to see here\n").repeated(2048)},
    {"valid_tokens", 200, "",
     QByteArray("data: {\"choices\":[{\"delta\":{\"content\":\"tok \"}}]}\n\n").repeated(1024)},
};

// A server on its own thread that writes as fast as the client takes it, until the client closes,
// 4 GiB went out or 30 s passed. Blocking sockets, one connection.
class FloodServer {
public:
    explicit FloodServer(const EndlessCase& c) : m_case(c) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_listener, 1);
        bound(m_listener); // a child that never connects does not hold the run up
        m_thread = std::thread([this] { serve(); });
    }
    ~FloodServer() {
        wait();
        ::close(m_listener);
    }
    // Until the connection is over.
    void wait() {
        if (m_thread.joinable())
            m_thread.join();
    }
    int port() const { return m_port; }
    qint64 sent() const { return m_sent; }
    double secondsToClose() const { return m_seconds; }

private:
    static QByteArray chunk(const QByteArray& bytes) {
        return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
    }
    bool sendAll(int fd, const QByteArray& bytes) {
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            at += n;
            m_sent += n;
        }
        return true;
    }
    // Every blocking call on fd gives up after a few seconds.
    static void bound(int fd) {
        const timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    void serve() {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        bound(fd);
        QByteArray request;
        char buffer[65536];
        while (!request.contains("\r\n\r\n")) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, n);
        }
        const auto begin = std::chrono::steady_clock::now();
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_case.status) +
                          " Status\r\nContent-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n";
        if (!m_case.start.isEmpty())
            head += chunk(m_case.start);
        const QByteArray piece = chunk(m_case.repeat);
        bool open = sendAll(fd, head);
        while (open && m_sent < (qint64(4) << 30) && std::chrono::steady_clock::now() - begin < std::chrono::seconds(30))
            open = sendAll(fd, piece);
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ::close(fd);
    }

    const EndlessCase& m_case;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<qint64> m_sent{0};
    double m_seconds = 0;
    std::thread m_thread;
};

// In the child: one request against the flood server; prints the end and the memory figures.
int runEndlessChild(int port) {
    LocalClient local(APIFormat::OpenAI, QStringLiteral("http://127.0.0.1:%1").arg(port));
    local.store.setApiTimeout(30);
    const long idle = statusKiB("VmHWM");
    QString end;
    int tokens = 0;
    bool ended = false;
    auto stream = local.client.optimize(QStringLiteral("p"), QStringLiteral("s"));
    QObject::connect(stream.get(), &corvane::llm::ModelStream::event, [&](const corvane::llm::StreamEvent& e) {
        if (!e.isTerminal()) {
            ++tokens;
            return;
        }
        ended = true;
        end = e.type == corvane::llm::StreamEvent::Type::Done ? QStringLiteral("done") : e.kind;
    });
    QDeadlineTimer deadline(60000);
    while (!ended && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("end=%s tokens=%d idle_kib=%ld peak_kib=%ld\n", qPrintable(end), tokens, idle, statusKiB("VmHWM"));
    return 0;
}

void printEndlessPeaks(const char* self) {
    std::printf("\nPeak memory of the client against endless bodies (child process per case)\n");
    std::printf("%-14s %-18s %10s %10s %10s %12s %8s\n", "body", "end", "idle MiB", "peak MiB", "above MiB",
                "sent MiB", "close s");
    for (const EndlessCase& c : kEndlessCases) {
        FloodServer server(c);
        QProcess child;
        child.start(QString::fromLocal8Bit(self), {QStringLiteral("--endless_child=%1").arg(server.port())});
        child.waitForFinished(90000);
        const QByteArray out = child.readAllStandardOutput().trimmed();
        char end[64] = "?";
        int tokens = 0;
        long idle = 0, peak = 0;
        std::sscanf(out.constData(), "end=%63s tokens=%d idle_kib=%ld peak_kib=%ld", end, &tokens, &idle, &peak);
        server.wait();
        std::printf("%-14s %-18s %10.1f %10.1f %10.1f %12.1f %8.2f\n", c.name, end, idle / 1024.0, peak / 1024.0,
                    (peak - idle) / 1024.0, server.sent() / 1048576.0, server.secondsToClose());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--endless_child=", 16) == 0)
            return runEndlessChild(std::atoi(argv[i] + 16));
    }
    bool peaksOnly = false;
    bool noPeaks = false;
    for (int i = 1; i < argc; ++i) {
        peaksOnly |= std::strcmp(argv[i], "--peaks_only") == 0;
        noPeaks |= std::strcmp(argv[i], "--no_peaks") == 0;
    }
    if (!peaksOnly) {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    if (!noPeaks)
        printEndlessPeaks(argv[0]);
    return 0;
}
