#include "support/TestHttpServer.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <sys/socket.h>

namespace corvane::test {

QByteArray RecordedRequest::path() const {
    const qsizetype q = target.indexOf('?');
    return q == -1 ? target : target.left(q);
}

bool RecordedRequest::hasHeader(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray RecordedRequest::privateParts() const {
    QByteArray found;
    for (const char* name : {"authorization", "x-api-key", "x-goog-api-key", "x-device-id", "x-sign", "x-ts", "cookie"}) {
        if (hasHeader(name))
            found += QByteArray(name) + ' ';
    }
    if (!body.isEmpty())
        found += "body";
    return found.trimmed();
}

QByteArray RecordedRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

ScriptedResponse& ScriptedResponse::then(QByteArray bytes, int delayMs) {
    pieces.append({std::move(bytes), delayMs});
    return *this;
}

ScriptedResponse& ScriptedResponse::header(QByteArray name, QByteArray value) {
    headers.append({std::move(name), std::move(value)});
    return *this;
}

ScriptedResponse ScriptedResponse::sse(QByteArray body) {
    ScriptedResponse r;
    r.header("Content-Type", "text/event-stream");
    r.then(std::move(body));
    return r;
}

ScriptedResponse ScriptedResponse::json(int status, QByteArray body) {
    return text(status, "application/json", std::move(body));
}

ScriptedResponse ScriptedResponse::text(int status, QByteArray contentType, QByteArray body) {
    ScriptedResponse r;
    r.status = status;
    r.framing = Framing::ContentLength;
    r.header("Content-Type", std::move(contentType));
    r.then(std::move(body));
    return r;
}

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool hasNoBody(int status) { return status == 204 || status == 304 || (status >= 100 && status < 200); }

} // namespace

// One accepted connection: reads a request, then plays its scripted answer; with keep-alive on, the
// next request on it follows.
class TestHttpServer::Connection : public QObject {
public:
    Connection(TestHttpServer* server, QTcpSocket* socket, int number)
        : QObject(server), m_server(server), m_socket(socket), m_number(number) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { onGone(); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { scheduleEndless(); });
    }

    void drop() {
        m_socket->abort();
        onGone();
    }

    bool waitsForARequest() const { return !m_gone && !m_answered && m_in.isEmpty(); }

private:
    struct Op {
        int delayMs = 0;
        QByteArray bytes;
    };

    void onGone() {
        if (m_gone)
            return;
        m_gone = true;
        --m_server->m_open;
        deleteLater();
    }

    void onReadyRead() {
        if (m_in.isEmpty() && !m_answered)
            Q_EMIT m_server->requestStarted();
        m_in += m_socket->readAll();
        takeRequest();
    }

