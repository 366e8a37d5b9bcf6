#pragma once
// Where the engine's session stands. Never stored.
#include <QString>

namespace corvane::trigger {

struct TriggerState {
    enum class Kind { Idle, AwaitingInstruction, Optimizing, Result, Error };
    Kind kind = Kind::Idle;
    QString text;  // Result: the cleaned answer; Error: the user-facing message

    static TriggerState idle() { return {}; }
    static TriggerState awaitingInstruction() { return {Kind::AwaitingInstruction, {}}; }
    static TriggerState optimizing() { return {Kind::Optimizing, {}}; }
    static TriggerState result(QString t) { return {Kind::Result, std::move(t)}; }
    static TriggerState error(QString t) { return {Kind::Error, std::move(t)}; }

    // The case name, with the carried text for result and error: result("text").
    QString description() const {
        switch (kind) {
        case Kind::Idle:
            return QStringLiteral("idle");
        case Kind::AwaitingInstruction:
            return QStringLiteral("awaitingInstruction");
        case Kind::Optimizing:
            return QStringLiteral("optimizing");
        case Kind::Result:
            return QStringLiteral("result(\"") + text + QStringLiteral("\")");
        case Kind::Error:
            break;
        }
        return QStringLiteral("error(\"") + text + QStringLiteral("\")");
    }
    bool operator==(const TriggerState&) const = default;
};

} // namespace corvane::trigger
