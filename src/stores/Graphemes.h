#pragma once
// Lengths and cuts in user-perceived characters (extended grapheme clusters).
#include <QString>

namespace corvane::stores::graphemes {

qsizetype count(const QString& text);
// Whether text has at least n characters; walks no further than the n-th.
bool hasAtLeast(const QString& text, qsizetype n);
// The first n characters of text; the whole text when it has n or fewer. Never splits a cluster.
QString prefix(const QString& text, qsizetype n);

} // namespace corvane::stores::graphemes
