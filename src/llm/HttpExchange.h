#pragma once
// One HTTP/1.1 exchange with an idle time-out and size caps. A 200 answer is handed over line by
// line as it arrives (or whole); any other status ends the exchange with its (capped) body.
// Callbacks may destroy the exchange; after abort() nothing is called any more.
//
// The exchange speaks HTTP on a socket of its own rather than through QNetworkAccessManager: that
// one reads on its own thread as fast as the peer sends, whatever read buffer it is given, so an
// endless body fills memory before any cap here sees it. On our socket the read buffer is small and
// nothing is read until the previous piece is handled, so a fast peer is held back by TCP itself.
// The body's framing (content length, chunked, until close) is checked here: a body cut short ends
// as a transport failure, never as a complete answer; a body that runs until the connection closes
// is marked as such, since nothing in the framing proves it whole.
//
// Connections come from, and go back to, a connection pool: a request goes out on a kept connection
// to the same origin when there is one, and a connection whose answer ended cleanly is kept for the
// next request (the rules are keepable()'s). A request sent on a kept connection that the server
// closed at once, before any byte of an answer came, is sent once more on a new connection; a close
// that came later may have followed the server's acting on it, and ends the exchange. Nothing else is
// ever sent twice.
#include "llm/HttpConnectionPool.h"
#include "llm/LineSplitter.h"
#include "llm/NetworkErrors.h"
#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

class QTcpSocket;

namespace corvane::llm {

class HttpExchange : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        StreamLines, // 200 body delivered to onLine as lines
        WholeBody,   // 200 body delivered whole in End::body
        HeadOnly,    // ends as soon as the status is known
    };

    struct End {
        enum class Kind {
            Complete,   // the body ended normally (HeadOnly: a status arrived)
            HttpStatus, // the status was not 200; body holds the error body
            NotHttp,    // an answer that is not HTTP
            Transport,  // the network failed before or during the answer
            TooLarge,   // a 200 line or body grew past its cap
        };
        Kind kind = Kind::Complete;
        int status = 0;
        QByteArray body;
        bool truncated = false; // the error body was cut at the cap
        TransportError transport;
        // A redirect would have turned the request into a GET without its body; it was not followed.
        bool bodyDropped = false;
        // Complete: nothing in the framing proves the body whole: it ran until the connection closed,
        // or more bytes followed its declared end.
        bool unframed = false;
    };

    HttpExchange(HttpConnectionPool& pool, Mode mode, double timeoutSeconds, qsizetype maxBytes,
                 QObject* parent = nullptr);
    ~HttpExchange() override;

    void start(const QNetworkRequest& request, const QByteArray& method, const QByteArray& body = {});
    // Stops the transfer silently.
    void abort();
    // The owner needs nothing more of the answer (it came whole, up to its end marker). The rest of
    // the body is read and dropped, so that the connection can serve the next request (within a
    // short time and a few bytes, and while the pool has room for it, else it is closed); then the
    // exchange deletes itself. Nothing is called any more.
    void drainAndDelete();
    bool isRunning() const { return m_socket != nullptr || m_waitingForProxy; }

    // 200 lines (StreamLines). Returning false stops the exchange silently.
    std::function<bool(QByteArrayView line)> onLine;
    // While onLine runs: the line is the last of a body that nothing framed (it ran until the close,
    // or past its declared end), and no line end followed it: it may have been cut anywhere.
    bool lineMayBeCut() const { return m_phase == Phase::Done && (m_unframed || m_overran); }
    std::function<void(const End& end)> onEnd;

    // The path the request adds after the address a user enters ("/chat/completions"): a redirect
    // that is refused names the address to enter without it.
    QString addressTail;
    // The body of an answer other than 200 is kept up to this size (and the exchange's own cap):
    // only its first sentences reach the user.
    static constexpr qsizetype maxErrorBodyBytes = 1024 * 1024;
    // An HTML error page's markup is never shown: only enough of it to recognise it is kept.
    static constexpr qsizetype maxErrorPageBytes = 64 * 1024;

    // The words for an answer whose connection closed before its end.
    static QString cutShortMessage();

    // Same scheme, host and port (a missing port is the scheme's default).
    static bool sameOrigin(const QUrl& a, const QUrl& b);
    // Whether this machine has any network at all; replaceable so the answer can be fixed.
    std::function<bool()> hasNetwork = machineHasNetwork;

