#pragma once
// One streamed answer: sends the request, reads the body line by line as it arrives, and turns it
// into token events followed by exactly one terminal event (done or error).
#include "llm/APIVendor.h"
#include "llm/HttpExchange.h"
#include "llm/ModelClient.h"
#include <QByteArrayList>

namespace corvane::stores {
class SettingsStore;
}

namespace corvane::llm {

class LLMStream final : public ModelStream {
    Q_OBJECT
public:
    // The settings read when the request was started.
    struct Params {
        bool useBuiltIn = false;
        QString endpoint; // normalised
        APIFormat format;
        QString apiKey;
        QString model;
        QString prompt;
        QString systemPrompt;
        double timeout = 30; // the stored setting as it was when the run started
        QList<ChatMessage> history;
    };

    LLMStream(stores::SettingsStore& store, HttpConnectionPool& pool, Params params);
    ~LLMStream() override;

    void stop() override;
    bool isFinished() const override { return m_finished; }

private:
    void begin();
    void send(const QString& baseURL);
    bool handleLine(QByteArrayView line);
    void handleEnd(const HttpExchange::End& end);
    void handleWholeBody();
    // Emits one event; false when the stream was stopped or destroyed meanwhile.
    bool deliver(const StreamEvent& e);
    void finish(const StreamEvent& terminal);
    void dropExchange();

    stores::SettingsStore& m_store;
    HttpConnectionPool& m_pool;
    Params m_params;
    HttpExchangePtr m_exchange;
    bool m_finished = false;
    bool m_sawEventLine = false;
    bool m_bodyBegan = false; // a line that is not blank came
    bool m_sawText = false;
    bool m_sawFinalEvent = false; // the format's own end of an answer (finish reason, stop event)
    // Every line until the first event line, joined with "\n", for a server that answers with a
    // plain body. One array: a list of many short lines would cost several times their size.
    QByteArray m_held;
    qsizetype m_heldLines = 0;
    qsizetype m_receivedBytes = 0; // every line so far, held or not

};

} // namespace corvane::llm
