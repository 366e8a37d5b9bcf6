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
//
// The system's proxy settings are only ever asked off the event loop (the proxy machinery may take
// milliseconds, or hang): every request waits for the answer as an event, bounded by its own
// time-out, and requests to one server while a question is out share its answer. Once a request
// gave up waiting, or every asker is gone, the next one to that server asks afresh.
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>
#include <functional>
#include <memory>

class QTcpSocket;
class QSslSocket;
class QTimer;

namespace corvane::llm {

class HttpConnectionPool : public QObject {
    Q_OBJECT
public:
    // How the proxy for a request is found; called on a worker thread.
    using ProxyLookup = std::function<QNetworkProxy(const QUrl& url)>;

    explicit HttpConnectionPool(QObject* parent = nullptr, ProxyLookup lookup = &HttpConnectionPool::proxyFor);
    // Ends the exchanges still reading an answer's rest, then closes every kept connection. A proxy
    // question still out is not waited for; its answer goes nowhere.
    ~HttpConnectionPool() override;

    // Whether a proxy question is still out anywhere in the process.
    static bool asking();
    // From here on, the process ends at once at exit while a proxy question is still out, after
    // lastWords: the system's proxy machinery waits for its own question while the process exits,
    // and one that never answers would hold the exit up for good. Called last before leaving main,
    // once everything is saved: what was set up before runs its exit clean-up only when nothing is
    // being asked.
    static void endAtOnceAtExitWhileAsking(void (*lastWords)());

    // Where a connection leads: scheme, host and port, and the proxy it goes through.
    static QString originOf(const QUrl& url, const QNetworkProxy& proxy);
    // The proxy a request to url takes, from the application's proxy settings and the environment.
    static QNetworkProxy proxyFor(const QUrl& url);
    // The port of url, or its scheme's default port.
    static int defaultPort(const QUrl& url);
    // Whether a plain request goes to this proxy with the full address as its target.
    static bool isHttpProxy(const QUrl& url, const QNetworkProxy& proxy);

    // Opens a connection to url's server soon, for the next request there. Nothing happens when one
    // is already open or being opened, or when url is not http(s). A request that starts before the
    // proxy answer is back waits for the same answer and then takes this connection.
    void prewarm(const QUrl& url);
    // Calls then with the proxy a request to url takes: at once when a recent answer for its server
    // is known, else from the event loop once the question is answered. Nothing is called once
    // context is gone.
    void withProxy(const QUrl& url, QObject* context, std::function<void(const QNetworkProxy&)> then);
    // A request gave up waiting for the answer for url's server: the question may never be answered,
    // so the next request there asks it afresh (as it does once every asker is gone). Whoever still
    // waits gets whichever answer comes first.
    void proxyQuestionTimedOut(const QUrl& url);
    // Callers waiting for a proxy answer.
    int proxyWaiters() const;

    struct Taken {
        QTcpSocket* socket = nullptr;
        bool ready = false; // connected (and encrypted): a request can go out at once
    };
    // A kept or pre-warmed connection to origin, handed over to the caller (its parent now); none
    // when there is none.
    Taken take(const QString& origin);
    // A new connection to url (through proxy), already connecting. Owned by the caller.
    QTcpSocket* open(const QUrl& url, const QNetworkProxy& proxy);
    // Keeps a connection that ended an answer cleanly, for at most idleMs. Whether it may be kept is
    // the exchange's decision; here it only needs room (a drain's reserved place, or an idle one
    // given up), else it is closed.
    void keep(QTcpSocket* socket, const QString& origin, int idleMs);
    // A connection whose answer is being read to its end so that it can be kept afterwards holds a
    // place among the kept ones meanwhile. False when every place for origin is held by other
    // drains: the connection is then to be closed.
    bool reserve(QTcpSocket* socket, const QString& origin);
    void unreserve(QTcpSocket* socket);

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

    struct Reserved {
        QPointer<QTcpSocket> socket;
        QString origin;
    };
    struct Waiter {
        QPointer<QObject> context;
        std::function<void(const QNetworkProxy&)> then;
    };
    struct Question {
        QList<Waiter> waiters;
        bool timedOut = false; // a request gave up on it: the next one asks again
    };
    struct KnownProxy {
        QNetworkProxy proxy;
        QElapsedTimer age;
    };
    // What a worker thread's answer goes back to; the pool leaves it when it is destroyed.
    struct LookupLink;

    // Makes room for one more connection to origin by closing idle ones; false when there is none
    // to close.
    bool makeRoom(const QString& origin);
    void add(QTcpSocket* socket, const QString& origin, int idleMs);
    void drop(QTcpSocket* socket);
    void detach(qsizetype index);
    void rememberSession(const QString& origin, QSslSocket* socket);
    void warmUp();
    void prewarmThrough(const QUrl& url, const QNetworkProxy& proxy);
    void answered(const QString& server, const QNetworkProxy& proxy);

    QList<Idle> m_idle; // oldest first
    QList<Reserved> m_reserved;
    QHash<QString, QByteArray> m_sessions; // TLS session tickets per origin
    ProxyLookup m_lookup;
    QHash<QString, KnownProxy> m_knownProxies; // per server: scheme, host and port
    QHash<QString, Question> m_questions;      // per server with a question out
    std::shared_ptr<LookupLink> m_link;
    std::unique_ptr<QThreadPool> m_lookups;
    int m_opened = 0;
    int m_reused = 0;
};

} // namespace corvane::llm