    void takeRequest() {
        if (m_answered || m_gone)
            return;
        const qsizetype headEnd = m_in.indexOf("\r\n\r\n");
        if (headEnd == -1)
            return;
        RecordedRequest request;
        const QList<QByteArray> lines = m_in.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon);
            // The value exactly as sent after the separator's blank (trailing blanks are kept).
            QByteArray value = line.mid(colon + 1);
            while (value.startsWith(' ') || value.startsWith('\t'))
                value.remove(0, 1);
            request.headers.append({name, value});
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                contentLength = value.toLongLong();
        }
        if (m_in.size() < headEnd + 4 + contentLength)
            return;
        request.body = m_in.mid(headEnd + 4, contentLength);
        request.connection = m_number;
        m_in.remove(0, headEnd + 4 + contentLength);
        m_answered = true;
        m_server->m_requests.append(request);
        const ScriptedResponse response = m_server->responseFor(request);
        Q_EMIT m_server->requestReceived();
        if (response.hangUp && response.headDelayMs > 0) { // the request read, held, then dropped
            QTimer::singleShot(response.headDelayMs, Qt::PreciseTimer, this, [this, reset = response.reset] {
                if (!m_gone)
                    end(reset);
            });
            return;
        }
        if (response.hangUp) {
            end(response.reset);
            return;
        }
        play(response);
    }

    // Closes the connection, with a reset when asked.
    void end(bool reset) {
        if (reset) {
            const linger now{1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            m_socket->abort();
            onGone();
            return;
        }
        m_socket->disconnectFromHost();
    }

    void play(const ScriptedResponse& r) {
        m_response = r;
        const bool bodyless = hasNoBody(r.status);
        QByteArray head = r.interim + "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reasonPhrase(r.status) + "\r\n";
        for (const auto& [name, value] : r.headers)
            head += name + ": " + value + "\r\n";
        if (!bodyless && r.framing == ScriptedResponse::Framing::Chunked)
            head += "Transfer-Encoding: chunked\r\n";
        if (!bodyless && r.framing == ScriptedResponse::Framing::ContentLength) {
            qsizetype total = 0;
            for (const auto& piece : r.pieces)
                total += piece.bytes.size();
            head += "Content-Length: " + QByteArray::number(total) + "\r\n";
        }
        m_keepAfter = m_server->m_keepAlive && !r.keepOpen && r.endless.isEmpty() && r.cut == ScriptedResponse::Cut::None &&
                      (bodyless || r.framing != ScriptedResponse::Framing::UntilClose) && !r.reset;
        for (const auto& [name, value] : r.headers)
            m_keepAfter = m_keepAfter && name.compare("Connection", Qt::CaseInsensitive) != 0;
        if (!m_keepAfter && !hasHeader(r, "Connection"))
            head += "Connection: close\r\n";
        head += "\r\n";
        m_ops.push_back({r.headDelayMs, head});
        if (!bodyless) {
            for (const auto& piece : r.pieces) {
                if (r.bytesPerWrite <= 0) {
                    m_ops.push_back({piece.delayMs, frame(piece.bytes)});
                    continue;
                }
                for (qsizetype at = 0; at < piece.bytes.size(); at += r.bytesPerWrite)
                    m_ops.push_back({at == 0 ? piece.delayMs : r.sliceDelayMs, frame(piece.bytes.mid(at, r.bytesPerWrite))});
            }
        }
        m_endless = bodyless ? QByteArray() : r.endless;
        m_finalize = !r.keepOpen && m_endless.isEmpty();
        const bool chunked = !bodyless && r.framing == ScriptedResponse::Framing::Chunked;
        if (chunked && r.cut == ScriptedResponse::Cut::MidChunk && m_ops.size() > 1) {
            QByteArray& last = m_ops.back().bytes; // "<size>\r\n<bytes>\r\n": keep the size line and half
            const qsizetype dataStart = last.indexOf("\r\n") + 2;
            last.truncate(dataStart + (last.size() - 2 - dataStart) / 2);
        }
        if (m_finalize && chunked && r.cut == ScriptedResponse::Cut::None)
            m_ops.push_back({0, "0\r\n\r\n"});
        step();
    }

    QByteArray frame(const QByteArray& bytes) const {
        if (m_response.framing != ScriptedResponse::Framing::Chunked || bytes.isEmpty())
            return bytes;
        return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
    }

    void step() {
        while (!m_gone && !m_ops.empty()) {
            Op& op = m_ops.front();
            if (op.delayMs > 0) {
                const int delay = std::exchange(op.delayMs, 0);
                QTimer::singleShot(delay, this, [this] { step(); });
                return;
            }
            m_socket->write(op.bytes);
            m_socket->flush();
            if (m_headSent)
                m_server->m_bodyBytesSent += op.bytes.size();
            m_headSent = true;
            m_ops.pop_front();
        }
        if (m_gone)
            return;
        m_played = true;
        if (!m_endless.isEmpty()) {
            feedEndless();
        } else if (m_finalize && m_keepAfter) { // ready for the next request
            m_answered = m_played = m_headSent = false;
            takeRequest();
        } else if (m_finalize) {
            end(m_response.reset);
        }
    }

    static bool hasHeader(const ScriptedResponse& r, const QByteArray& name) {
        return std::any_of(r.headers.begin(), r.headers.end(),
                           [&](const auto& header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
    }

    // The client reads on its own network thread while this server shares the test's event loop.
    // Refilling at once on every write lets the server outrun that reader for good: its socket never
    // drains, so it never gets to the abort it was sent, and the chunks it hands to our loop pile
    // up faster than the loop drops them (gigabytes on a busy machine). A millisecond between
    // refills still sends an endless body at hundreds of megabytes a second.
    void scheduleEndless() {
        if (m_feedScheduled)
            return;
        m_feedScheduled = true;
        QTimer::singleShot(1, this, [this] {
            m_feedScheduled = false;
            feedEndless();
        });
    }

    void feedEndless() {
        if (m_gone || !m_played || m_endless.isEmpty())
            return;
        // "Endless" within reason: a client that never stops reading still ends the test, and a
        // peer that went away never makes the loop buffer without bound.
        while (m_socket->state() == QAbstractSocket::ConnectedState && m_socket->bytesToWrite() < 256 * 1024 &&
               m_endlessSent < kEndlessLimit) {
            const QByteArray piece = frame(m_endless);
            if (m_socket->write(piece) != piece.size())
                return;
            m_endlessSent += piece.size();
            m_server->m_bodyBytesSent += piece.size();
        }
    }

    TestHttpServer* m_server;
    QTcpSocket* m_socket;
    int m_number;
    bool m_keepAfter = false;
    QByteArray m_in;
    bool m_answered = false;
    bool m_gone = false;
    bool m_played = false;
    bool m_headSent = false;
    bool m_feedScheduled = false;
    bool m_finalize = true;
    ScriptedResponse m_response;
    std::deque<Op> m_ops;
    QByteArray m_endless;
    qint64 m_endlessSent = 0;
    static constexpr qint64 kEndlessLimit = qint64(512) << 20;
};

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
    m_handler = [](const RecordedRequest&) { return ScriptedResponse::json(404, R"({"error":"no route"})"); };
}

TestHttpServer::~TestHttpServer() { close(); }

bool TestHttpServer::listen(const QString& address, quint16 port) {
    m_address = address;
    return m_server.listen(QHostAddress(address), port);
}

quint16 TestHttpServer::port() const { return m_server.serverPort(); }

QString TestHttpServer::baseUrl() const { return QStringLiteral("http://%1:%2").arg(m_address).arg(port()); }

void TestHttpServer::respond(ScriptedResponse response) {
    m_handler = [response](const RecordedRequest&) { return response; };
}

void TestHttpServer::respond(std::function<ScriptedResponse(const RecordedRequest&)> handler) {
    m_handler = std::move(handler);
}

void TestHttpServer::respondMoving(int status, const QByteArray& origin, const ScriptedResponse& answer) {
    respond([status, origin, answer](const RecordedRequest& r) {
        if (r.path().startsWith("/moved"))
            return answer;
        ScriptedResponse moved = ScriptedResponse::text(status, "text/plain", "moved");
        moved.header("Location", origin + "/moved" + r.target);
        return moved;
    });
}

void TestHttpServer::route(const QByteArray& path, ScriptedResponse response) { m_routes.insert(path, response); }

int TestHttpServer::requestCount(const QByteArray& path) const {
    return static_cast<int>(std::count_if(m_requests.begin(), m_requests.end(),
                                          [&](const RecordedRequest& r) { return r.path() == path; }));
}

bool TestHttpServer::waitForRequests(int n, int boundMs) {
    QDeadlineTimer deadline(boundMs);
    while (m_requests.size() < n && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return m_requests.size() >= n;
}

void TestHttpServer::close() {
    m_server.close();
    const QList<QPointer<QObject>> connections = std::exchange(m_connections, {});
    for (const QPointer<QObject>& c : connections) {
        if (c)
            static_cast<Connection*>(c.data())->drop();
    }
}

void TestHttpServer::closeIdleConnections() {
    for (const QPointer<QObject>& c : std::as_const(m_connections)) {
        if (c && static_cast<Connection*>(c.data())->waitsForARequest())
            static_cast<Connection*>(c.data())->drop();
    }
}

void TestHttpServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_open;
        socket->setReadBufferSize(m_readChunk);
        m_connections.append(new Connection(this, socket, ++m_accepted));
    }
}

