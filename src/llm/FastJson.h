#pragma once
// A quick reader for the answer text of one event payload, on simdjson. It answers only when it is
// sure to give the full reader's answer: anything the two readers might judge differently (numbers
// that under- or overflow, lone surrogates, lax syntax, scalars on top, deep nesting) is left to the
// full reader: the answer is then "undecided".
#include "llm/APIVendor.h"
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace corvane::llm::fastjson {

// Outer nothing: undecided, ask the full reader. Inner nothing: the payload holds no text.
std::optional<std::optional<QString>> eventText(QByteArrayView payload, APIFormat format);

} // namespace corvane::llm::fastjson

namespace corvane::llm {
// The same answer read with the full JSON reader, for every payload.
std::optional<QString> eventTextFullReader(QByteArrayView payload, APIFormat format);
} // namespace corvane::llm
