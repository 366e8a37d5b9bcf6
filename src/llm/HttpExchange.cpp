#include "llm/HttpExchange.h"
#include "llm/Tr.h"
#include "platform/RunTrace.h"
#include <QSignalBlocker>
#include <QSslSocket>
#include <QTcpSocket>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvane::llm {

namespace {

constexpr qsizetype kMaxHeadBytes = 64 * 1024; // status line, headers and chunk lines together
constexpr int kMaxRedirects = 20;
constexpr int kLocalConnectMs = 20; // the longest wait for a server on this machine to take a connection
// After the answer's end marker, the rest of its body is read for at most this long (no read
// extends it) and this much (every byte counts, framing included).
constexpr int kDrainMs = 2000;
constexpr qint64 kMaxDrainBytes = 64 * 1024;
// A kept connection that the server closes within this time of the request going out was closed
// before the server could have acted on it (an idle connection's close crossing the request).
constexpr qint64 kImmediateCloseMs = 250;

// Headers that identify or authorise the sender; they never follow a redirect to another origin.
constexpr const char* kCredentialHeaders[] = {"authorization", "proxy-authorization", "cookie", "x-api-key",
                                              "x-goog-api-key", "x-device-id", "x-sign", "x-ts"};

bool isCredentialHeader(const QByteArray& name) {
    const QByteArray lower = name.toLower();
    return std::any_of(std::begin(kCredentialHeaders), std::end(kCredentialHeaders),
                       [&](const char* credential) { return lower == credential; });
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

QByteArrayView trimmed(QByteArrayView v) {
    while (!v.isEmpty() && (v.front() == ' ' || v.front() == '\t'))
        v = v.sliced(1);
    while (!v.isEmpty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
        v.chop(1);
    return v;
}

// A chunk-size line: hex digits, then nothing or optional extensions after ';' (blanks may stand
// before the ';'). -1 when garbled.
qint64 chunkSize(QByteArrayView line) {
    qint64 size = 0;
    qsizetype i = 0;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            break;
        if (i >= 15)
            return -1;
        size = size * 16 + v;
    }
    if (i == 0)
        return -1;
    if (i == line.size())
        return size;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return i < line.size() && line[i] == ';' ? size : -1;
}

} // namespace

HttpExchange::HttpExchange(HttpConnectionPool& pool, Mode mode, double timeoutSeconds, qsizetype maxBytes,
                           QObject* parent)
    : QObject(parent), m_pool(pool), m_mode(mode), m_maxBytes(maxBytes), m_lines(maxBytes) {
    m_idle.setSingleShot(true);
    m_idle.setInterval(static_cast<int>(std::ceil(timeoutSeconds * 1000.0)));
    connect(&m_idle, &QTimer::timeout, this, &HttpExchange::onIdleTimeout);
}

HttpExchange::~HttpExchange() {
    m_reusable = false;
    release();
}

void HttpExchange::start(const QNetworkRequest& request, const QByteArray& method, const QByteArray& body) {
    release();
    m_request = request;
    m_url = request.url();
    m_method = method;
    m_requestBody = body;
    m_redirects = 0;
    m_idle.start();
    connectSocket(true);
}

void HttpExchange::abort() { release(); }

void HttpExchange::drainAndDelete() {
    m_draining = true;
    setParent(&m_pool); // gone with the pool at the latest
    // Read on only for a connection that can be kept afterwards, and while it has a place in the pool.
    if (!m_socket || m_phase == Phase::Done || !headAllowsKeeping() || !m_pool.reserve(m_socket, m_origin)) {
        release();
        deleteLater();
        return;
    }
    m_drainedBytes = m_leftover; // the rest of the piece in hand
    m_idle.setInterval(kDrainMs);
    m_idle.start();
}

void HttpExchange::release() {
    m_idle.stop();
    m_waitingForProxy = false;
    if (!m_socket)
        return;
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    disconnect(socket, nullptr, this, nullptr);
    if (std::exchange(m_reusable, false)) {
        m_pool.keep(socket, m_origin, m_keepAliveMs);
        return;
    }
    if (m_draining)
        m_pool.unreserve(socket);
    socket->setParent(nullptr); // may be inside one of its own signals: deleted from the event loop
    socket->abort();
    socket->deleteLater();
}

void HttpExchange::connectSocket(bool mayReuse) {
    m_phase = Phase::StatusLine;
    m_lineBuffer.clear();
    m_headBytes = 0;
    m_status = -1;
    m_contentLength = -1;
    m_chunked = false;
    m_chunkLeft = 0;
    m_location.clear();
    m_sawResponseByte = false;
    m_connected = false;
    m_unframed = false;
    m_untilClose = false;
    m_closeAfter = false;
    m_heldField.clear();
    m_keepAliveMs = HttpConnectionPool::defaultIdleMs;
    m_transferCoded = false;
    m_htmlAnswer = false;
    m_overran = false;
    m_framingBytes = 0;
    m_reusable = false;
    m_body.clear();
    m_lines = LineSplitter(m_maxBytes);

    // The proxy question is answered off the event loop; the idle time-out bounds the wait.
    m_waitingForProxy = true;
    const quint64 attempt = ++m_attempt;
    m_pool.withProxy(m_url, this, [this, attempt, mayReuse](const QNetworkProxy& proxy) {
        if (attempt == m_attempt && m_waitingForProxy) // not aborted or begun again meanwhile
            connectThrough(proxy, mayReuse);
    });
}

void HttpExchange::connectThrough(const QNetworkProxy& proxy, bool mayReuse) {
    m_waitingForProxy = false;
    const bool tls = m_url.scheme() == QLatin1String("https");
    m_proxy = proxy;
    m_origin = HttpConnectionPool::originOf(m_url, m_proxy);
    // A plain request through an HTTP proxy goes to the proxy with the full address as its target;
    // everything else (TLS through a proxy, SOCKS) is tunnelled by the socket.
    m_absoluteTarget = HttpConnectionPool::isHttpProxy(m_url, m_proxy);
    if (tls && !QSslSocket::supportsSsl()) {
        QMetaObject::invokeMethod(this, [this] {
            if (m_socket) // not aborted meanwhile
                failTransport(QNetworkReply::SslHandshakeFailedError, tr("TLS is not available on this system"));
        }, Qt::QueuedConnection);
        m_socket = new QTcpSocket(this); // marks the exchange as running until the failure is reported
        return;
    }
    const HttpConnectionPool::Taken taken = mayReuse ? m_pool.take(m_origin) : HttpConnectionPool::Taken{};
    QTcpSocket* socket = taken.socket ? taken.socket : m_pool.open(m_url, m_proxy);
    socket->setParent(this);
    m_socket = socket;
    m_onKeptConnection = taken.ready;
    m_connected = socket->state() == QAbstractSocket::ConnectedState;
    connect(socket, &QTcpSocket::readyRead, this, &HttpExchange::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &HttpExchange::onDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &HttpExchange::onSocketError);
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (!m_draining)
            m_idle.start();
    });
    connect(socket, &QTcpSocket::connected, this, [this] { m_connected = true; });
    if (taken.ready) {
        m_pool.countReuse();
        platform::runtrace::mark("reuse");
        onConnected();
        return;
    }
    if (taken.socket)
        platform::runtrace::mark("warm"); // opened ahead of the request, still being set up
    auto* ssl = qobject_cast<QSslSocket*>(socket);
    if (ssl && !m_absoluteTarget)
        connect(ssl, &QSslSocket::encrypted, this, &HttpExchange::onConnected);
    else
        connect(socket, &QTcpSocket::connected, this, &HttpExchange::onConnected);
    // A server on this machine takes the connection at once: the request then goes out now, not
    // after whatever the event loop has queued meanwhile (the run's panel is drawn there). Anything
    // else, a refusal or a server slow to accept included, takes the usual way.
    if (!ssl && !taken.socket && socket->state() == QAbstractSocket::ConnectingState &&
        m_proxy.type() == QNetworkProxy::NoProxy && isLoopbackHost(m_url.host())) {
        // Quiet while waiting: a wait that runs out is no error, the usual way is tried instead.
        {
            const QSignalBlocker quiet(socket);
            m_connected = socket->waitForConnected(kLocalConnectMs);
        }
        if (m_connected) {
            onConnected();
        } else {
            socket->abort();
            socket->connectToHost(m_url.host(), static_cast<quint16>(HttpConnectionPool::defaultPort(m_url)));
        }
    }
}

