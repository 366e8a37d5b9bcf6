#pragma once
// What the engine needs of the model client: start one streamed answer, read its events, stop it.
#include "llm/StreamEvent.h"
#include <QObject>
#include <memory>

namespace corvane::llm {

// A running answer. Events are delivered on the thread that owns the stream (the main thread),
// never from inside the call that created it. Destroying the stream, or calling stop(), aborts the
// HTTP request; no event is emitted after stop() returns.
class ModelStream : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ModelStream() override = default;
    virtual void stop() = 0;
    virtual bool isFinished() const = 0;

Q_SIGNALS:
    void event(const corvane::llm::StreamEvent& event);
};

class ModelClient {
public:
    virtual ~ModelClient() = default;
    // Starts one request with the current settings (provider, key, model, timeout, relay choice).
    virtual std::unique_ptr<ModelStream> optimize(const QString& prompt, const QString& systemPrompt,
                                                  const QList<ChatMessage>& history = {}) = 0;
    // A request is about to be made: its connection may be opened now, while the caller gets ready.
    virtual void prewarm() {}
};

} // namespace corvane::llm
