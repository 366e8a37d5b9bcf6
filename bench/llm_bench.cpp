// Figures for the model client: how fast answer streams are split into lines and read per format
// (bytes per second), and what one token costs from the socket to the consumer's event on loopback.
// Prints figures only.
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
#include <benchmark/benchmark.h>
#include <functional>

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

void BM_SplitAndExtract(benchmark::State& state) {
    const APIFormat format = APIFormat::allCases().at(static_cast<qsizetype>(state.range(0)));
    const QByteArray body = streamOf(format, 2000);
    qint64 chars = 0;
    for (auto _ : state) {
        corvane::llm::LineSplitter splitter(LLMClient::maxBodyBytes);
        auto sink = [&](QByteArrayView line) {
            if (const auto payload = corvane::llm::ssePayload(line); payload && !corvane::llm::isDoneMarker(*payload)) {
                if (const auto text = LLMClient::content(*payload, format))
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
    state.SetLabel(format.rawValue().toStdString());
}
BENCHMARK(BM_SplitAndExtract)->DenseRange(0, 2);

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
