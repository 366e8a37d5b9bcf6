#pragma once
// Connections kept open between HTTP exchanges, so that the next request to the same server goes
// out without a new TCP connection or TLS handshake. A connection is kept only after an answer
// whose body was read to its framed end; it is kept for a bounded time (the server's keep-alive
// time-out, at most a minute) and in bounded numbers (per origin and overall). An idle connection
// that the server closes, or that receives anything, is dropped. TLS sessions are remembered per
// origin and resumed where the server allows it.
//
// A connection can also be opened ahead of a request (prewarm): its name lookup, TCP and TLS set-up
// then run on the event loop while the caller does other work, and the next request there takes it.
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>
#include <optional>

class QTcpSocket;
class QSslSocket;
class QTimer;

namespace corvane::llm {

class HttpConnectionPool : public QObject {
    Q_OBJECT
public:
    explicit HttpConnectionPool(QObject* parent = nullptr);
    ~HttpConnectionPool() override;

    // Where a connection leads: scheme, host and port, and the proxy it goes through.
    static QString originOf(const QUrl& url, const QNetworkProxy& proxy);
    // The proxy a request to url takes, from the application's proxy settings and the environment.
    static QNetworkProxy proxyFor(const QUrl& url);
    // The port of url, or its scheme's default port.
    static int defaultPort(const QUrl& url);
    // Whether a plain request goes to this proxy with the full address as its target.
    static bool isHttpProxy(const QUrl& url, const QNetworkProxy& proxy);

    // Opens a connection to url's server soon, for the next request there. Nothing happens when one
    // is already open or being opened, or when url is not http(s). The system's proxy settings are
    // asked off the event loop (they may take milliseconds), so the caller never waits for them.
    void prewarm(const QUrl& url);
    // The proxy a request to url takes: what the latest pre-warm found for its server, when that is
    // recent, else asked now.
    QNetworkProxy proxyForRequest(const QUrl& url);

    struct Taken {
        QTcpSocket* socket = nullptr;
        bool ready = false; // connected (and encrypted): a request can go out at once
    };
    // A kept or pre-warmed connection to origin, handed over to the caller (its parent now); none
    // when there is none.
    Taken take(const QString& origin);
    // A new connection to url (through proxy), already connecting. Owned by the caller.
    QTcpSocket* open(const QUrl& url, const QNetworkProxy& proxy);
    // Keeps a connection that ended an answer cleanly, for at most idleMs.
    void keep(QTcpSocket* socket, const QString& origin, int idleMs);

    int idleCount() const { return static_cast<int>(m_idle.size()); }
    // Connections opened and requests sent on a kept one, since the pool was made.
    int connectionsOpened() const { return m_opened; }
    int connectionsReused() const { return m_reused; }
    void countReuse() { ++m_reused; }

    // What a connection's socket holds at most before it stops reading from the network, and what an
    // exchange reads at a time: small, so TCP itself holds a fast peer back.
    static constexpr qint64 socketReadBufferBytes = 256 * 1024;
    static constexpr int maxPerOrigin = 4;
    static constexpr int maxIdle = 16;
    static constexpr int defaultIdleMs = 60 * 1000;

private:
    struct Idle {
        QPointer<QTcpSocket> socket;
        QString origin;
        QPointer<QTimer> expiry; // a child of the socket
        QList<QMetaObject::Connection> watches;
    };

    void add(QTcpSocket* socket, const QString& origin, int idleMs);
    void drop(QTcpSocket* socket);
    void detach(qsizetype index);
    void rememberSession(const QString& origin, QSslSocket* socket);
    void warmUp();
    void prewarmThrough(const QUrl& url, const QNetworkProxy& proxy);

    QList<Idle> m_idle; // oldest first
    QHash<QString, QByteArray> m_sessions; // TLS session tickets per origin
    struct ProxyHint {
        QString server; // scheme, host and port
        QNetworkProxy proxy;
        QElapsedTimer age;
    };
    std::optional<ProxyHint> m_proxyHint;
    bool m_lookingUp = false;
    QThreadPool m_lookups; // proxy look-ups; destroyed (and waited for) before the object itself
    int m_opened = 0;
    int m_reused = 0;
};

} // namespace corvane::llm
