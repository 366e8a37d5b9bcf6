// The sentences a user reads when a request fails.
#include "llm/BodyText.h"
#include "llm/LLMClient.h"
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using corvane::llm::LLMClient;
using corvane::llm::TransportError;

namespace {

const QString kDash = QStringLiteral(" — ");

struct StatusCase {
    int status;
    QString body;
    QString expected;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << "status " << c.status; }

class HttpStatuses : public ::testing::TestWithParam<StatusCase> {};

TEST_P(HttpStatuses, ReadAsTheirSentence) {
    const StatusCase& c = GetParam();
    EXPECT_EQ(LLMClient::humanizedError(c.status, c.body).toStdString(), c.expected.toStdString());
}

const QString kUnauthorized =
    QStringLiteral("API key is invalid or unauthorized. Check that the key belongs to the selected provider");

INSTANTIATE_TEST_SUITE_P(
    Table, HttpStatuses,
    ::testing::Values(
        StatusCase{401, QStringLiteral(R"({"error":{"message":"Incorrect API key provided"}})"),
                   kUnauthorized + kDash + QStringLiteral("Incorrect API key provided")},
        StatusCase{403, QString(), kUnauthorized},
        StatusCase{404, QString(),
                   QStringLiteral("API path not found. Check the endpoint (it usually ends with /v1) and the model name")},
        StatusCase{429, QStringLiteral(R"({"error":{"code":429}})"),
                   QStringLiteral("Rate limit or quota exceeded. Try again later or check your account balance")},
        StatusCase{400, QString(), QStringLiteral("Request rejected. The most common cause is a model name that doesn't exist")},
        StatusCase{500, QString(), QStringLiteral("Provider temporarily unavailable (500). Try again later")},
        StatusCase{599, QString(), QStringLiteral("Provider temporarily unavailable (599). Try again later")},
        StatusCase{499, QString(), QStringLiteral("API error (499)")},
        StatusCase{600, QString(), QStringLiteral("API error (600)")},
        StatusCase{418, QString(), QStringLiteral("API error (418)")},
        StatusCase{200, QString(), QStringLiteral("API error (200)")},
        // A web page instead of the API: said so, with the status, and no markup.
        StatusCase{502, QStringLiteral("<html>\n<h1>502 Bad Gateway</h1>\n</html>\n"),
                   QStringLiteral("Provider temporarily unavailable (502). Try again later") + kDash +
                       QStringLiteral("the server answered with a web page, not the API")},
        StatusCase{404, QStringLiteral("\ufeff \r\n<!-- cdn -->\n<!DOCTYPE html><title>Not Found</title>"),
                   QStringLiteral("API path not found. Check the endpoint (it usually ends with /v1) and the model name") +
                       kDash + QStringLiteral("the server answered with a web page, not the API (HTTP 404)")},
        // A provider sentence that looks like a format is shown as it is.
        StatusCase{400, QStringLiteral(R"({"message":"bad %d and %@ and %1"})"),
                   QStringLiteral("Request rejected. The most common cause is a model name that doesn't exist") + kDash +
                       QStringLiteral("bad %d and %@ and %1")}));

TEST(TransportErrors, KnownConditionsHaveTheirSentence) {
    using Code = TransportError::Code;
    const QString unreachable = QStringLiteral("Can't reach the API server. Check the endpoint domain and your network");
    const QString tls = QStringLiteral(
        "HTTPS connection failed. Make sure the endpoint starts with https:// and has a valid certificate");
    const struct {
        Code code;
        QString expected;
    } cases[] = {
        {Code::CannotFindHost, unreachable},
        {Code::CannotConnectToHost, unreachable},
        {Code::NotConnectedToInternet, QStringLiteral("No internet connection")},
        {Code::SecureConnectionFailed, tls},
        {Code::ServerCertificateUntrusted, tls},
        {Code::Cancelled, QStringLiteral("Request cancelled")},
        {Code::TimedOut, QStringLiteral("platform words")},
        {Code::Other, QStringLiteral("platform words")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LLMClient::humanizedURLError({c.code, QStringLiteral("platform words")}), c.expected);
}

TEST(TransportErrors, NetworkLayerCodesMapToConditions) {
    using E = QNetworkReply::NetworkError;
    using Code = TransportError::Code;
    EXPECT_EQ(TransportError::fromReply(E::HostNotFoundError, {}).code, Code::CannotFindHost);
    EXPECT_EQ(TransportError::fromReply(E::ConnectionRefusedError, {}).code, Code::CannotConnectToHost);
    EXPECT_EQ(TransportError::fromReply(E::SslHandshakeFailedError, {}).code, Code::SecureConnectionFailed);
    EXPECT_EQ(TransportError::fromReply(E::OperationCanceledError, {}).code, Code::Cancelled);
    EXPECT_EQ(TransportError::fromReply(E::RemoteHostClosedError, QStringLiteral("closed")).description,
              QStringLiteral("closed"));
    EXPECT_TRUE(TransportError::isTransport(E::RemoteHostClosedError));
    EXPECT_TRUE(TransportError::isTransport(E::ProxyAuthenticationRequiredError));
    EXPECT_FALSE(TransportError::isTransport(E::ContentNotFoundError));
    EXPECT_FALSE(TransportError::isTransport(E::InternalServerError));
    EXPECT_FALSE(TransportError::isTransport(E::NoError));
}

// A connection that could not be made reads as an unreachable server, whatever the socket's words;
// only a machine without any network has no internet connection (no route to an IPv6-only server
// from an IPv4 machine is an unreachable server).
TEST(TransportErrors, ConnectFailuresReadAsUnreachableOrOffline) {
    using S = QAbstractSocket::SocketError;
    const QString unreachable = QStringLiteral("Can't reach the API server. Check the endpoint domain and your network");
    const QString offline = QStringLiteral("No internet connection");
    const struct {
        S error;
        const char* words;
        bool connecting, loopback, online;
        QString expected;
    } cases[] = {
        {S::NetworkError, "Host unreachable", true, false, true, unreachable},
        {S::ConnectionRefusedError, "Connection refused", true, false, true, unreachable},
        {S::HostNotFoundError, "Host not found", true, false, true, unreachable},
        {S::NetworkError, "Network unreachable", true, false, true, unreachable},
        {S::NetworkError, "Network unreachable", true, false, false, offline},
        {S::NetworkError, "Host unreachable", true, false, false, offline},
        {S::HostNotFoundError, "Host not found", true, false, false, offline},
        {S::ConnectionRefusedError, "Connection refused", true, true, false, unreachable},
        {S::NetworkError, "Connection reset by peer", false, false, true, QStringLiteral("Connection reset by peer")},
        {S::SocketTimeoutError, "Socket operation timed out", true, false, true, QStringLiteral("Socket operation timed out")},
    };
    for (const auto& c : cases) {
        const TransportError error =
            TransportError::fromSocket(c.error, QString::fromLatin1(c.words), c.connecting, c.loopback, c.online);
        EXPECT_EQ(LLMClient::humanizedURLError(error), c.expected) << c.words << " online " << c.online;
    }
    EXPECT_TRUE(corvane::llm::isLoopbackHost(QStringLiteral("127.0.0.2")));
    EXPECT_FALSE(corvane::llm::isLoopbackHost(QStringLiteral("api.example.test")));
}

// The time-out sentence shows the configured limit in whole seconds, and never garbage.
TEST(TimeoutMessage, ShowsAUsableLimit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double configured;
        const char* shown;
    } cases[] = {{10, "10"}, {45.9, "45"}, {0.5, "0"}, {0, "30"}, {-5, "30"}, {nan, "30"}, {inf, "2000000"}};
    for (const auto& c : cases) {
        EXPECT_EQ(LLMClient::timeoutMessage(c.configured),
                  QStringLiteral("Request timed out (limit %1 s). Increase the timeout in Settings or try a faster model")
                      .arg(QLatin1String(c.shown)))
            << c.configured;
    }
}

TEST(TimeoutMessage, UnusableTimeoutsMeanTheDefault) {
    EXPECT_EQ(LLMClient::sanitizedTimeout(0), 30);
    EXPECT_EQ(LLMClient::sanitizedTimeout(-1), 30);
    EXPECT_EQ(LLMClient::sanitizedTimeout(std::nan("")), 30);
    EXPECT_EQ(LLMClient::sanitizedTimeout(0.25), 0.25);
    EXPECT_LE(LLMClient::sanitizedTimeout(1e300) * 1000, std::numeric_limits<int>::max());
}

// Error bodies are UTF-8 nearly always; bytes that are not fall back to one character per byte.
TEST(ErrorBodyText, DecodesUtf8AndKeepsEverythingElse) {
    using corvane::llm::decodeErrorBody;
    EXPECT_EQ(decodeErrorBody(QByteArray("{\"error\":\"cl\xc3\xa9 invalide \xe2\x80\x94 \xe5\xaf\x86\xe9\x92\xa5\"}")),
              QStringLiteral("{\"error\":\"clé invalide — 密钥\"}"));
    EXPECT_EQ(decodeErrorBody(QByteArray("caf\xe9 cr\xe8me")), QStringLiteral("café crème"));
    // Only the bytes that are not UTF-8 become Latin-1: the valid text around them stays intact.
    EXPECT_EQ(decodeErrorBody(QByteArray("Cl\xc3\xa9 invalide \xe9t\xe9 \xe5\xaf\x86")), QStringLiteral("Clé invalide été 密"));
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
    EXPECT_EQ(decodeErrorBody(QByteArray("\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xf0\x9f\x98\x80")),
              QString::fromUtf8("\xc3\x80\xc2\xaf|\xc3\xad\xc2\xa0\xc2\x80|\xc3\xb4\xc2\x90\xc2\x80\xc2\x80|\xf0\x9f\x98\x80"));
    // A cap that cut the last character in two loses only that character; a whole body keeps
    // its last bytes.
    EXPECT_EQ(decodeErrorBody(QByteArray("\xe5\xaf\x86\xe9\x92"), true), QStringLiteral("密"));
    EXPECT_EQ(decodeErrorBody(QByteArray("ok\xf0\x9f\x98"), true), QStringLiteral("ok"));
    EXPECT_EQ(decodeErrorBody(QByteArray("caf\xe9")), QStringLiteral("café"));
    EXPECT_EQ(decodeErrorBody(QByteArray("ok\xf0\x9f\x98")), QStringLiteral("ok\u00f0\u009f\u0098"));
    EXPECT_EQ(decodeErrorBody(QByteArray()), QString());
}

} // namespace
