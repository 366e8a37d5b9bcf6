#pragma once
// One event of a model answer stream: a token (text to append), an error (user-facing message and
// machine kind) or done. Every stream carries zero or more tokens, then exactly one terminal event.
#include <QList>
#include <QMetaType>
#include <QString>

namespace corvane::llm {

struct StreamEvent {
    enum class Type { Token, Error, Done };
    Type type = Type::Done;
    QString text;     // Token: the fragment to append
    QString message;  // Error: user-facing sentence
    QString kind;     // Error: "invalid_endpoint", "invalid_response", "http_<code>", "provider",
                      //        "empty_response", "parse", "timeout", "network"

    static StreamEvent token(QString t) { return {Type::Token, std::move(t), {}, {}}; }
    static StreamEvent error(QString msg, QString k) { return {Type::Error, {}, std::move(msg), std::move(k)}; }
    static StreamEvent done() { return {Type::Done, {}, {}, {}}; }
    // A server that answered nothing, or an answer with nothing left to write once cleaned.
    static StreamEvent emptyResponse();
    bool isTerminal() const { return type != Type::Token; }
    bool operator==(const StreamEvent&) const = default;
};

// One earlier turn of the conversation ("user" or "assistant").
struct ChatMessage {
    QString role;
    QString content;
    bool operator==(const ChatMessage&) const = default;
};

} // namespace corvane::llm

Q_DECLARE_METATYPE(corvane::llm::StreamEvent)
