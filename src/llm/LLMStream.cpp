#include "llm/LLMStream.h"
#include "llm/BodyText.h"
#include "llm/JsonShape.h"
#include "llm/LLMClient.h"
#include "llm/SsePayload.h"
#include "llm/TextUtil.h"
#include "llm/Tr.h"
#include "platform/RunTrace.h"
#include "stores/SettingsStore.h"
#include <qcoro/qcorotask.h>

namespace corvane::llm {

StreamEvent StreamEvent::emptyResponse() {
    return error(llm::tr("The server returned an empty response"), QStringLiteral("empty_response"));
}

LLMStream::LLMStream(stores::SettingsStore& store, HttpConnectionPool& pool, Params params)
    : m_store(store), m_pool(pool), m_params(std::move(params)) {
    // Events never come from inside the call that created the stream.
    QMetaObject::invokeMethod(this, &LLMStream::begin, Qt::QueuedConnection);
}

LLMStream::~LLMStream() { dropExchange(); }

void LLMStream::stop() {
    m_finished = true;
    dropExchange();
}

void LLMStream::dropExchange() {
    // Deleted later: this may run inside one of the exchange's own callbacks.
    m_exchange.reset();
}

void LLMStream::begin() {
    platform::runtrace::mark("begin");
    if (m_finished)
        return;
    if (!m_params.useBuiltIn) {
        send(m_params.endpoint);
        return;
    }
    QCoro::connect(LLMClient::resolveBuiltInEndpoint(&m_pool), this, [this](const QString& baseURL) {
        if (!m_finished)
            send(baseURL);
    });
}

void LLMStream::send(const QString& baseURL) {
    const double configured = m_params.timeout;
    ChatRequestOptions options;
    options.endpoint = baseURL;
    options.format = m_params.format;
    options.model = m_params.model;
    options.system = m_params.systemPrompt;
    options.history = m_params.history;
    options.prompt = m_params.prompt;
    options.apiKey = m_params.apiKey;
    options.useBuiltIn = m_params.useBuiltIn;
    options.timeout = m_params.useBuiltIn ? std::max(configured, 30.0) : std::max(configured, 0.0);
    if (m_params.useBuiltIn)
        options.deviceID = m_store.deviceID();

    RequestError error;
    const std::optional<ChatRequest> request = LLMClient::buildRequest(options, &error);
    platform::runtrace::mark("body");
    if (!request) {
        const QString message = error.kind == RequestError::Kind::InvalidEndpoint
                                    ? llm::tr("Invalid API endpoint: %@").replace(QLatin1String("%@"), error.description)
                                    : error.description;
        finish(StreamEvent::error(message, QStringLiteral("invalid_endpoint")));
        return;
    }
    m_exchange.reset(new HttpExchange(m_pool, HttpExchange::Mode::StreamLines, request->timeout,
                                      LLMClient::maxBodyBytes));
    m_exchange->addressTail = request->addressTail;
    m_exchange->onLine = [this](QByteArrayView line) { return handleLine(line); };
    m_exchange->onEnd = [this](const HttpExchange::End& end) { handleEnd(end); };
    m_exchange->start(request->request, "POST", request->body);
}

bool LLMStream::handleLine(QByteArrayView line) {
    // Every line counts toward the cap, event lines included: an answer that never ends is cut.
    m_receivedBytes += line.size() + 1;
    if (m_receivedBytes > LLMClient::maxBodyBytes) {
        finish(StreamEvent::error(oversizedAnswerMessage(m_sawText), QStringLiteral("invalid_response")));
        return false;
    }
    if (!m_sawEventLine) {
        // A web page (a network's sign-in page) is known by its first line: nothing more is read. It is
        // still the provider's answer as far as the error's kind goes, as any body that is not the API's.
        if (!m_bodyBegan && !line.trimmed().isEmpty()) {
            m_bodyBegan = true;
            if (isWebPage(line)) {
                finish(StreamEvent::error(webPageMessage(), QStringLiteral("provider")));
                return false;
            }
        }
        if (m_heldLines++ > 0)
            m_held.append('\n');
        m_held.append(line.data(), line.size());
    }
    const std::optional<QByteArrayView> payload = ssePayload(line);
    if (!payload)
        return true;
    if (!m_sawEventLine) {
        m_sawEventLine = true; // from here on the plain-body fallback cannot apply
        m_held = QByteArray();
    }
    if (isDoneMarker(*payload)) {
        // The answer is whole; the rest of the body is still read, for the connection's sake.
        m_exchange.release()->drainAndDelete();
        finish(StreamEvent::done());
        return false;
    }
    m_sawFinalEvent = m_sawFinalEvent || LLMClient::isFinalEvent(*payload, m_params.format);
    if (std::optional<QString> text = LLMClient::content(*payload, m_params.format)) {
        m_sawText = true;
        return deliver(StreamEvent::token(std::move(*text)));
    }
    // A line the close may have cut is no plain-text sentence of the provider's: read as one, it
    // would show the user raw JSON. Only a whole JSON error counts; the end decides the rest.
    if (m_exchange && m_exchange->lineMayBeCut() && !parseJson(payload->toByteArray()))
        return true;
    if (std::optional<QString> message = LLMClient::extractErrorMessage(QString::fromUtf8(*payload))) {
        finish(StreamEvent::error(*message, QStringLiteral("provider")));
        return false;
    }
    return true;
}

void LLMStream::handleEnd(const HttpExchange::End& end) {
    using Kind = HttpExchange::End::Kind;
    switch (end.kind) {
    case Kind::Complete:
        // A body that ran until the connection closed is whole only when the format says it ended.
        if (m_sawEventLine && end.unframed && !m_sawFinalEvent)
            finish(StreamEvent::error(HttpExchange::cutShortMessage(), QStringLiteral("network")));
        else if (m_sawEventLine)
            finish(StreamEvent::done());
        else
            handleWholeBody();
        return;
    case Kind::HttpStatus:
        finish(StreamEvent::error(LLMClient::humanizedError(end.status, decodeErrorBody(end.body, end.truncated)),
                                  QStringLiteral("http_%1").arg(end.status)));
        return;
    case Kind::NotHttp:
        finish(StreamEvent::error(llm::tr("Invalid response"), QStringLiteral("invalid_response")));
        return;
    case Kind::Transport:
        if (end.transport.code == TransportError::Code::TimedOut)
            finish(StreamEvent::error(LLMClient::timeoutMessage(m_params.timeout), QStringLiteral("timeout")));
        else
            finish(StreamEvent::error(LLMClient::humanizedURLError(end.transport), QStringLiteral("network")));
        return;
    case Kind::TooLarge:
        finish(StreamEvent::error(oversizedAnswerMessage(m_sawText), QStringLiteral("invalid_response")));
        return;
    }
}

void LLMStream::handleWholeBody() {
    const QByteArray body = std::exchange(m_held, {});
    if (std::optional<QString> text = LLMClient::contentFromWholeBody(QByteArrayView(body), m_params.format)) {
        if (deliver(StreamEvent::token(std::move(*text))))
            finish(StreamEvent::done());
        return;
    }
    const QString bodyText = QString::fromUtf8(body);
    if (std::optional<QString> message = LLMClient::extractErrorMessage(bodyText))
        finish(StreamEvent::error(*message, QStringLiteral("provider")));
    else if (text::trimFully(bodyText).isEmpty())
        finish(StreamEvent::emptyResponse());
    else
        finish(StreamEvent::error(
            llm::tr("Unrecognized response format (neither streaming nor standard JSON). Check that the API endpoint is correct"),
            QStringLiteral("parse")));
}

bool LLMStream::deliver(const StreamEvent& e) {
    QPointer<LLMStream> self(this);
    Q_EMIT event(e);
    return self && !m_finished;
}

void LLMStream::finish(const StreamEvent& terminal) {
    if (m_finished)
        return;
    m_finished = true;
    dropExchange();
    // A provider's error may quote the key it was sent; the sentence goes to the panel and the
    // logs, so the key never travels with it.
    if (terminal.type == StreamEvent::Type::Error && m_params.apiKey.size() >= 4 &&
        terminal.message.contains(m_params.apiKey)) {
        StreamEvent masked = terminal;
        masked.message.replace(m_params.apiKey, QStringLiteral("••••"));
        Q_EMIT event(masked);
        return;
    }
    Q_EMIT event(terminal);
}

} // namespace corvane::llm
