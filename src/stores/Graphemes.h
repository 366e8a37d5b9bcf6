#pragma once
// Lengths and cuts in user-perceived characters (extended grapheme clusters).
#include <QString>

namespace corvane::stores::graphemes {

qsizetype count(const QString& text);
// The first n characters of text; the whole text when it has n or fewer. Never splits a cluster.
QString prefix(const QString& text, qsizetype n);

} // namespace corvane::stores::graphemes
