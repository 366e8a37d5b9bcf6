#pragma once
// Removes the conversational wrapping chat models put around the text that was asked for: a code
// fence around the whole answer, an acknowledgement line ("Sure! Here's the polished version:"), a
// divider under it, and a closing offer of further help. The result can go straight back into the
// field the user was typing in.
//
// The wrapping is recognised by patterns, and the user's own text can match them ("Note: bring your
// badge.", "OKRs for Q3:", a closing "---"). So the text the answer was made from decides last: a
// line it holds is never removed.
#include <QString>

namespace corvane::llm {

class ResponseSanitizer {
public:
    ResponseSanitizer() = delete;

    // `original` is the user's text the answer was made from (empty when there is none). Never
    // fails and never turns a non-empty answer into an empty one.
    static QString clean(const QString& input, const QString& original);

private:
    // Each step gets the original case-folded.
    static QString unwrapCodeFence(const QString& t, const QString& original);
    static QString stripLeadingChatter(const QString& t, const QString& original);
    static QString stripLeadingDivider(const QString& t, const QString& original);
    static QString stripTrailingChatter(const QString& t, const QString& original);
};

} // namespace corvane::llm
