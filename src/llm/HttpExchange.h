#pragma once
// One HTTP exchange with an idle time-out and size caps. A 200 answer is handed over line by line
// as it arrives (or whole); any other status ends the exchange with its (capped) body. Callbacks
// may destroy the exchange; after abort() nothing is called any more.
#include "llm/LineSplitter.h"
#include "llm/NetworkErrors.h"
#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

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
    };

    HttpExchange(QNetworkAccessManager& network, Mode mode, double timeoutSeconds, qsizetype maxBytes,
                 QObject* parent = nullptr);
    ~HttpExchange() override;

    void start(const QNetworkRequest& request, const QByteArray& method, const QByteArray& body = {});
    // Stops the transfer silently.
    void abort();
    bool isRunning() const { return m_reply != nullptr; }

    // 200 lines (StreamLines). Returning false stops the exchange silently.
    std::function<bool(QByteArrayView line)> onLine;
    std::function<void(const End& end)> onEnd;

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onIdleTimeout();
    bool readStatus();
    // Ends the exchange, releases the reply, then reports.
    void finish(End end);
    void release();

    QNetworkAccessManager& m_network;
    Mode m_mode;
    qsizetype m_maxBytes;
    QPointer<QNetworkReply> m_reply;
    QTimer m_idle;
    LineSplitter m_lines;
    QByteArray m_body;
    int m_status = -1; // -1: not known yet; 0: not an HTTP answer
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