bool HttpExchange::resendOnFreshConnection() {
    if (!m_onKeptConnection || m_sawResponseByte)
        return false;
    // A request is not sent twice once the server may have acted on it: only when part of it never
    // went out, or when the close came at once (the server closed the idle connection and the
    // request crossed its close), did the server certainly not take it.
    if (m_socket->bytesToWrite() == 0 && m_sentAt.elapsed() > kImmediateCloseMs)
        return false;
    m_onKeptConnection = false;
    m_reusable = false;
    release();
    platform::runtrace::mark("resend");
    m_idle.start();
    connectSocket(false);
    return true;
}

void HttpExchange::onConnected() {
    if (!m_socket)
        return;
    m_idle.start();
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QByteArray target;
    if (m_absoluteTarget) {
        target = m_url.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    } else {
        target = m_url.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (m_url.hasQuery())
            target += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
    }
    QByteArray head = m_method + ' ' + target + " HTTP/1.1\r\nHost: " +
                      m_url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() + "\r\n";
    bool userAgent = false;
    for (const QByteArray& name : m_request.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower == "host" || lower == "content-length" || lower == "connection" || lower == "transfer-encoding")
            continue;
        userAgent |= lower == "user-agent";
        head += name + ": " + m_request.rawHeader(name) + "\r\n";
    }
    if (!userAgent)
        head += "User-Agent: Corvane\r\n";
    if (m_absoluteTarget && !m_proxy.user().isEmpty())
        head += "Proxy-Authorization: Basic " + (m_proxy.user() + u':' + m_proxy.password()).toUtf8().toBase64() + "\r\n";
    if (!m_requestBody.isEmpty() || m_method == "POST" || m_method == "PUT" || m_method == "PATCH")
        head += "Content-Length: " + QByteArray::number(m_requestBody.size()) + "\r\n";
    head += "\r\n";
    // Two writes: the socket takes the body as it is, where one piece would copy it behind the head.
    m_socket->write(head);
    m_socket->write(m_requestBody);
    // Out now rather than at the next turn of the event loop: the run's panel is built meanwhile.
    m_socket->flush();
    m_sentAt.start();
    platform::runtrace::mark("written");
}

