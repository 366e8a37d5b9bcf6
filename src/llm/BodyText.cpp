#include "llm/BodyText.h"
#include "llm/LLMClient.h"
#include "llm/Tr.h"
#include <algorithm>

namespace corvane::llm {

namespace {

// The length of the well-formed UTF-8 sequence at p (shortest form, no surrogates, at most
// U+10FFFF); 0 when the bytes there are not one, -1 when they are its start cut off by the end.
int utf8Length(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = *p;
    int length;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (p + i >= end)
            return -1;
        const unsigned char c = p[i];
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

char16_t unit(char c) { return static_cast<unsigned char>(c); }
char16_t unit(QChar c) { return c.unicode(); }

template <typename Char>
bool opensWithMarkup(const Char* p, const Char* end, std::initializer_list<char16_t> byteOrderMark) {
    const auto markLength = static_cast<std::ptrdiff_t>(byteOrderMark.size());
    if (end - p >= markLength &&
        std::equal(byteOrderMark.begin(), byteOrderMark.end(), p, [](char16_t m, Char c) { return unit(c) == m; }))
        p += markLength;
    while (p < end && (unit(*p) == u' ' || (unit(*p) >= u'\t' && unit(*p) <= u'\r')))
        ++p;
    if (end - p < 2 || unit(*p) != u'<')
        return false;
    const char16_t next = unit(p[1]);
    return (next >= u'a' && next <= u'z') || (next >= u'A' && next <= u'Z') || next == u'!' || next == u'?';
}

} // namespace

bool isWebPage(QByteArrayView body) {
    return opensWithMarkup<char>(body.data(), body.data() + body.size(), {0xEF, 0xBB, 0xBF});
}

bool isWebPage(QStringView body) {
    return opensWithMarkup<QChar>(body.data(), body.data() + body.size(), {0xFEFF});
}

QString webPageMessage() {
    return tr("The server answered with a web page, not the API (HTTP 200). If your network asks you to sign in, "
              "do that in a browser; otherwise check the API endpoint");
}

QString decodeErrorBody(const QByteArray& bytes, bool cut) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* const end = p + bytes.size();
    QString text;
    text.reserve(bytes.size());
    const unsigned char* run = p; // start of the well-formed UTF-8 not yet decoded
    auto flush = [&](const unsigned char* upTo) {
        if (upTo > run)
            text += QString::fromUtf8(reinterpret_cast<const char*>(run), upTo - run);
    };
    while (p < end) {
        const int length = utf8Length(p, end);
        if (length > 0) {
            p += length;
            continue;
        }
        flush(p);
        if (length < 0 && cut) // a character the cap cut in two: dropped
            return text;
        text += QChar(static_cast<char16_t>(*p)); // not UTF-8: the byte as its Latin-1 character
        run = ++p;
    }
    flush(p);
    return text;
}

QString oversizedAnswerMessage(bool afterText) {
    if (afterText)
        return tr("The server's answer is larger than %1 MiB; the text so far is incomplete")
            .arg(LLMClient::maxBodyBytes / (1024 * 1024));
    return tr("The server's answer is larger than %1 MiB without any model text. Check that the API endpoint is correct")
        .arg(LLMClient::maxBodyBytes / (1024 * 1024));
}

} // namespace corvane::llm
