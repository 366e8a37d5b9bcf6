#pragma once
// The signature that identifies this installation to the operator's servers: the built-in relay,
// usage events and feedback all carry the same two headers.
#include <QDateTime>
#include <QMap>
#include <QString>

namespace corvane::llm {

// "x-ts" (whole milliseconds since 1970 at `at`) and "x-sign" (lower-case hex HMAC-SHA256 of
// "<deviceID>:<x-ts>" under the built-in key).
QMap<QString, QString> signedHeaders(const QString& deviceID, const QDateTime& at);

} // namespace corvane::llm