void HttpExchange::onReadyRead() {
    QPointer<HttpExchange> self(this);
    while (self && m_socket && m_socket->bytesAvailable() > 0) {
        const QByteArray data = m_socket->read(HttpConnectionPool::socketReadBufferBytes);
        if (!m_draining)
            m_idle.start();
        else if (!countDrained(data.size()))
            return;
        if (!consume(data))
            return;
    }
}

bool HttpExchange::consume(QByteArrayView data) {
    QPointer<HttpExchange> self(this);
    if (!data.isEmpty())
        m_sawResponseByte = true;
    const char* p = data.data();
    const char* const end = p + data.size();
    while (p < end) {
        if (!m_socket)
            return false;
        switch (m_phase) {
        case Phase::Body:
        case Phase::ChunkData: {
            qint64 n = end - p;
            if (m_phase == Phase::ChunkData)
                n = std::min(n, m_chunkLeft);
            else if (m_contentLength >= 0)
                n = std::min(n, m_contentLength);
            const QByteArrayView bytes(p, static_cast<qsizetype>(n));
            p += n;
            m_leftover = end - p;
            if (m_phase == Phase::ChunkData) {
                m_chunkLeft -= n;
                if (m_chunkLeft == 0)
                    m_phase = Phase::ChunkDataEnd;
            } else if (m_contentLength >= 0) {
                m_contentLength -= n;
            }
            if (!bodyBytes(bytes) || !self)
                return false;
            if (m_phase == Phase::Body && m_contentLength == 0)
                return bodyComplete();
            break;
        }
        case Phase::Done:
            return false;
        default: {
            // Line-framed parts: the head, chunk sizes and trailers.
            if (m_phase == Phase::StatusLine && m_lineBuffer.size() < 5) {
                // Not HTTP at all: say so without waiting for a line end that may never come.
                const qsizetype have = std::min<qsizetype>(5 - m_lineBuffer.size(), end - p);
                const QByteArray start = m_lineBuffer + QByteArray(p, have);
                if (!QByteArrayView("HTTP/").startsWith(start)) {
                    finish({End::Kind::NotHttp, 0, {}, false, {}});
                    return false;
                }
            }
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const char* stop = lf ? lf : end;
            m_headBytes += stop - p;
            if (m_headBytes > kMaxHeadBytes) {
                failTransport(QNetworkReply::ProtocolFailure, tr("The server's answer has an oversized header"));
                return false;
            }
            // Chunk sizes, their extensions and trailers count toward the body's cap as well.
            if (m_phase != Phase::StatusLine && m_phase != Phase::Headers) {
                m_framingBytes += stop - p;
                if (m_framingBytes > m_maxBytes) {
                    finish({End::Kind::TooLarge, m_status, {}, false, {}});
                    return false;
                }
            }
            m_lineBuffer.append(p, stop - p);
            p = lf ? lf + 1 : end;
            m_leftover = end - p;
            if (!lf)
                break;
            QByteArrayView line(m_lineBuffer);
            if (line.endsWith('\r'))
                line.chop(1);
            // The head and the trailers are capped as a whole, a chunk's framing line by line.
            if (m_phase == Phase::ChunkSize || m_phase == Phase::ChunkDataEnd)
                m_headBytes = 0;
            const bool go = headerLine(line);
            if (!self)
                return false;
            m_lineBuffer.clear();
            if (!go)
                return false;
            break;
        }
        }
    }
    return m_socket != nullptr;
}

