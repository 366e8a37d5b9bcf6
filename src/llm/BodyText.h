#pragma once
// Turning response bytes into text for error sentences.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace corvane::llm {

// UTF-8, where a byte that is not part of a well-formed UTF-8 sequence stands for its Latin-1
// character, so that neither the valid text around it nor the byte is lost. Only a body the size
// cap cut (`cut`) may end on the start of a character; that start is dropped.
QString decodeErrorBody(const QByteArray& bytes, bool cut = false);

// The sentence for an answer that grew past the size cap, before or after model text came.
QString oversizedAnswerMessage(bool afterText = false);

// Whether a body is markup (a web page: a network's sign-in page, a proxy's or a web server's error
// page) rather than anything an API sends: past white space and a byte-order mark, it opens with a
// tag, a comment or a declaration. The markup itself is never shown to the user.
bool isWebPage(QByteArrayView body);
bool isWebPage(QStringView body);
// The sentence for a 200 answer that is a web page.
QString webPageMessage();

} // namespace corvane::llm
