#pragma once
// The model client: one composed prompt in, one streamed answer out, in the wire format of the
// configured provider (or through the built-in relay). Also the pieces the rest of the system
// shares: endpoint parsing, request building, answer and error parsing, error sentences, request
// signing, the connection probe and the model list.
#include "llm/APIVendor.h"
#include "llm/ModelClient.h"
#include "llm/NetworkErrors.h"
#include <QByteArray>
#include <QByteArrayView>
#include <QMap>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <array>
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::stores {
class SettingsStore;
}

namespace corvane::llm {

class HttpConnectionPool;

// The arguments of one chat request.
struct ChatRequestOptions {
    QString endpoint;             // base address, used verbatim
    APIFormat format;
    QString model;
    QString system;               // sent even when empty
    QList<ChatMessage> history;   // earlier turns, in order
    QString prompt;               // the user message of this turn
    QString apiKey;               // may be empty; never sent when useBuiltIn is set
    bool useBuiltIn = false;      // the request goes to the built-in relay
    double timeout = 30;          // seconds
    QString deviceID;             // identifies the install to the relay (useBuiltIn only)
};

// A request ready to send: POST of body to request.url().
struct ChatRequest {
    QNetworkRequest request;
    QByteArray body;
    double timeout = 30; // seconds, already checked (finite and positive)
    QString addressTail; // what the format adds to the endpoint's path ("/chat/completions")
};

// Why a request could not be built.
struct RequestError {
    enum class Kind { InvalidEndpoint, InvalidApiKey };
    Kind kind = Kind::InvalidEndpoint;
    QString description;
};

// Where the built-in relay lives and how its requests are signed. Operator configuration.
struct RelayConfig {
    QString secureEndpoint;                    // https, path "/v1"
    QString fallbackEndpoint;                  // plain http, path "/relay/v1"
    std::array<QByteArray, 8> signSecretParts; // eight pieces of eight hex digits

    static RelayConfig defaults();
};

struct ProbeResult {
    qint64 latencyMs = 0;
    QString sample;
};

// The failures of the connection probe and the model list.
class UpdateProbeError {
public:
    enum class Kind {
        Http,            // status other than 200 (status, body)
        ProviderMessage, // 200, but the server sent an error message (message)
        EmptyResponse,   // 200, but nothing readable
        InvalidRequest,  // the request could not be built (message)
        Transport,       // no answer: time-out, no connection, TLS failure ... (transport)
    };
    Kind kind = Kind::EmptyResponse;
    int status = 0;
    QString body;
    QString message;
    TransportError transport;

    static UpdateProbeError http(int status, QString body);
    static UpdateProbeError providerMessage(QString message);
    static UpdateProbeError emptyResponse();
    static UpdateProbeError invalidRequest(QString description);
    static UpdateProbeError transportFailure(TransportError error);

    // The sentence the settings window shows.
    QString errorDescription() const;
};

// Either a value or an UpdateProbeError.
template <typename T>
struct ProbeOutcome {
    std::optional<T> value;
    std::optional<UpdateProbeError> error;
    bool ok() const { return value.has_value(); }
};

class LLMClient : public ModelClient {
public:
    // Bound to SettingsStore::shared().
    LLMClient();
    // pool: the connections every request goes out on (nullptr: the shared one).
    explicit LLMClient(stores::SettingsStore& store, HttpConnectionPool* pool = nullptr);
    ~LLMClient() override;

    // Reads the settings now and starts one request; events follow from the event loop.
    std::unique_ptr<ModelStream> optimize(const QString& prompt, const QString& systemPrompt,
                                          const QList<ChatMessage>& history = {}) override;
    // Opens a connection to the configured provider for the request about to be made.
    void prewarm() override;

    // ---- endpoints and requests ----
    // Trims white space and line breaks, then drops every trailing "/".
    static QString normalizeEndpoint(const QString& endpoint);
    // Parses an http or https address with a host; anything else is an invalid endpoint.
    static std::optional<QUrl> endpointURL(const QString& text, QString* error = nullptr);
    static std::optional<ChatRequest> buildRequest(const ChatRequestOptions& options, RequestError* error = nullptr);

    // ---- answers ----
    static std::optional<QString> content(QByteArrayView ssePayload, APIFormat format);
    // Whether an event payload is the format's own end of an answer: a finish reason (OpenAI,
    // Gemini) or the stop event (Anthropic).
    static bool isFinalEvent(QByteArrayView ssePayload, APIFormat format);
    static std::optional<QString> contentFromSSEPayload(const QString& payload, APIFormat format);
    static std::optional<QString> contentFromWholeBody(const QString& body, APIFormat format);
    static std::optional<QString> contentFromWholeBody(QByteArrayView body, APIFormat format);
    // The provider's own error sentence in a body, at most 400 characters plus "…".
    static std::optional<QString> extractErrorMessage(const QString& body);

    // ---- error sentences ----
    static QString humanizedError(int status, const QString& body);
    static QString humanizedURLError(const TransportError& error);
    static QString timeoutMessage(double configuredSeconds);

    // ---- built-in relay ----
    static constexpr const char* builtInModel = "ark-code-latest";
    static RelayConfig relayConfig();
    // Replaces the relay configuration and forgets the cached relay choice.
    static void setRelayConfig(const RelayConfig& config);
    // The relay base URL for the next request: cached for 600 s, else chosen by health probes.
    static QCoro::Task<QString> resolveBuiltInEndpoint(HttpConnectionPool* pool = nullptr);
    // "x-ts" (milliseconds since 1970) and "x-sign" (hex HMAC-SHA256 of "<deviceID>:<x-ts>").
    static QMap<QString, QString> signedHeaders(const QString& deviceID);

    // ---- settings window ----
    // One real streamed chat request ("You are a test." / "hi"), never relayed; returns on the
    // first text. The endpoint is used as given.
    static QCoro::Task<ProbeOutcome<ProbeResult>> probe(QString endpoint, APIFormat format, QString model,
                                                        QString apiKey, double timeout,
                                                        HttpConnectionPool* pool = nullptr);
    // The provider's model ids, sorted.
    static QCoro::Task<ProbeOutcome<QStringList>> fetchModelIDs(QString endpoint, APIFormat format,
                                                                QString apiKey, HttpConnectionPool* pool = nullptr);

    // The connections used where no pool is given (made on first use, owned by the application).
    static HttpConnectionPool& sharedPool();

    // A timeout in seconds that is safe to wait on: zero, negative or NaN mean the 30 s default;
    // absurdly large values are capped.
    static double sanitizedTimeout(double seconds);

    // Body and line caps: an answer that grows past them ends with an error.
    static constexpr qsizetype maxBodyBytes = 8 * 1024 * 1024;

private:
    stores::SettingsStore& m_store;
    HttpConnectionPool& m_pool;
};

} // namespace corvane::llm