bool HttpExchange::headerLine(QByteArrayView line) {
    switch (m_phase) {
    case Phase::StatusLine: {
        // "HTTP/1.x 200 OK": the version, a space, exactly three digits, then a space or the end.
        const bool wellFormed = line.size() >= 12 && line.startsWith("HTTP/1.") && isDigit(line[7]) && line[8] == ' ' &&
                                isDigit(line[9]) && isDigit(line[10]) && isDigit(line[11]) &&
                                (line.size() == 12 || line[12] == ' ');
        const int status = wellFormed ? (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0') : 0;
        if (status < 100) {
            finish({End::Kind::NotHttp, 0, {}, false, {}});
            return false;
        }
        m_status = status;
        // HTTP/1.0 ends the connection after its answer; what an interim answer said still holds.
        m_closeAfter = m_closeAfter || line[7] == '0';
        m_phase = Phase::Headers;
        return true;
    }
    case Phase::Headers: {
        // A field is read once the next line shows it is not continued.
        if (!line.isEmpty() && (line.front() == ' ' || line.front() == '\t')) {
            // An obsolete folded continuation: its text belongs to the field before it, joined by a
            // blank. A server that still folds is not trusted with a next request.
            m_closeAfter = true;
            if (!m_heldField.isEmpty())
                m_heldField += ' ' + trimmed(line).toByteArray();
            return true;
        }
        if (!m_heldField.isEmpty() && !headerField(std::exchange(m_heldField, {})))
            return false;
        if (line.isEmpty())
            return headComplete();
        m_heldField = line.toByteArray();
        return true;
    }
    case Phase::ChunkSize: {
        const qint64 size = chunkSize(line);
        if (size < 0) {
            failTransport(QNetworkReply::ProtocolFailure, tr("The server's answer is garbled"));
            return false;
        }
        m_chunkLeft = size;
        m_phase = size == 0 ? Phase::Trailers : Phase::ChunkData;
        return true;
    }
    case Phase::ChunkDataEnd:
        if (!line.isEmpty()) {
            failTransport(QNetworkReply::ProtocolFailure, tr("The server's answer is garbled"));
            return false;
        }
        m_phase = Phase::ChunkSize;
        return true;
    case Phase::Trailers:
        if (line.isEmpty())
            return bodyComplete();
        return true;
    default:
        return true;
    }
}

bool HttpExchange::headerField(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return true; // not a header; tolerated like other clients do
    QByteArrayView rawName = line.first(colon);
    if (rawName.back() == ' ' || rawName.back() == '\t') {
        // Blanks before the colon are not HTTP: read the field as it was likely meant, but do not
        // trust the connection with a next request.
        m_closeAfter = true;
        rawName = trimmed(rawName);
    }
    const QByteArray name = rawName.toByteArray().toLower();
    const QByteArrayView value = trimmed(line.sliced(colon + 1));
    if (name == "content-length") {
        // Digits only: no sign, no blanks inside, no list of lengths.
        const bool digits = !value.isEmpty() && value.size() <= 18 && std::all_of(value.begin(), value.end(), isDigit);
        const qint64 length = digits ? value.toLongLong() : -1;
        if (length < 0 || (m_contentLength >= 0 && m_contentLength != length)) {
            finish({End::Kind::NotHttp, 0, {}, false, {}});
            return false;
        }
        m_contentLength = length;
    } else if (name == "transfer-encoding") {
        // The codings of every such field make one list, where empty elements count for nothing.
        // Chunked only as the last coding: any other runs until the close, whatever length is given.
        for (const QByteArray& part : value.toByteArray().split(',')) {
            const QByteArray coding = part.trimmed().toLower();
            if (coding.isEmpty())
                continue;
            m_transferCoded = true;
            m_chunked = coding == "chunked";
        }
    } else if (name == "content-type") {
        m_htmlAnswer = value.toByteArray().toLower().contains("html");
    } else if (name == "location") {
        m_location = value.toByteArray();
    } else if (name == "connection") {
        m_closeAfter = m_closeAfter || value.toByteArray().toLower().contains("close");
    } else if (name == "keep-alive") {
        // "timeout=5, max=100": kept a second less than the server keeps it, at most the default;
        // "max=0": the server takes no further request on it.
        for (const QByteArray& part : value.toByteArray().split(',')) {
            const QByteArray item = part.trimmed().toLower();
            bool ok = false;
            if (item.startsWith("timeout=")) {
                const qint64 seconds = item.mid(8).toLongLong(&ok);
                constexpr qint64 most = HttpConnectionPool::defaultIdleMs / 1000;
                if (ok)
                    m_keepAliveMs = static_cast<int>(std::clamp<qint64>(seconds, 1, most + 1) - 1) * 1000;
                // Kept by the server for less than a second: as good as closed after this answer.
                m_closeAfter = m_closeAfter || m_keepAliveMs == 0;
            } else if (item.startsWith("max=")) {
                const qint64 requests = item.mid(4).toLongLong(&ok);
                m_closeAfter = m_closeAfter || (ok && requests <= 0);
            }
        }
    }
    return true;
}

bool HttpExchange::headComplete() {
    if (m_status >= 100 && m_status < 200 && m_status != 101) {
        m_phase = Phase::StatusLine; // an interim answer; the real one follows
        m_status = -1;
        m_contentLength = -1;
        m_chunked = false;
        m_transferCoded = false;
        m_location.clear();
        return true;
    }
    // A length beside a transfer coding is a message that may be read two ways (a smuggling
    // attempt, or a broken server): the coding frames the body, and the connection is not kept.
    if (m_transferCoded && m_contentLength >= 0)
        m_closeAfter = true;
    if (isRedirect(m_status) && !m_location.isEmpty())
        return followRedirect();
    if (m_status == 407 && m_absoluteTarget) { // the proxy's answer, not the server's
        failTransport(QNetworkReply::ProxyAuthenticationRequiredError, tr("The proxy requires authentication"));
        return false;
    }
    if (m_mode == Mode::HeadOnly) {
        finish({End::Kind::Complete, m_status, {}, false, {}});
        return false;
    }
    m_headBytes = 0;
    if (m_method == "HEAD" || m_status == 204 || m_status == 304 || m_status < 200)
        return bodyComplete();
    if (m_transferCoded)
        m_contentLength = -1; // a transfer coding replaces the length
    if (m_chunked) {
        m_phase = Phase::ChunkSize;
        return true;
    }
    m_phase = Phase::Body;
    m_untilClose = m_contentLength < 0;
    if (m_contentLength == 0)
        return bodyComplete();
    return true;
}

bool HttpExchange::followRedirect() {
    if (m_redirects >= kMaxRedirects) {
        failTransport(QNetworkReply::TooManyRedirectsError, tr("Too many redirects"));
        return false;
    }
    const QUrl next = m_url.resolved(QUrl::fromEncoded(m_location));
    const QString scheme = next.scheme();
    if (!next.isValid() || next.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failTransport(QNetworkReply::ProtocolUnknownError, tr("The server redirected to an address that is not HTTP"));
        return false;
    }
    if (m_url.scheme() == QLatin1String("https") && scheme == QLatin1String("http")) {
        failTransport(QNetworkReply::InsecureRedirectError, tr("The server redirected from HTTPS to plain HTTP"));
        return false;
    }
    ++m_redirects;
    // As browsers do: 303 always, and 301/302 after a POST, go on with a GET without a body. A
    // request that carries a body is not turned into one: its answer would be to another question.
    if ((m_status == 303 && m_method != "HEAD") || ((m_status == 301 || m_status == 302) && m_method == "POST")) {
        if (!m_requestBody.isEmpty()) {
            m_bodyDropped = true;
            QUrl address = next.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
            const QString path = address.path();
            if (!addressTail.isEmpty() && path.endsWith(addressTail))
                address.setPath(path.chopped(addressTail.size()));
            failTransport(QNetworkReply::ProtocolInvalidOperationError,
                          tr("The server redirected the request to %1; enter that address as the endpoint")
                              .arg(address.toDisplayString()));
            return false;
        }
        m_method = "GET";
        m_requestBody.clear();
        m_request.setRawHeader("Content-Type", QByteArray());
    }
    if (!sameOrigin(m_url, next)) {
        // Another server gets neither the user's text nor anything that identifies or authorises the
        // sender: the key is for the configured endpoint only.
        if (!m_requestBody.isEmpty()) {
            const QString target = next.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                                                 QUrl::RemoveFragment)
                                       .toDisplayString();
            failTransport(QNetworkReply::InsecureRedirectError,
                          tr("The server redirected the request to another address (%1); it was not sent there, so "
                             "your text and key stay private. If you trust that address, enter it as the endpoint")
                              .arg(target));
            return false;
        }
        for (const QByteArray& name : m_request.rawHeaderList()) {
            if (isCredentialHeader(name))
                m_request.setRawHeader(name, QByteArray());
        }
    }
    m_url = next;
    m_request.setUrl(next);
    release();
    m_idle.start();
    connectSocket(true);
    return false;
}

