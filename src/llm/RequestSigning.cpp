#include "llm/RequestSigning.h"
#include "llm/LLMClient.h"
#include <QMessageAuthenticationCode>

namespace corvane::llm {

QMap<QString, QString> signedHeaders(const QString& deviceID, const QDateTime& at) {
    // Whole milliseconds; QDateTime already drops any fraction of a millisecond.
    const QString timestamp = QString::number(at.toMSecsSinceEpoch());

    // The key is only ever whole for the moment it is used.
    QByteArray key;
    for (const QByteArray& part : LLMClient::relayConfig().signSecretParts)
        key += part;
    const QByteArray mac = QMessageAuthenticationCode::hash((deviceID + u':' + timestamp).toUtf8(), key,
                                                           QCryptographicHash::Sha256);
    key.fill('\0');
    return {{QStringLiteral("x-ts"), timestamp}, {QStringLiteral("x-sign"), QString::fromLatin1(mac.toHex())}};
}

} // namespace corvane::llm
