#include "llm/HttpConnectionPool.h"
#include "platform/RunTrace.h"
#include <QNetworkProxyFactory>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <utility>

namespace corvane::llm {

namespace {

constexpr qsizetype kMaxSessions = 32;
constexpr qint64 kProxyHintMs = 10 * 1000; // a pre-warm's proxy answer serves the request that follows it

QString serverOf(const QUrl& url) {
    return url.scheme().toLower() + QLatin1String("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(HttpConnectionPool::defaultPort(url));
}

} // namespace

HttpConnectionPool::HttpConnectionPool(QObject* parent) : QObject(parent) {
    // The TLS library and its settings load once, while nothing waits for them, not in the first run.
    QTimer::singleShot(0, this, &HttpConnectionPool::warmUp);
}

HttpConnectionPool::~HttpConnectionPool() {
    m_lookups.waitForDone();
    while (!m_idle.isEmpty())
        drop(m_idle.first().socket);
}

void HttpConnectionPool::warmUp() {
    if (QSslSocket::supportsSsl())
        QSslConfiguration::defaultConfiguration();
    // The system's proxy machinery loads on its first question.
    m_lookups.setMaxThreadCount(1);
    m_lookups.start([] { proxyFor(QUrl(QStringLiteral("https://localhost/"))); });
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
    if (std::exchange(m_lookingUp, true))
        return;
    // The answer comes back as an event of this object: the destructor waits for the look-up, and
    // an event still queued then goes with the object.
    m_lookups.start([this, url] {
        const QNetworkProxy proxy = proxyFor(url);
        QMetaObject::invokeMethod(this, [this, url, proxy] {
            m_lookingUp = false;
            prewarmThrough(url, proxy);
        }, Qt::QueuedConnection);
    });
}

QNetworkProxy HttpConnectionPool::proxyForRequest(const QUrl& url) {
    if (m_proxyHint && m_proxyHint->age.elapsed() < kProxyHintMs && m_proxyHint->server == serverOf(url))
        return m_proxyHint->proxy;
    return proxyFor(url);
}

void HttpConnectionPool::prewarmThrough(const QUrl& url, const QNetworkProxy& proxy) {
    m_proxyHint = ProxyHint{serverOf(url), proxy, {}};
    m_proxyHint->age.start();
    const QString origin = originOf(url, proxy);
    for (const Idle& idle : std::as_const(m_idle)) {
        if (idle.origin == origin)
            return;
    }
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
    if (idleMs <= 0 || socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0 ||
        socket->bytesToWrite() > 0) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    add(socket, origin, idleMs);
}

void HttpConnectionPool::add(QTcpSocket* socket, const QString& origin, int idleMs) {
    int sameOrigin = 0;
    for (const Idle& idle : std::as_const(m_idle))
        sameOrigin += idle.origin == origin;
    for (qsizetype i = 0; i < m_idle.size() && (sameOrigin >= maxPerOrigin || m_idle.size() >= maxIdle);) {
        if (m_idle[i].origin == origin || m_idle.size() >= maxIdle) {
            sameOrigin -= m_idle[i].origin == origin;
            drop(m_idle[i].socket);
        } else {
            ++i;
        }
    }
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
