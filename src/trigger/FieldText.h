#pragma once
// A field's text as the user sees it, from what the accessibility interface gives: the objects a
// rich editor embeds in its text (paragraphs, links, list items) put back in their places, and the
// fillers a toolkit adds to count its own offsets dropped.
#include "platform/Accessibility.h"
#include <QString>

namespace corvane::trigger::fieldtext {

// What the interface puts where an embedded object stands.
inline constexpr char16_t kPlaceholder = 0xFFFC;

// raw, the element's text, with each placeholder replaced by the text of the object that stands
// there, in order and at any depth; a block (paragraph, list item, ...) stands on lines of its own,
// an inline object (a link) inside the line. A placeholder whose object or text cannot be told
// stays: the text is then not the field's.
QString expanded(platform::Accessibility& a11y, const platform::ElementRef& element, const QString& raw);

// Whether the toolkit puts U+FEFF after each character outside the Basic Multilingual Plane, so
// that its offsets count UTF-16 units (Gecko).
bool padsAstralCharacters(const std::optional<platform::Toolkit>& toolkit);
// Whether text holds a U+FEFF right after such a character (only then is the toolkit asked).
bool mayHoldFillers(const QString& text);
// text without the U+FEFF that follows each such character; any other U+FEFF stays.
QString withoutFillers(const QString& text);

// Code points in text: the characters offsets count.
int characterCount(QStringView text);

} // namespace corvane::trigger::fieldtext
