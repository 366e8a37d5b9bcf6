// The settings window's connection test and model list.
#include "llm/BodyText.h"
#include "llm/HeaderSafety.h"
#include "llm/HttpExchange.h"
#include "llm/JsonShape.h"
#include "llm/LLMClient.h"
#include "llm/SsePayload.h"
#include "llm/Tr.h"
#include "llm/Wakeup.h"
#include "platform/Clock.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <memory>

namespace corvane::llm {

namespace {

std::optional<UpdateProbeError> failureOf(const HttpExchange::End& end) {
    using Kind = HttpExchange::End::Kind;
    switch (end.kind) {
    case Kind::Complete:
        return std::nullopt;
    case Kind::HttpStatus:
        return UpdateProbeError::http(end.status, decodeErrorBody(end.body, end.truncated));
    case Kind::NotHttp:
        return UpdateProbeError::transportFailure(
            {TransportError::Code::Other, tr("The server's answer is not an HTTP response")});
    case Kind::Transport:
        return UpdateProbeError::transportFailure(end.transport);
    case Kind::TooLarge:
        return UpdateProbeError::providerMessage(oversizedAnswerMessage());
    }
    return std::nullopt;
}

// Code point order (UTF-16 unit order differs above U+FFFF).
bool codePointLess(const QString& a, const QString& b) {
    const QList<uint> ua = a.toUcs4();
    const QList<uint> ub = b.toUcs4();
    return std::lexicographical_compare(ua.begin(), ua.end(), ub.begin(), ub.end());
}

std::optional<QStringList> idsFrom(const QJsonObject& root) {
    QStringList ids;
    if (const std::optional<QJsonArray> data = objectArray(root.value(QLatin1String("data")))) {
        for (const QJsonValue& entry : *data) {
            const QJsonValue id = entry.toObject().value(QLatin1String("id"));
            if (id.isString())
                ids.append(id.toString());
        }
    } else if (const std::optional<QJsonArray> models = objectArray(root.value(QLatin1String("models")))) {
        for (const QJsonValue& entry : *models) {
            const QJsonValue name = entry.toObject().value(QLatin1String("name"));
            if (!name.isString())
                continue;
            QString id = name.toString();
            if (id.startsWith(QLatin1String("models/")))
                id.remove(0, 7);
            ids.append(id);
        }
    } else {
        return std::nullopt;
    }
    std::sort(ids.begin(), ids.end(), codePointLess);
    return ids;
}

} // namespace

UpdateProbeError UpdateProbeError::http(int status, QString body) {
    UpdateProbeError e;
    e.kind = Kind::Http;
    e.status = status;
    e.body = std::move(body);
    return e;
}

UpdateProbeError UpdateProbeError::providerMessage(QString message) {
    UpdateProbeError e;
    e.kind = Kind::ProviderMessage;
    e.message = std::move(message);
    return e;
}

UpdateProbeError UpdateProbeError::emptyResponse() { return {}; }

UpdateProbeError UpdateProbeError::invalidRequest(QString description) {
    UpdateProbeError e;
    e.kind = Kind::InvalidRequest;
    e.message = std::move(description);
    return e;
}

UpdateProbeError UpdateProbeError::transportFailure(TransportError error) {
    UpdateProbeError e;
    e.kind = Kind::Transport;
    e.transport = std::move(error);
    return e;
}

QString UpdateProbeError::errorDescription() const {
    switch (kind) {
    case Kind::Http:
        return LLMClient::humanizedError(status, body);
    case Kind::ProviderMessage:
    case Kind::InvalidRequest:
        return message;
    case Kind::EmptyResponse:
        return tr("The endpoint returned no streaming data. Make sure the interface format matches the endpoint");
    case Kind::Transport:
        return LLMClient::humanizedURLError(transport);
    }
    return {};
}

QCoro::Task<ProbeOutcome<ProbeResult>> LLMClient::probe(QString endpoint, APIFormat format, QString model,
                                                        QString apiKey, double timeout, HttpConnectionPool* pool) {
    using Outcome = ProbeOutcome<ProbeResult>;
    platform::Clock& clock = platform::Clock::shared();
    const qint64 startMs = clock.uptimeMs();
    auto success = [&](QString sample) {
        return Outcome{ProbeResult{clock.uptimeMs() - startMs, std::move(sample)}, std::nullopt};
    };

    ChatRequestOptions options;
    options.endpoint = endpoint;
    options.format = format;
    options.model = model;
    options.system = QStringLiteral("You are a test.");
    options.prompt = QStringLiteral("hi");
    options.apiKey = apiKey;
    options.timeout = timeout;
    RequestError requestError;
    const std::optional<ChatRequest> request = buildRequest(options, &requestError);
    if (!request)
        co_return Outcome{std::nullopt, UpdateProbeError::invalidRequest(requestError.description)};

    QString sample;
    QByteArray lines; // joined with "\n"
    qsizetype lineCount = 0;
    qsizetype heldBytes = 0;
    std::optional<UpdateProbeError> failure;
    std::optional<HttpExchange::End> end;
    Wakeup stopped;

    HttpExchangePtr exchange(new HttpExchange(pool ? *pool : sharedPool(), HttpExchange::Mode::StreamLines,
                                              request->timeout, maxBodyBytes));
    exchange->addressTail = request->addressTail;
    exchange->onLine = [&](QByteArrayView line) {
        heldBytes += line.size() + 1;
        if (heldBytes > maxBodyBytes) {
            failure = UpdateProbeError::providerMessage(oversizedAnswerMessage());
            stopped.fire();
            return false;
        }
        if (lineCount++ > 0)
            lines.append('\n');
        lines.append(line.data(), line.size());
        const std::optional<QByteArrayView> payload = ssePayload(line);
        if (!payload)
            return true;
        if (isDoneMarker(*payload)) {
            stopped.fire();
            return false;
        }
        if (const std::optional<QString> text = content(*payload, format))
            sample += *text;
        if (!sample.isEmpty()) {
            stopped.fire();
            return false;
        }
        if (const std::optional<QString> message = extractErrorMessage(QString::fromUtf8(*payload))) {
            failure = UpdateProbeError::providerMessage(*message);
            stopped.fire();
            return false;
        }
        return true;
    };
    exchange->onEnd = [&](const HttpExchange::End& e) {
        end = e;
        stopped.fire();
    };
    exchange->start(request->request, "POST", request->body);
    co_await stopped.wait();
    exchange.reset();

    if (failure)
        co_return Outcome{std::nullopt, failure};
    if (end) {
        if (std::optional<UpdateProbeError> f = failureOf(*end))
            co_return Outcome{std::nullopt, f};
    }
    if (!sample.isEmpty())
        co_return success(sample);
    const QByteArray joined = std::exchange(lines, {});
    if (isWebPage(QByteArrayView(joined)))
        co_return Outcome{std::nullopt, UpdateProbeError::providerMessage(webPageMessage())};
    if (std::optional<QString> text = contentFromWholeBody(QByteArrayView(joined), format))
        co_return success(*text);
    if (std::optional<QString> message = extractErrorMessage(QString::fromUtf8(joined)))
        co_return Outcome{std::nullopt, UpdateProbeError::providerMessage(*message)};
    co_return Outcome{std::nullopt, UpdateProbeError::emptyResponse()};
}

QCoro::Task<ProbeOutcome<QStringList>> LLMClient::fetchModelIDs(QString endpoint, APIFormat format, QString apiKey,
                                                                HttpConnectionPool* pool) {
    using Outcome = ProbeOutcome<QStringList>;
    QString urlError;
    const std::optional<QUrl> url = endpointURL(normalizeEndpoint(endpoint) + format.modelsPath(), &urlError);
    if (!url)
        co_return Outcome{std::nullopt, UpdateProbeError::invalidRequest(urlError)};
    if (!isSafeHeaderValue(apiKey))
        co_return Outcome{std::nullopt, UpdateProbeError::invalidRequest(invalidKeyMessage())};

    QNetworkRequest request(*url);
    switch (format.value()) {
    case APIFormat::OpenAI:
        request.setRawHeader("Authorization", "Bearer " + headerValue(apiKey));
        break;
    case APIFormat::Anthropic:
        request.setRawHeader("x-api-key", headerValue(apiKey));
        request.setRawHeader("anthropic-version", "2023-06-01");
        break;
    case APIFormat::Gemini:
        request.setRawHeader("x-goog-api-key", headerValue(apiKey));
        break;
    }

    std::optional<HttpExchange::End> end;
    Wakeup ended;
    HttpExchangePtr exchange(new HttpExchange(pool ? *pool : sharedPool(), HttpExchange::Mode::WholeBody, 10.0,
                                              maxBodyBytes));
    exchange->onEnd = [&](const HttpExchange::End& e) {
        end = e;
        ended.fire();
    };
    exchange->start(request, "GET");
    co_await ended.wait();
    exchange.reset();

    if (end->kind == HttpExchange::End::Kind::NotHttp)
        co_return Outcome{std::nullopt, UpdateProbeError::http(0, QString())};
    if (std::optional<UpdateProbeError> f = failureOf(*end))
        co_return Outcome{std::nullopt, f};
    const QJsonDocument doc = QJsonDocument::fromJson(end->body);
    if (!doc.isObject())
        co_return Outcome{std::nullopt, UpdateProbeError::emptyResponse()};
    if (std::optional<QStringList> ids = idsFrom(doc.object()))
        co_return Outcome{*ids, std::nullopt};
    co_return Outcome{std::nullopt, UpdateProbeError::emptyResponse()};
}

} // namespace corvane::llm
