#include "llm/HttpExchange.h"
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <cmath>

namespace corvane::llm {

HttpExchange::HttpExchange(QNetworkAccessManager& network, Mode mode, double timeoutSeconds, qsizetype maxBytes,
                           QObject* parent)
    : QObject(parent), m_network(network), m_mode(mode), m_maxBytes(maxBytes), m_lines(maxBytes) {
    m_idle.setSingleShot(true);
    m_idle.setInterval(static_cast<int>(std::ceil(timeoutSeconds * 1000.0)));
    connect(&m_idle, &QTimer::timeout, this, &HttpExchange::onIdleTimeout);
}

namespace {
constexpr qint64 kReadBufferBytes = 1 << 20;
}

HttpExchange::~HttpExchange() { release(); }

void HttpExchange::start(const QNetworkRequest& request, const QByteArray& method, const QByteArray& body) {
    release();
    m_status = -1;
    m_body.clear();
    m_lines = LineSplitter(m_maxBytes);
    m_reply = m_network.sendCustomRequest(request, method, body);
    // Without a bound, Qt's network thread reads as fast as the peer sends and queues everything
    // for us: a fast endless body would eat memory long before our own caps see it.
    m_reply->setReadBufferSize(kReadBufferBytes);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &HttpExchange::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &HttpExchange::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &HttpExchange::onFinished);
    connect(m_reply, &QNetworkReply::uploadProgress, &m_idle, qOverload<>(&QTimer::start));
    connect(m_reply, &QNetworkReply::downloadProgress, &m_idle, qOverload<>(&QTimer::start));
    m_idle.start();
}

void HttpExchange::abort() { release(); }

void HttpExchange::release() {
    m_idle.stop();
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    disconnect(reply, nullptr, this, nullptr);
    disconnect(reply, nullptr, &m_idle, nullptr);
    // Aborted from the event loop: this may run inside one of the reply's own signals, which the
    // network layer does not expect to be aborted from.
    if (reply->isRunning())
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    reply->deleteLater();
}

bool HttpExchange::readStatus() {
    if (m_status == -1 && m_reply) {
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid())
            m_status = status.toInt();
    }
    return m_status > 0;
}

void HttpExchange::onMetaData() {
    m_idle.start();
    if (m_mode == Mode::HeadOnly && readStatus())
        finish({End::Kind::Complete, m_status, {}, false, {}});
}

void HttpExchange::onReadyRead() {
    m_idle.start();
    if (!m_reply || !readStatus())
        return; // the status decides how to read; wait for it
    if (m_mode == Mode::HeadOnly) {
        finish({End::Kind::Complete, m_status, {}, false, {}});
        return;
    }
    const QByteArray chunk = m_reply->readAll();
    if (m_status != 200 || m_mode == Mode::WholeBody) {
        if (m_body.size() + chunk.size() > m_maxBytes) {
            m_body.append(chunk.constData(), m_maxBytes - m_body.size());
            if (m_status == 200)
                finish({End::Kind::TooLarge, m_status, {}, false, {}});
            else
                finish({End::Kind::HttpStatus, m_status, std::exchange(m_body, {}), true, {}});
            return;
        }
        m_body.append(chunk);
        return;
    }
    QPointer<HttpExchange> self(this);
    const bool more = m_lines.feed(chunk, [&](QByteArrayView line) { return onLine(line) && self; });
    if (!self)
        return;
    if (m_lines.overflowed())
        finish({End::Kind::TooLarge, m_status, {}, false, {}});
    else if (!more)
        release();
}

void HttpExchange::onFinished() {
    if (!m_reply)
        return;
    m_idle.stop();
    const QNetworkReply::NetworkError error = m_reply->error();
    if (TransportError::isTransport(error)) {
        finish({End::Kind::Transport, m_status, {}, false, TransportError::fromReply(error, m_reply->errorString())});
        return;
    }
    if (!readStatus()) {
        End end{End::Kind::NotHttp, 0, {}, false, {}};
        if (error != QNetworkReply::NoError) // e.g. an unknown protocol: nothing was exchanged
            end = {End::Kind::Transport, 0, {}, false, TransportError::fromReply(error, m_reply->errorString())};
        finish(end);
        return;
    }
    QPointer<HttpExchange> self(this);
    if (m_reply->bytesAvailable() > 0) {
        onReadyRead();
        if (!self || !m_reply)
            return;
    }
    if (m_mode == Mode::HeadOnly) {
        finish({End::Kind::Complete, m_status, {}, false, {}});
    } else if (m_status != 200) {
        finish({End::Kind::HttpStatus, m_status, std::exchange(m_body, {}), false, {}});
    } else if (m_mode == Mode::WholeBody) {
        finish({End::Kind::Complete, m_status, std::exchange(m_body, {}), false, {}});
    } else {
        const bool more = m_lines.finish([&](QByteArrayView line) { return onLine(line) && self; });
        if (!self)
            return;
        if (more)
            finish({End::Kind::Complete, m_status, {}, false, {}});
        else
            release();
    }
}

void HttpExchange::onIdleTimeout() {
    if (m_reply)
        finish({End::Kind::Transport, m_status, {}, false, TransportError::timedOut()});
}

void HttpExchange::finish(End end) {
    release();
    if (end.status < 0)
        end.status = 0;
    if (onEnd)
        onEnd(end);
}

} // namespace corvane::llm