bool HttpExchange::bodyBytes(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return true;
    if (m_status != 200 || m_mode == Mode::WholeBody) {
        const qsizetype cap =
            m_status == 200 ? m_maxBytes : std::min(m_maxBytes, m_htmlAnswer ? maxErrorPageBytes : maxErrorBodyBytes);
        if (m_body.size() + bytes.size() > cap) {
            m_body.append(bytes.data(), cap - m_body.size());
            if (m_status == 200)
                finish({End::Kind::TooLarge, m_status, {}, false, {}});
            else
                finish({End::Kind::HttpStatus, m_status, std::exchange(m_body, {}), true, {}});
            return false;
        }
        m_body.append(bytes.data(), bytes.size());
        return true;
    }
    if (m_draining)
        return true; // counted as it was read
    QPointer<HttpExchange> self(this);
    qsizetype used = bytes.size();
    const bool more = m_lines.feed(bytes, [&](QByteArrayView line) { return onLine(line) && self; }, &used);
    if (!self)
        return false;
    if (m_lines.overflowed()) {
        finish({End::Kind::TooLarge, m_status, {}, false, {}});
        return false;
    }
    if (more)
        return true;
    // The owner may have asked, from inside onLine, for the rest to be drained rather than dropped.
    if (!m_draining) {
        release();
        return false;
    }
    // The bytes after the last line handed over count toward the drain, as the rest of the read did.
    return countDrained(bytes.size() - used);
}

