#pragma once
// Raw access to the focused element of other applications (AT-SPI2 on Linux).
// Every call is bounded in time by the backend; a call that fails or times out answers "nothing".
// Decisions (what counts as a text field, a terminal, a password) are made above this layer.
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace corvane::platform {

// An opaque handle on an accessible element. Backends subclass it and say when two handles are one element.
class AccessibleElement {
public:
    virtual ~AccessibleElement() = default;
    // Whether both handles stand for the same element (two lookups of one field give two handles).
    virtual bool sameAs(const AccessibleElement& other) const { return this == &other; }
};
using ElementRef = std::shared_ptr<AccessibleElement>;

// An element's value: text, or a number (rendered to text by the caller's rule).
struct AccessibleValue {
    enum class Kind { Text, Number } kind = Kind::Text;
    QString text;
    double number = 0;
};

struct TextRange {
    int start = 0;    // in the characters the interface counts (code points; see value())
    int length = 0;
};

// What deciding about an element takes, asked for together.
struct ElementFacts {
    std::optional<QString> role;
    QStringList states;
    std::optional<QRectF> extents;
    // The extents the toolkit gives when asked for them relative to the element's window. Some
    // toolkits answer the same for both questions (GTK 4 gives window coordinates for both, Qt 6.4
    // screen coordinates for both).
    std::optional<QRectF> windowExtents;
    // The selection, or the caret as an empty range; nothing for an element without text.
    std::optional<TextRange> selection;
};

// The toolkit of the application that owns an element ("GTK" "4.8.3", "Qt" "6.4.2", "Gecko" ...).
struct Toolkit {
    QString name;
    QString version;
    int majorVersion() const { return version.section(QLatin1Char('.'), 0, 0).toInt(); }
};

// An object embedded in an element's text (a paragraph, a link, a list item of a rich editor):
// the text holds U+FFFC where the object stands.
struct EmbeddedObject {
    int offset = 0;  // of its placeholder in the element's text, in the characters the interface counts
    ElementRef element;
    std::optional<QString> role;
    std::optional<QString> text;  // its own text, with placeholders for what is embedded in it
};

class Accessibility {
public:
    virtual ~Accessibility() = default;

    // False when the accessibility bus does not answer; nothing else is tried then.
    virtual bool available() = 0;
    // After calls failed because the connection to the bus is gone (the bus was restarted):
    // connects to the bus again and answers true, so that the caller may ask once more. Elements
    // handed out before stay gone. False when the connection was not lost, or cannot be made.
    virtual bool recoverConnection() { return false; }
    // The focused element of the active window, or nothing.
    virtual ElementRef focusedElement() = 0;
    // The value as the interface gives it. A text holds U+FFFC for each embedded object, and
    // offsets into it count its code points (Gecko puts U+FEFF after each character outside the
    // Basic Multilingual Plane, so that they match its UTF-16 offsets).
    virtual std::optional<AccessibleValue> value(const ElementRef& element) = 0;
    // The objects embedded in the element's text, in the order of their placeholders, each with its
    // role and text; nothing when they cannot be told (no hypertext interface, a failed call).
    virtual std::optional<QList<EmbeddedObject>> embeddedObjects(const ElementRef& element) {
        Q_UNUSED(element);
        return std::nullopt;
    }
    // The toolkit of the element's application; nothing when it does not say.
    virtual std::optional<Toolkit> toolkit(const ElementRef& element) {
        Q_UNUSED(element);
        return std::nullopt;
    }
    // Screen extents in Qt global logical coordinates (origin top-left, y down).
    virtual std::optional<QRectF> extents(const ElementRef& element) = 0;
    // Raw role name as the bus reports it ("entry", "text", "password text", "terminal", ...).
    virtual std::optional<QString> role(const ElementRef& element) = 0;
    // Raw state names ("editable", "multi-line", "single-line", "focused", ...).
    virtual QStringList states(const ElementRef& element) = 0;
    // Role, states, extents and selection at once. A backend that can ask for them in one round
    // trip does; this one asks one after the other (and knows no window-relative extents).
    virtual ElementFacts facts(const ElementRef& element) {
        return {role(element), states(element), extents(element), std::nullopt, selection(element)};
    }
    virtual std::optional<TextRange> selection(const ElementRef& element) = 0;
    // Where a range of the element's text stands, in the coordinates its toolkit gives for its
    // screen extents (Qt global logical ones; GTK 4 gives its window's for both): its first and last
    // characters together, or for an empty range (the caret) the character at it, else the line of
    // the one before it. Nothing without text or when a call fails; an answer may be empty (a caret
    // in an empty field) or lie off the field (a caret scrolled out of sight).
    virtual std::optional<QRectF> textExtents(const ElementRef& element, const TextRange& range) {
        Q_UNUSED(element);
        Q_UNUSED(range);
        return std::nullopt;
    }
    // Process id of the application that owns the element (0 when unknown).
    virtual qint64 processId(const ElementRef& element) = 0;
    // Sets the whole value. Returns 0 on success or a backend status code (never throws).
    virtual int setValue(const ElementRef& element, const QString& text) = 0;
    virtual bool setSelection(const ElementRef& element, const TextRange& range) = 0;
};

} // namespace corvane::platform
