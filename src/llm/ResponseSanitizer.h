#pragma once
// Removes the conversational wrapping chat models put around the text that was asked for: a code
// fence around the whole answer, an acknowledgement line ("Sure! Here's the polished version:"), a
// divider under it, and a closing offer of further help. The result can go straight back into the
// field the user was typing in.
#include <QString>

namespace corvane::llm {

class ResponseSanitizer {
public:
    ResponseSanitizer() = delete;

    // Never fails and never turns a non-empty answer into an empty one.
    static QString clean(const QString& input);

private:
    static QString unwrapCodeFence(const QString& t);
    static QString stripLeadingChatter(const QString& t);
    static QString stripLeadingDivider(const QString& t);
    static QString stripTrailingChatter(const QString& t);
};

} // namespace corvane::llm