ScriptedResponse TestHttpServer::responseFor(const RecordedRequest& request) const {
    const auto it = m_routes.constFind(request.path());
    return it != m_routes.constEnd() ? *it : m_handler(request);
}

namespace providers {

namespace {
QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }
} // namespace

QByteArray openAIStream(const QStringList& tokens, bool withDoneMarker) {
    QByteArray out;
    auto chunk = [](const QJsonObject& delta) {
        return compact({{"id", "chatcmpl-1"},
                        {"object", "chat.completion.chunk"},
                        {"choices", QJsonArray{QJsonObject{{"index", 0}, {"delta", delta}}}}});
    };
    out += "data: " + chunk({{"role", "assistant"}}) + "\n\n";
    for (const QString& t : tokens)
        out += "data: " + chunk({{"content", t}}) + "\n\n";
    if (withDoneMarker)
        out += "data: [DONE]\n\n";
    return out;
}

QByteArray anthropicStream(const QStringList& tokens) {
    QByteArray out;
    auto event = [&](const char* name, const QJsonObject& data) {
        out += QByteArray("event: ") + name + "\ndata: " + compact(data) + "\n\n";
    };
    event("message_start", {{"type", "message_start"}, {"message", QJsonObject{{"id", "msg_1"}, {"role", "assistant"}}}});
    event("content_block_start", {{"type", "content_block_start"}, {"index", 0},
                                  {"content_block", QJsonObject{{"type", "text"}, {"text", ""}}}});
    event("ping", {{"type", "ping"}});
    for (const QString& t : tokens)
        event("content_block_delta", {{"type", "content_block_delta"}, {"index", 0},
                                      {"delta", QJsonObject{{"type", "text_delta"}, {"text", t}}}});
    event("content_block_stop", {{"type", "content_block_stop"}, {"index", 0}});
    event("message_delta", {{"type", "message_delta"}, {"delta", QJsonObject{{"stop_reason", "end_turn"}}}});
    event("message_stop", {{"type", "message_stop"}});
    return out;
}

