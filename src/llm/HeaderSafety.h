#pragma once
// Header values travel as raw bytes: a line break or NUL in one would end the header early or
// smuggle in another one, so such values are refused before anything is sent.
#include <QByteArray>
#include <QString>

namespace corvane::llm {

bool isSafeHeaderValue(const QString& value);
// The bytes of a header value; an empty value still sends the header (a null one would drop it).
QByteArray headerValue(const QString& value);
QString invalidKeyMessage();

} // namespace corvane::llm
