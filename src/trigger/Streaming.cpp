// Reading the model's answer into the panel, and reporting a session that cannot go on.
#include "llm/ResponseSanitizer.h"
#include "stores/Graphemes.h"
#include "stores/OptimizationLogger.h"
#include "trigger/StreamPump.h"
#include "trigger/TextMetrics.h"
#include "trigger/TriggerEngine.h"
#include <QCoreApplication>
#include <exception>

namespace corvane::trigger {

using stores::OptimizationLog;

namespace {

constexpr qsizetype kNoteLength = 110;

} // namespace

void TriggerEngine::fail(const QString& message, const std::optional<QString>& detail, const QString& original,
                         const QString& kind, const std::optional<QRectF>& keepFree,
                         const std::optional<QRectF>& keepLine) {
    setState(TriggerState::error(message));
    m_activity.setActivity(AppActivity::Error);
    if (keepFree)
        m_panel.showErrorMessageBeside(message, *keepFree, keepLine);
    else
        m_panel.showErrorMessage(message);
    m_logger.log(OptimizationLog::LogStatus::Failed, original, std::nullopt, detail.value_or(message));
    m_usage.track(QStringLiteral("result"), {{QStringLiteral("action"), QStringLiteral("process")},
                                             {QStringLiteral("ok"), false},
                                             {QStringLiteral("error_kind"), kind}});
}

TriggerEngine::StartedStream TriggerEngine::startStream(const QString& prompt, const stores::PromptRecipe& recipe) {
    StartedStream started;
    started.startedMs = m_clock.uptimeMs();
    try {
        started.stream.reset(m_model.optimize(prompt, recipe.systemPrompt, {}).release());
    } catch (const std::exception& e) {
        started.raisedMessage = QString::fromUtf8(e.what());
    } catch (...) {
        started.raisedMessage = tr("The model request failed unexpectedly.");
    }
    if (!started.stream && started.raisedMessage.isEmpty())
        started.raisedMessage = tr("The model request could not be started.");
    if (started.stream) {
        started.pump = std::make_unique<StreamPump>(*started.stream);
        // A stream starts its request from the event loop. It starts now instead: the record and
        // the panel that follow take a while to build and draw, and nothing of that needs to stand
        // between the user's key and the request.
        QCoreApplication::sendPostedEvents(started.stream.get(), QEvent::MetaCall);
    }
    return started;
}

QCoro::Task<> TriggerEngine::readStream(QString original, StartedStream started, QString recipeName,
                                        QString action) {
    const quint64 generation = m_generation;
    const qint64 startedMs = started.startedMs;
    const auto elapsed = [&] { return m_clock.uptimeMs() - startedMs; };
    if (!started.stream) {
        streamFailed(original, recipeName, action, started.raisedMessage, QStringLiteral("exception"), true,
                     elapsed());
        co_return;
    }
    const std::unique_ptr<StreamPump> pump = std::move(started.pump);
    m_pump = pump.get();
    // What the panel shows is what Replace can write: characters no field can hold never reach it.
    // A high surrogate at the end of a piece waits for its partner at the start of the next.
    QString accumulated;
    QString waitingHalf;
    while (true) {
        const auto event = co_await pump->next();
        if (generation != m_generation || !event)
            break;  // the session ended: its remaining events are dropped
        if (event->type == llm::StreamEvent::Type::Token) {
            QString piece = std::exchange(waitingHalf, QString()) + event->text;
            if (!piece.isEmpty() && piece.back().isHighSurrogate()) {
                waitingHalf = piece.back();
                piece.chop(1);
            }
            piece = text::writable(piece);
            accumulated += piece;
            m_panel.appendResult(piece, accumulated);
            continue;
        }
        if (event->type == llm::StreamEvent::Type::Error) {
            streamFailed(original, recipeName, action, event->message, event->kind, false, elapsed());
            break;
        }
        // The answer as it will be written: cleaned, in the field's own line endings.
        const QString result = text::inLineEndingsOf(llm::ResponseSanitizer::clean(accumulated, original), m_readText);
        if (text::trimmed(result).isEmpty()) {
            // Nothing to write: the same error as a server that answered nothing at all.
            const llm::StreamEvent empty = llm::StreamEvent::emptyResponse();
            streamFailed(original, recipeName, action, empty.message, empty.kind, false, elapsed());
            break;
        }
        setState(TriggerState::result(result));
        m_panel.showResult(result);
        m_activity.setActivity(AppActivity::Done);
        m_logger.log(OptimizationLog::LogStatus::Completed, original, result, std::nullopt, recipeName,
                     QStringLiteral("app=") + m_currentBundleID);
        m_usage.track(QStringLiteral("result"), {{QStringLiteral("action"), action},
                                                 {QStringLiteral("ok"), true},
                                                 {QStringLiteral("latency_ms"), elapsed()}});
        // The field as the result found it: Replace writes only if nothing touched it since.
        m_fieldAtResult = fieldTextNow();
        break;  // a terminal event is the last one of a stream
    }
    if (m_pump == pump.get())
        m_pump = nullptr;
}

void TriggerEngine::streamFailed(const QString& original, const QString& recipeName, const QString& action,
                                 const QString& message, const QString& kind, bool raised, qint64 latencyMs) {
    setState(TriggerState::error(message));
    m_panel.showError(message);
    m_activity.setActivity(AppActivity::Error);
    m_logger.log(OptimizationLog::LogStatus::Failed, original, std::nullopt, message, recipeName,
                 QStringLiteral("app=") + m_currentBundleID);
    QVariantMap properties{{QStringLiteral("action"), action},
                           {QStringLiteral("ok"), false},
                           {QStringLiteral("latency_ms"), latencyMs},
                           {QStringLiteral("error_kind"), kind}};
    if (!raised)
        properties.insert(QStringLiteral("note"), stores::graphemes::prefix(message, kNoteLength));
    m_usage.track(QStringLiteral("result"), properties);
}

} // namespace corvane::trigger