private:
    enum class Phase { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkDataEnd, Trailers, Done };

    // mayReuse: a kept connection may carry the request.
    void connectSocket(bool mayReuse);
    void connectThrough(const QNetworkProxy& proxy, bool mayReuse);
    // Sends the request once more on a new connection when a kept one was closed at once.
    bool resendOnFreshConnection();
    // Whether the connection can be kept after this answer: the rules the head decides, then all of
    // them once the body ended.
    bool headAllowsKeeping() const;
    bool keepable() const;
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onSocketError();
    void onIdleTimeout();
    // Parses what arrived; false when the exchange ended (or was destroyed) meanwhile.
    bool consume(QByteArrayView data);
    bool headerLine(QByteArrayView line);
    // One header field, unfolded; false when the exchange ended.
    bool headerField(QByteArrayView line);
    bool headComplete();
    bool bodyBytes(QByteArrayView bytes);
    bool bodyComplete();
    // Counts bytes read past the answer's end marker: false once they pass the drain's cap (the
    // exchange has then ended).
    bool countDrained(qint64 bytes);
    bool followRedirect();
    void failTransport(QNetworkReply::NetworkError error, const QString& description);
    // Ends the exchange, releases the socket, then reports.
    void finish(End end);
    void release();

    HttpConnectionPool& m_pool;
    Mode m_mode;
    qsizetype m_maxBytes;
    QPointer<QTcpSocket> m_socket;
    QTimer m_idle;
    LineSplitter m_lines;
    QByteArray m_body;

    // The request, as it goes out (redirects change it).
    QNetworkRequest m_request;
    QUrl m_url;
    QByteArray m_method;
    QByteArray m_requestBody;
    QNetworkProxy m_proxy;
    QString m_origin;              // the pool's name for where the connection leads
    bool m_absoluteTarget = false; // through a plain HTTP proxy: the full URL as the target
    bool m_onKeptConnection = false; // the request went out on a connection kept from earlier
    QElapsedTimer m_sentAt;          // since the request went out
    bool m_waitingForProxy = false;
    quint64 m_attempt = 0;           // each connection attempt's number: a late proxy answer is ignored
    int m_redirects = 0;
    bool m_bodyDropped = false;

    // The answer, as it arrives.
    Phase m_phase = Phase::StatusLine;
    QByteArray m_lineBuffer; // a head or chunk line not yet complete
    qsizetype m_headBytes = 0;
    int m_status = -1; // -1: not known yet
    qint64 m_contentLength = -1;
    bool m_chunked = false;
    bool m_transferCoded = false; // a Transfer-Encoding came: the length does not frame the body
    bool m_htmlAnswer = false;    // the Content-Type names HTML
    qint64 m_chunkLeft = 0;
    qint64 m_framingBytes = 0;    // chunk lines and trailers
    QByteArray m_location;
    bool m_sawResponseByte = false;
    bool m_connected = false; // the connection to the server (or proxy) stands
    bool m_untilClose = false; // the body has no framing: it ends with the connection
    bool m_unframed = false;  // the body ended with the connection
    // The connection carries no further request: the server ends it after this answer, or its head
    // is not one to trust with another.
    bool m_closeAfter = false;
    QByteArray m_heldField; // the last header line, until the next shows it is not folded
    int m_keepAliveMs = HttpConnectionPool::defaultIdleMs;
    qsizetype m_leftover = 0;  // bytes after the last one parsed, in the piece being parsed
    bool m_overran = false;    // bytes followed the body's end
    bool m_reusable = false;   // the answer ended cleanly: release() keeps the connection
    bool m_draining = false;
    qint64 m_drainedBytes = 0;
};

// Owns an exchange that must outlive the callback it may be inside of: aborted now, deleted later.
struct HttpExchangeDeleter {
    void operator()(HttpExchange* exchange) const {
        exchange->abort();
        exchange->deleteLater();
    }
};
using HttpExchangePtr = std::unique_ptr<HttpExchange, HttpExchangeDeleter>;

} // namespace corvane::llm
