// The sentences a user sees when a model request fails.
#include "llm/BodyText.h"
#include "llm/LLMClient.h"
#include "llm/Tr.h"
#include <cmath>

namespace corvane::llm {

QString LLMClient::humanizedError(int status, const QString& body) {
    QString base;
    bool showsStatus = false;
    if (status == 401 || status == 403) {
        base = tr("API key is invalid or unauthorized. Check that the key belongs to the selected provider");
    } else if (status == 404) {
        base = tr("API path not found. Check the endpoint (it usually ends with /v1) and the model name");
    } else if (status == 429) {
        base = tr("Rate limit or quota exceeded. Try again later or check your account balance");
    } else if (status == 400) {
        base = tr("Request rejected. The most common cause is a model name that doesn't exist");
    } else {
        showsStatus = true;
        base = status >= 500 && status <= 599 ? tr("Provider temporarily unavailable (%d). Try again later")
                                              : tr("API error (%d)");
        base.replace(QLatin1String("%d"), QString::number(status));
    }
    // A web page's markup says nothing to the user; that a page came instead of the API does. The
    // status goes with it where the sentence does not show it already.
    if (isWebPage(QStringView(body))) {
        if (showsStatus)
            return base + tr(" — the server answered with a web page, not the API");
        return base + tr(" — the server answered with a web page, not the API (HTTP %d)")
                          .replace(QLatin1String("%d"), QString::number(status));
    }
    const std::optional<QString> detail = extractErrorMessage(body);
    return detail ? base + tr(" — %@").replace(QLatin1String("%@"), *detail) : base;
}

// The network layer here never refuses a plain-HTTP address on its own (there is no platform-wide
// transport-security policy), so there is no sentence for that case.
QString LLMClient::humanizedURLError(const TransportError& error) {
    using Code = TransportError::Code;
    switch (error.code) {
    case Code::CannotFindHost:
    case Code::CannotConnectToHost:
        return tr("Can't reach the API server. Check the endpoint domain and your network");
    case Code::NotConnectedToInternet:
        return tr("No internet connection");
    case Code::SecureConnectionFailed:
    case Code::ServerCertificateUntrusted:
        return tr("HTTPS connection failed. Make sure the endpoint starts with https:// and has a valid certificate");
    case Code::Cancelled:
        return tr("Request cancelled");
    case Code::TimedOut:
    case Code::Other:
        break;
    }
    return error.description;
}

QString LLMClient::timeoutMessage(double configuredSeconds) {
    // The configured value in whole seconds; an unusable value stands for the default that applied.
    const double shown = std::trunc(sanitizedTimeout(configuredSeconds));
    return tr("Request timed out (limit %d s). Increase the timeout in Settings or try a faster model")
        .replace(QLatin1String("%d"), QString::number(static_cast<qint64>(shown)));
}

} // namespace corvane::llm