bool HttpExchange::countDrained(qint64 bytes) {
    m_drainedBytes += bytes;
    if (!m_socket || m_drainedBytes <= kMaxDrainBytes)
        return true;
    finish({End::Kind::TooLarge, m_status, {}, false, {}});
    return false;
}

bool HttpExchange::headAllowsKeeping() const {
    return m_status != 101 && // not taken over by another protocol
           !m_closeAfter &&   // the server keeps the connection open
           !m_untilClose;     // the body ends by its framing, not by the close
}

bool HttpExchange::keepable() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState && headAllowsKeeping() &&
           m_leftover == 0 && m_socket->bytesAvailable() == 0 && // nothing came after the body's end
           m_socket->bytesToWrite() == 0;                        // the request went out whole
}

bool HttpExchange::bodyComplete() {
    m_phase = Phase::Done;
    m_overran = m_leftover > 0;
    m_reusable = keepable();
    if (m_draining) {
        finish({});
    } else if (m_status != 200) {
        finish({End::Kind::HttpStatus, m_status, std::exchange(m_body, {}), false, {}});
    } else if (m_mode == Mode::WholeBody) {
        finish({End::Kind::Complete, m_status, std::exchange(m_body, {}), false, {}});
    } else {
        QPointer<HttpExchange> self(this);
        const bool more = m_lines.finish([&](QByteArrayView line) { return onLine(line) && self; });
        if (!self)
            return false;
        if (more)
            finish({End::Kind::Complete, m_status, {}, false, {}});
        else
            release();
    }
    return false;
}