QByteArray geminiStream(const QStringList& tokens) {
    QByteArray out;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        QJsonObject candidate{{"content", QJsonObject{{"parts", QJsonArray{QJsonObject{{"text", tokens[i]}}}},
                                                      {"role", "model"}}},
                              {"index", 0}};
        if (i + 1 == tokens.size())
            candidate.insert("finishReason", "STOP");
        out += "data: " + compact({{"candidates", QJsonArray{candidate}}}) + "\r\n\r\n";
    }
    return out;
}

QByteArray streamFor(const QString& format, const QStringList& tokens) {
    if (format == QLatin1String("anthropic"))
        return anthropicStream(tokens);
    if (format == QLatin1String("gemini"))
        return geminiStream(tokens);
    return openAIStream(tokens);
}

QByteArray wholeBodyFor(const QString& format, const QString& text) {
    if (format == QLatin1String("anthropic"))
        return compact({{"type", "message"}, {"role", "assistant"},
                        {"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", text}}}}});
    if (format == QLatin1String("gemini"))
        return compact({{"candidates", QJsonArray{QJsonObject{
                                           {"content", QJsonObject{{"parts", QJsonArray{QJsonObject{{"text", text}}}}}}}}}});
    return compact({{"object", "chat.completion"},
                    {"choices", QJsonArray{QJsonObject{{"index", 0},
                                                       {"message", QJsonObject{{"role", "assistant"}, {"content", text}}}}}}});
}

} // namespace providers

} // namespace corvane::test
