#pragma once
// Raw access to the focused element of other applications (AT-SPI2 on Linux).
// Every call is bounded in time by the backend; a call that fails or times out answers "nothing".
// Decisions (what counts as a text field, a terminal, a password) are made above this layer.
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

// What deciding about an element takes, asked for together.
struct ElementFacts {
    std::optional<QString> role;
    QStringList states;
    std::optional<QRectF> extents;
};

struct TextRange {
    int start = 0;    // in characters (code points)
    int length = 0;
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
    virtual std::optional<AccessibleValue> value(const ElementRef& element) = 0;
    // Screen extents in Qt global logical coordinates (origin top-left, y down).
    virtual std::optional<QRectF> extents(const ElementRef& element) = 0;
    // Raw role name as the bus reports it ("entry", "text", "password text", "terminal", ...).
    virtual std::optional<QString> role(const ElementRef& element) = 0;
    // Raw state names ("editable", "multi-line", "single-line", "focused", ...).
    virtual QStringList states(const ElementRef& element) = 0;
    // Role, states and extents at once. A backend that can ask for them in one round trip does;
    // this one asks one after the other.
    virtual ElementFacts facts(const ElementRef& element) { return {role(element), states(element), extents(element)}; }
    virtual std::optional<TextRange> selection(const ElementRef& element) = 0;
    // Process id of the application that owns the element (0 when unknown).
    virtual qint64 processId(const ElementRef& element) = 0;
    // Sets the whole value. Returns 0 on success or a backend status code (never throws).
    virtual int setValue(const ElementRef& element, const QString& text) = 0;
    virtual bool setSelection(const ElementRef& element, const TextRange& range) = 0;
};

} // namespace corvane::platform
