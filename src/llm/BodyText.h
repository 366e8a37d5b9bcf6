#pragma once
// Turning response bytes into text for error sentences.
#include <QByteArray>
#include <QString>

namespace corvane::llm {

// UTF-8 when the bytes are UTF-8 (a sequence cut off at the very end, as a size cap leaves it, is
// dropped); otherwise each byte as one Latin-1 character, so that nothing is lost.
QString decodeErrorBody(const QByteArray& bytes);

// The sentence for an answer that grew past the size cap before any model text came.
QString oversizedAnswerMessage();

} // namespace corvane::llm
