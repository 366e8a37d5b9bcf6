#include "llm/NetworkErrors.h"
#include <algorithm>
#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkInterface>

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

TransportError TransportError::fromSocket(QAbstractSocket::SocketError error, const QString& description,
                                         bool connecting, bool loopbackHost, bool online) {
    using S = QAbstractSocket::SocketError;
    switch (error) {
    case S::SocketTimeoutError: return {Code::TimedOut, description};
    case S::SslHandshakeFailedError:
    case S::SslInternalError:
    case S::SslInvalidUserDataError: return {Code::SecureConnectionFailed, description};
    case S::ProxyConnectionRefusedError: return {Code::CannotConnectToHost, description};
    case S::ProxyNotFoundError: return {Code::CannotFindHost, description};
    case S::ProxyConnectionTimeoutError: return {Code::TimedOut, description};
    case S::ProxyConnectionClosedError:
    case S::ProxyAuthenticationRequiredError:
    case S::ProxyProtocolError: return {Code::Other, description};
    default: break;
    }
    if (!connecting)
        return {Code::Other, description};
    // No route to the host's network (an IPv6-only server seen from a machine with IPv4 only) is
    // the server being out of reach; only a machine without any network has no connection at all.
    if (!loopbackHost && !online)
        return {Code::NotConnectedToInternet, description};
    return {error == S::HostNotFoundError ? Code::CannotFindHost : Code::CannotConnectToHost, description};
}

bool machineHasNetwork() {
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    return std::any_of(interfaces.begin(), interfaces.end(), [](const QNetworkInterface& i) {
        const QNetworkInterface::InterfaceFlags flags = i.flags();
        return flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning) &&
               !flags.testFlag(QNetworkInterface::IsLoopBack) && !i.addressEntries().isEmpty();
    });
}

bool isLoopbackHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool TransportError::isTransport(QNetworkReply::NetworkError error) {
    // Connection, TLS, time-out and redirect errors are 1..99, proxy errors 101..199.
    return error != QNetworkReply::NoError && static_cast<int>(error) < 200;
}

} // namespace corvane::llm