void HttpExchange::onDisconnected() {
    if (!m_socket)
        return;
    QPointer<HttpExchange> self(this);
    onReadyRead(); // what arrived before the close still counts
    if (!self || !m_socket || resendOnFreshConnection())
        return;
    switch (m_phase) {
    case Phase::Body:
        if (m_contentLength < 0) { // the body runs until the connection closes
            m_unframed = true;
            bodyComplete();
            return;
        }
        break;
    case Phase::Trailers: // every chunk arrived; only the closing blank line is missing
        bodyComplete();
        return;
    case Phase::StatusLine:
        if (!m_sawResponseByte) {
            failTransport(QNetworkReply::RemoteHostClosedError, tr("The server closed the connection without answering"));
            return;
        }
        break;
    default:
        break;
    }
    failTransport(QNetworkReply::RemoteHostClosedError, cutShortMessage());
}

QString HttpExchange::cutShortMessage() { return tr("The connection closed before the answer was complete"); }

void HttpExchange::onSocketError() {
    if (!m_socket)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError) {
        onDisconnected();
        return;
    }
    if (resendOnFreshConnection())
        return;
    const QString host = m_absoluteTarget ? m_proxy.hostName() : m_url.host();
    const bool loopback = isLoopbackHost(host);
    // Whether the machine has a network at all only matters for a connection that never stood.
    const bool online = m_connected || loopback || !hasNetwork || hasNetwork();
    finish({End::Kind::Transport, m_status, {}, false,
            TransportError::fromSocket(error, m_socket->errorString(), !m_connected, loopback, online)});
}

bool HttpExchange::sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && HttpConnectionPool::defaultPort(a) == HttpConnectionPool::defaultPort(b);
}

void HttpExchange::failTransport(QNetworkReply::NetworkError error, const QString& description) {
    finish({End::Kind::Transport, m_status, {}, false, TransportError::fromReply(error, description)});
}

void HttpExchange::onIdleTimeout() {
    if (m_waitingForProxy)
        m_pool.proxyQuestionTimedOut(m_url);
    if (isRunning())
        finish({End::Kind::Transport, m_status, {}, false, TransportError::timedOut()});
}

void HttpExchange::finish(End end) {
    release();
    m_phase = Phase::Done;
    if (m_draining) {
        deleteLater();
        return;
    }
    if (end.status < 0)
        end.status = 0;
    end.bodyDropped = m_bodyDropped;
    end.unframed = (m_unframed || m_overran) && end.kind == End::Kind::Complete;
    if (onEnd)
        onEnd(end);
}

} // namespace corvane::llm
