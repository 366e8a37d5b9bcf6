#pragma once
// A transport failure of an HTTP exchange (no usable answer arrived), in the terms the error
// sentences need.
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
    // Transport failures are the network layer's errors below the HTTP level (connection, proxy,
    // TLS, time-out); HTTP statuses are reported as statuses, not as these.
    static bool isTransport(QNetworkReply::NetworkError error);
};

} // namespace corvane::llm
