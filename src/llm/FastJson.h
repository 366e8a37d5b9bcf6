#pragma once
// A quick reader for the answer text of one event payload. It reads only strictly valid JSON into
// a flat, reused node list, with the same values the full JSON reader would produce. Anything it is
// not sure about (lax syntax the full reader tolerates, numbers with exponents, deep nesting) is
// left to the full reader: the answer is then "undecided".
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
