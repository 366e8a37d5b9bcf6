#include "llm/BodyText.h"
#include "llm/LLMClient.h"
#include "llm/Tr.h"
#include <QStringDecoder>

namespace corvane::llm {

namespace {

bool decodeUtf8(QByteArrayView bytes, QString* out) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    *out = std::move(text);
    return true;
}

} // namespace

QString decodeErrorBody(const QByteArray& bytes) {
    QString text;
    if (decodeUtf8(bytes, &text))
        return text;
    // A cap may have cut the last character in two: at most three bytes of it remain.
    for (qsizetype cut = 1; cut <= 3 && cut < bytes.size(); ++cut) {
        const auto lead = static_cast<unsigned char>(bytes[bytes.size() - cut]);
        if ((lead & 0xC0) == 0x80)
            continue; // a continuation byte; look further back for the lead byte
        if (lead >= 0xC0 && decodeUtf8(QByteArrayView(bytes).chopped(cut), &text))
            return text;
        break;
    }
    return QString::fromLatin1(bytes);
}

QString oversizedAnswerMessage() {
    return tr("The server's answer is larger than %1 MiB without any model text. Check that the API endpoint is correct")
        .arg(LLMClient::maxBodyBytes / (1024 * 1024));
}

} // namespace corvane::llm
