#include "llm/HttpConnectionPool.h"
#include "llm/HttpExchange.h"
#include "platform/RunTrace.h"
#include <QMutex>
#include <QNetworkProxyFactory>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace corvane::llm {

namespace {

constexpr qsizetype kMaxSessions = 32;
constexpr qsizetype kMaxKnownProxies = 32;
constexpr qint64 kProxyAnswerMs = 10 * 1000; // a proxy answer serves the requests that follow it this long

// Proxy questions queued or running, in the whole process.
std::atomic<int> g_asking{0};
void (*g_lastWords)() = nullptr;

// Held by a question's task: counted from the moment it is queued until it has run, or was dropped
// without running.
struct Asking {
    Asking() { ++g_asking; }
    ~Asking() { --g_asking; }
    Asking(const Asking&) = delete;
    Asking& operator=(const Asking&) = delete;
};

QString serverOf(const QUrl& url) {
    return url.scheme().toLower() + QLatin1String("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(HttpConnectionPool::defaultPort(url));
}

} // namespace

struct HttpConnectionPool::LookupLink {
    QMutex mutex;
    HttpConnectionPool* pool; // null once the pool is gone
};

HttpConnectionPool::HttpConnectionPool(QObject* parent, ProxyLookup lookup)
    : QObject(parent), m_lookup(std::move(lookup)), m_link(std::make_shared<LookupLink>()),
      m_lookups(std::make_unique<QThreadPool>()) {
    m_link->pool = this;
    // Two threads: a question that hangs does not hold up every other one.
    m_lookups->setMaxThreadCount(2);
    // The TLS library and its settings load once, while nothing waits for them, not in the first run.
    QTimer::singleShot(0, this, &HttpConnectionPool::warmUp);
}

HttpConnectionPool::~HttpConnectionPool() {
    // An exchange reading an answer's rest gives its place back as it ends: it ends now, while the
    // places are still here, not among the children once they are gone.
    qDeleteAll(findChildren<HttpExchange*>(Qt::FindDirectChildrenOnly));
    {
        const QMutexLocker lock(&m_link->mutex);
        m_link->pool = nullptr;
    }
    m_lookups->clear();
    // A question still out is not waited for (the proxy machinery may hang): its thread finishes on
    // its own, touching nothing of the pool, and its answer goes nowhere.
    if (m_lookups->activeThreadCount() > 0)
        (void)m_lookups.release();
    m_reserved.clear();
    while (!m_idle.isEmpty())
        drop(m_idle.first().socket);
}

bool HttpConnectionPool::asking() { return g_asking.load() > 0; }

void HttpConnectionPool::endAtOnceAtExitWhileAsking(void (*lastWords)()) {
    g_lastWords = lastWords;
    // Exit handlers run in the reverse order of their setting up: this one before the proxy
    // machinery's, which waits for the question it is working on.
    on_exit(
        [](int status, void*) {
            if (!asking())
                return;
            if (g_lastWords)
                g_lastWords();
            std::fflush(nullptr);
            std::_Exit(status);
        },
        nullptr);
}

void HttpConnectionPool::warmUp() {
    if (QSslSocket::supportsSsl())
        QSslConfiguration::defaultConfiguration();
    // The system's proxy machinery loads on its first question.
    m_lookups->start([counted = std::make_shared<Asking>()] { proxyFor(QUrl(QStringLiteral("https://localhost/"))); });
}

int HttpConnectionPool::defaultPort(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.port(scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1);
}

QString HttpConnectionPool::originOf(const QUrl& url, const QNetworkProxy& proxy) {
    QString origin = serverOf(url);
    if (proxy.type() != QNetworkProxy::NoProxy)
        origin += QStringLiteral(" via %1 %2:%3 %4").arg(int(proxy.type())).arg(proxy.hostName()).arg(proxy.port()).arg(proxy.user());
    return origin;
}

QNetworkProxy HttpConnectionPool::proxyFor(const QUrl& url) {
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    const bool tls = url.scheme() == QLatin1String("https");
    for (const QNetworkProxy& proxy : proxies) {
        switch (proxy.type()) {
        case QNetworkProxy::NoProxy:
        case QNetworkProxy::DefaultProxy:
            return QNetworkProxy(QNetworkProxy::NoProxy);
        case QNetworkProxy::Socks5Proxy:
        case QNetworkProxy::HttpProxy:
            return proxy;
        case QNetworkProxy::HttpCachingProxy:
            if (!tls)
                return proxy;
            break;
        case QNetworkProxy::FtpCachingProxy:
            break;
        }
    }
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

bool HttpConnectionPool::isHttpProxy(const QUrl& url, const QNetworkProxy& proxy) {
    return url.scheme() != QLatin1String("https") &&
           (proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::HttpCachingProxy);
}

QTcpSocket* HttpConnectionPool::open(const QUrl& url, const QNetworkProxy& proxy) {
    ++m_opened;
    platform::runtrace::mark("connect");
    const bool tls = url.scheme() == QLatin1String("https");
    const auto port = static_cast<quint16>(defaultPort(url));
    if (isHttpProxy(url, proxy)) {
        auto* socket = new QTcpSocket;
        socket->setReadBufferSize(socketReadBufferBytes);
        socket->setProxy(QNetworkProxy::NoProxy);
        socket->connectToHost(proxy.hostName(), proxy.port());
        return socket;
    }
    if (!tls) {
        auto* socket = new QTcpSocket;
        socket->setReadBufferSize(socketReadBufferBytes);
        socket->setProxy(proxy);
        socket->connectToHost(url.host(), port);
        return socket;
    }
    auto* socket = new QSslSocket;
    socket->setReadBufferSize(socketReadBufferBytes);
    socket->setProxy(proxy);
    const QString origin = originOf(url, proxy);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
    const QByteArray session = m_sessions.value(origin);
    if (!session.isEmpty())
        config.setSessionTicket(session);
    socket->setSslConfiguration(config);
    // A session is remembered once the handshake succeeds; a server may send its ticket later.
    connect(socket, &QSslSocket::encrypted, this, [this, origin, socket] { rememberSession(origin, socket); });
    connect(socket, &QSslSocket::newSessionTicketReceived, this,
            [this, origin, socket] { rememberSession(origin, socket); });
    socket->connectToHostEncrypted(url.host(), port);
    return socket;
}

void HttpConnectionPool::rememberSession(const QString& origin, QSslSocket* socket) {
    const QByteArray ticket = socket->sslConfiguration().sessionTicket();
    if (ticket.isEmpty())
        return;
    if (m_sessions.size() >= kMaxSessions && !m_sessions.contains(origin))
        m_sessions.clear();
    m_sessions.insert(origin, ticket);
}

void HttpConnectionPool::prewarm(const QUrl& url) {
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return;
    if (scheme == QLatin1String("https") && !QSslSocket::supportsSsl())
        return;
    // A second pre-warm while the first waits finds the first one's connection and stops there.
    withProxy(url, this, [this, url](const QNetworkProxy& proxy) { prewarmThrough(url, proxy); });
}

void HttpConnectionPool::withProxy(const QUrl& url, QObject* context, std::function<void(const QNetworkProxy&)> then) {
    const QString server = serverOf(url);
    if (const auto known = m_knownProxies.constFind(server);
        known != m_knownProxies.constEnd() && known->age.elapsed() < kProxyAnswerMs) {
        then(known->proxy);
        return;
    }
    const bool out = m_questions.contains(server);
    Question& question = m_questions[server];
    question.waiters.removeIf([](const Waiter& waiter) { return !waiter.context; });
    // A question out is shared, unless whoever asked it gave up on it (timed out, or went away): it
    // may never be answered, so it is asked afresh.
    const bool ask = !out || question.timedOut || question.waiters.isEmpty();
    question.waiters.append({context, std::move(then)});
    if (!ask)
        return;
    question.timedOut = false;
    platform::runtrace::mark("proxy");
    m_lookups->start([counted = std::make_shared<Asking>(), link = m_link, lookup = m_lookup, server, url] {
        const QNetworkProxy proxy = lookup(url);
        const QMutexLocker lock(&link->mutex);
        if (HttpConnectionPool* pool = link->pool) // posted while the pool exists: goes with it if it is gone first
            QMetaObject::invokeMethod(pool, [pool, server, proxy] { pool->answered(server, proxy); }, Qt::QueuedConnection);
    });
}

void HttpConnectionPool::answered(const QString& server, const QNetworkProxy& proxy) {
    if (m_knownProxies.size() >= kMaxKnownProxies && !m_knownProxies.contains(server))
        m_knownProxies.clear();
    KnownProxy& known = m_knownProxies[server];
    known.proxy = proxy;
    known.age.start();
    // In the order they asked: a pre-warm's connection is open before the request that follows it looks.
    const QList<Waiter> waiters = m_questions.take(server).waiters;
    for (const Waiter& waiter : waiters) {
        if (waiter.context)
            waiter.then(proxy);
    }
}

void HttpConnectionPool::proxyQuestionTimedOut(const QUrl& url) {
    if (const auto question = m_questions.find(serverOf(url)); question != m_questions.end())
        question->timedOut = true;
}

int HttpConnectionPool::proxyWaiters() const {
    int count = 0;
    for (const Question& question : m_questions)
        count += static_cast<int>(question.waiters.size());
    return count;
}

void HttpConnectionPool::prewarmThrough(const QUrl& url, const QNetworkProxy& proxy) {
    const QString origin = originOf(url, proxy);
    for (const Idle& idle : std::as_const(m_idle)) {
        if (idle.origin == origin)
            return;
    }
    if (!makeRoom(origin))
        return;
    platform::runtrace::mark("prewarm");
    add(open(url, proxy), origin, defaultIdleMs);
}

HttpConnectionPool::Taken HttpConnectionPool::take(const QString& origin) {
    for (qsizetype i = m_idle.size() - 1; i >= 0; --i) { // the newest first: the likeliest to be alive
        if (m_idle[i].origin != origin)
            continue;
        QTcpSocket* socket = m_idle[i].socket;
        detach(i);
        if (!socket)
            continue;
        const auto* ssl = qobject_cast<QSslSocket*>(socket);
        const bool ready = socket->state() == QAbstractSocket::ConnectedState && (!ssl || ssl->isEncrypted());
        socket->setParent(nullptr);
        return {socket, ready};
    }
    return {};
}

void HttpConnectionPool::keep(QTcpSocket* socket, const QString& origin, int idleMs) {
    // A drain's reserved place becomes the idle connection's.
    unreserve(socket);
    if (!makeRoom(origin)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    add(socket, origin, idleMs);
}

bool HttpConnectionPool::reserve(QTcpSocket* socket, const QString& origin) {
    if (!makeRoom(origin))
        return false;
    m_reserved.append({socket, origin});
    return true;
}

void HttpConnectionPool::unreserve(QTcpSocket* socket) {
    m_reserved.removeIf([socket](const Reserved& r) { return !r.socket || r.socket == socket; });
}

bool HttpConnectionPool::makeRoom(const QString& origin) {
    m_reserved.removeIf([](const Reserved& r) { return !r.socket; });
    const auto sameOrigin = [&] {
        const auto isSame = [&](const auto& entry) { return entry.origin == origin; };
        return std::count_if(m_idle.begin(), m_idle.end(), isSame) + std::count_if(m_reserved.begin(), m_reserved.end(), isSame);
    };
    const auto total = [&] { return m_idle.size() + m_reserved.size(); };
    // The oldest idle connections go first: those of this origin when it is full, any when all are.
    for (qsizetype i = 0; i < m_idle.size() && (sameOrigin() >= maxPerOrigin || total() >= maxIdle);) {
        if (m_idle[i].origin == origin || total() >= maxIdle)
            drop(m_idle[i].socket);
        else
            ++i;
    }
    return sameOrigin() < maxPerOrigin && total() < maxIdle;
}

void HttpConnectionPool::add(QTcpSocket* socket, const QString& origin, int idleMs) {
    socket->setParent(this);
    Idle idle;
    idle.socket = socket;
    idle.origin = origin;
    idle.expiry = new QTimer(socket);
    idle.expiry->setSingleShot(true);
    idle.watches = {
        connect(idle.expiry, &QTimer::timeout, this, [this, socket] { drop(socket); }),
        // A server that closes an idle connection, or says anything on it, ends it.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); }),
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { drop(socket); }),
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { drop(socket); }),
    };
    idle.expiry->start(idleMs);
    m_idle.append(idle);
}

void HttpConnectionPool::detach(qsizetype index) {
    Idle idle = m_idle.takeAt(index);
    for (const QMetaObject::Connection& c : std::as_const(idle.watches))
        disconnect(c);
    if (idle.expiry) {
        idle.expiry->stop();
        idle.expiry->deleteLater(); // may be inside its own time-out
    }
}

void HttpConnectionPool::drop(QTcpSocket* socket) {
    for (qsizetype i = 0; i < m_idle.size(); ++i) {
        if (m_idle[i].socket != socket)
            continue;
        QPointer<QTcpSocket> gone = m_idle[i].socket;
        detach(i);
        if (gone) {
            gone->abort();
            gone->deleteLater();
        }
        return;
    }
}

} // namespace corvane::llm
