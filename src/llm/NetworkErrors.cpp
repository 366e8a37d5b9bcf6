#include "llm/NetworkErrors.h"
#include <QCoreApplication>

namespace corvane::llm {

TransportError TransportError::fromReply(QNetworkReply::NetworkError error, const QString& description) {
    using E = QNetworkReply::NetworkError;
    Code code = Code::Other;
    switch (error) {
    case E::HostNotFoundError:
    case E::ProxyNotFoundError:
        code = Code::CannotFindHost;
        break;
    case E::ConnectionRefusedError:
    case E::ProxyConnectionRefusedError:
        code = Code::CannotConnectToHost;
        break;
    case E::NetworkSessionFailedError:
    case E::TemporaryNetworkFailureError:
    case E::BackgroundRequestNotAllowedError:
        code = Code::NotConnectedToInternet;
        break;
    case E::SslHandshakeFailedError:
        code = Code::SecureConnectionFailed;
        break;
    case E::OperationCanceledError:
        code = Code::Cancelled;
        break;
    case E::TimeoutError:
    case E::ProxyTimeoutError:
        code = Code::TimedOut;
        break;
    default:
        break;
    }
    return {code, description};
}

TransportError TransportError::timedOut() {
    return {Code::TimedOut, QCoreApplication::translate("LLMClient", "The request timed out.")};
}

bool TransportError::isTransport(QNetworkReply::NetworkError error) {
    // Connection, TLS, time-out and redirect errors are 1..99, proxy errors 101..199.
    return error != QNetworkReply::NoError && static_cast<int>(error) < 200;
}

} // namespace corvane::llm
