#pragma once
// Turning response bytes into text for error sentences.
#include <QByteArray>
#include <QString>

namespace corvane::llm {

// UTF-8, where a byte that is not part of a well-formed UTF-8 sequence stands for its Latin-1
// character, so that neither the valid text around it nor the byte is lost. Only a body the size
// cap cut (`cut`) may end on the start of a character; that start is dropped.
QString decodeErrorBody(const QByteArray& bytes, bool cut = false);

// The sentence for an answer that grew past the size cap, before or after model text came.
QString oversizedAnswerMessage(bool afterText = false);

} // namespace corvane::llm
