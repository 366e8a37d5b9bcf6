#pragma once
// A transport failure of an HTTP exchange (no usable answer arrived), in the terms the error
// sentences need.
#include <QAbstractSocket>
#include <QNetworkReply>
#include <QString>

namespace corvane::llm {

struct TransportError {
    enum class Code {
        CannotFindHost,
        CannotConnectToHost,
        NotConnectedToInternet,
        SecureConnectionFailed,
        ServerCertificateUntrusted,
        Cancelled,
        TimedOut,
        Other,
    };
    Code code = Code::Other;
    QString description; // the network layer's own wording

    static TransportError fromReply(QNetworkReply::NetworkError error, const QString& description);
    static TransportError timedOut();
    // A socket's failure. Before the connection stood (`connecting`), every failure means the server
    // could not be reached, or, when the host is not this machine and the machine has no network
    // (`online` false), that there is no connection at all.
    static TransportError fromSocket(QAbstractSocket::SocketError error, const QString& description, bool connecting,
                                     bool loopbackHost, bool online);
    // Transport failures are the network layer's errors below the HTTP level (connection, proxy,
    // TLS, time-out); HTTP statuses are reported as statuses, not as these.
    static bool isTransport(QNetworkReply::NetworkError error);
};

// Whether any network interface besides loopback is up, running and has an address.
bool machineHasNetwork();
// Whether a host name or address stands for this machine.
bool isLoopbackHost(const QString& host);

} // namespace corvane::llm
