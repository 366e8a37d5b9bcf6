#pragma once
// A real HTTP/1.1 server on 127.0.0.1 for tests. Each answer is scripted: status, headers, body
// pieces with pauses between them, the framing (chunked, content length, or until close), and the
// ways a server misbehaves on purpose (one byte per chunk, stalls, never closing, an endless body).
// Every request is recorded as it arrived.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <functional>

namespace corvane::test {

struct RecordedRequest {
    QByteArray method;
    QByteArray target; // path and query as sent
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order
    QByteArray body;
    int connection = 0; // which connection it came on: 1 for the first one accepted, and so on

    QByteArray path() const;
    bool hasHeader(const QByteArray& name) const;          // case-insensitive
    QByteArray header(const QByteArray& name) const;       // first value, or empty
    // The names of the key and identity headers it carried, and "body" for a body; empty for none.
    QByteArray privateParts() const;
};

struct ScriptedResponse {
    enum class Framing { Chunked, ContentLength, UntilClose };
    struct Piece {
        QByteArray bytes;
        int delayMs = 0; // pause before this piece
    };

    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    Framing framing = Framing::Chunked;
    QList<Piece> pieces;
    int bytesPerWrite = 0;  // > 0: each piece is written in slices of this many bytes...
    int sliceDelayMs = 0;   // ...with this pause between slices
    bool keepOpen = false;  // never ends the body or closes after the last piece
    QByteArray endless;     // non-empty: repeated forever after the pieces
    int headDelayMs = 0;    // pause before the status line
    QByteArray interim;     // heads of interim (1xx) answers, sent as they are before the status line
    // Chunked answers that hang up early: MidChunk announces the last piece's full size but sends
    // half of it; BeforeLastChunk sends every piece whole but never the terminating empty chunk.
    enum class Cut { None, MidChunk, BeforeLastChunk };
    Cut cut = Cut::None;
    bool reset = false;  // the connection ends with a reset (RST) instead of a close
    bool hangUp = false; // the connection is closed as the request arrives (after headDelayMs), with no answer at all

    ScriptedResponse& then(QByteArray bytes, int delayMs = 0);
    ScriptedResponse& header(QByteArray name, QByteArray value);

    static ScriptedResponse sse(QByteArray body);
    static ScriptedResponse json(int status, QByteArray body);
    static ScriptedResponse text(int status, QByteArray contentType, QByteArray body);
};

class TestHttpServer : public QObject {
    Q_OBJECT
public:
    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    // Listens on a loopback address (any of 127.0.0.0/8), on a free port or on the one given.
    bool listen(const QString& address = QStringLiteral("127.0.0.1"), quint16 port = 0);
    quint16 port() const;
    QString baseUrl() const; // "http://<address>:<port>"

    // The answer for every request without a route of its own.
    void respond(ScriptedResponse response);
    void respond(std::function<ScriptedResponse(const RecordedRequest&)> handler);
    // Every request is sent on with a redirect of this status to "<origin>/moved<its target>"
    // (origin empty: this server), where it gets answer.
    void respondMoving(int status, const QByteArray& origin, const ScriptedResponse& answer);
    // The answer for one path (query excluded).
    void route(const QByteArray& path, ScriptedResponse response);
    // Keeps each connection open after a framed answer (no "Connection: close") for the next request.
    void setKeepAlive(bool keep) { m_keepAlive = keep; }
    // Closes every connection that waits for its next request, as a server does after its idle time.
    void closeIdleConnections();
    int connectionsAccepted() const { return m_accepted; }

    const QList<RecordedRequest>& requests() const { return m_requests; }
    int requestCount(const QByteArray& path) const;
    int openConnections() const { return m_open; }
    // Body bytes written so far to every connection, framing included.
    qint64 bodyBytesSent() const { return m_bodyBytesSent; }
    // Spins the event loop until n requests arrived (or the bound passed).
    bool waitForRequests(int n, int boundMs = 10000);
    // Connections accepted from now on take at most this many bytes from the system at a time (0,
    // the default: all there is), so that requestStarted() comes before a long body is read.
    void setReadChunk(qint64 bytes) { m_readChunk = bytes; }
    // Closes the listening socket and drops every connection.
    void close();

Q_SIGNALS:
    void requestStarted(); // a request's first bytes came
    void requestReceived();

private:
    class Connection;
    void onNewConnection();
    ScriptedResponse responseFor(const RecordedRequest& request) const;

    QTcpServer m_server;
    QString m_address;
    QHash<QByteArray, ScriptedResponse> m_routes;
    std::function<ScriptedResponse(const RecordedRequest&)> m_handler;
    QList<RecordedRequest> m_requests;
    QList<QPointer<QObject>> m_connections;
    int m_open = 0;
    int m_accepted = 0;
    bool m_keepAlive = false;
    qint64 m_bodyBytesSent = 0;
    qint64 m_readChunk = 0;
};

// Answers shaped the way each provider streams them.
namespace providers {
QByteArray openAIStream(const QStringList& tokens, bool withDoneMarker = true);
QByteArray anthropicStream(const QStringList& tokens);
QByteArray geminiStream(const QStringList& tokens); // CR LF line ends, like the provider
QByteArray streamFor(const QString& format, const QStringList& tokens);
QByteArray wholeBodyFor(const QString& format, const QString& text);
} // namespace providers

} // namespace corvane::test
