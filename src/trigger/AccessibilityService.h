#pragma once
// Reads and writes the focused text field of another application through the accessibility bus.
// Holds no state: every call starts again from the bus's focused element (after a bus restart,
// from a new connection). All decisions about
// what kind of field the element is (text field, text area, password, terminal) are made here.
#include "platform/Accessibility.h"
#include "platform/ActiveApp.h"
#include <QPointF>
#include <QSizeF>
#include <optional>

namespace corvane::trigger {

enum class FieldKind { TextField, TextArea, Password, Terminal, Other };

class AccessibilityService {
public:
    // The status of a write that was accepted but did not take effect.
    static constexpr int kWriteHadNoEffect = -25205;
    static constexpr int kSuccess = 0;

    struct ElementInfo {
        platform::ElementRef element;
        QString text;
        QPointF position;  // the element's top-left corner, Qt global logical coordinates
        QSizeF size;
        FieldKind kind = FieldKind::Other;
        std::optional<QRectF> line;  // the caret's or the selection's line on the screen, when known
    };

    struct FocusedProbe {
        std::optional<QString> role;  // the raw role name, when readable
        FieldKind kind = FieldKind::Other;
        bool field = false;           // an element that takes text input (see isField())
        bool hasSelection = false;    // a readable selection of at least one character
        bool selectionKnown = false;  // the selection could be read at all
        std::optional<QRectF> line;   // as in ElementInfo, when asked for
    };

    // Why a read gave no element info.
    enum class Miss {
        None,
        NoElement,     // no focused element could be reached
        NotAField,     // the focused element takes no text input (a page, a link, a button)
        Password,
        Unreadable,    // its value could not be read
        Placeholders,  // its text still holds objects that could not be read
    };

    // activeApp, when given, places fields whose toolkit gives window coordinates for screen ones.
    explicit AccessibilityService(platform::Accessibility& accessibility, platform::ActiveApp* activeApp = nullptr);

    // The focused field with its text, place and size, and the user's line in it; nothing when the
    // element is not a field, a password field, or its text cannot be read whole (miss tells
    // which). place false: the text alone, without asking where anything stands.
    std::optional<ElementInfo> getFocusedElementInfo(Miss* miss = nullptr, bool place = true);
    // withLine: where the user's line stands too.
    std::optional<FocusedProbe> probeFocusedElement(bool withLine = false);
    // Sets the element's value and reads it back. kSuccess when the element (or the element
    // focused after the write) now shows exactly the text; the backend's status for a refused
    // write; kWriteHadNoEffect otherwise.
    int replaceText(const platform::ElementRef& element, const QString& text);
    // The focused field's text, read as getFocusedElementInfo() reads it; nothing when that gives nothing.
    std::optional<QString> focusedElementValue();
    // The element's value as the user sees it: a number as its decimal text; a text with what is
    // embedded in it read in place, without the fillers its toolkit adds. It may still hold a
    // placeholder (U+FFFC) for an object that could not be read.
    std::optional<QString> textOf(const platform::ElementRef& element);
    // True when the bus shows another element focused than element; false when it shows element,
    // or shows nothing at all (focus unknown).
    bool focusMovedFrom(const platform::ElementRef& element);
    void selectAll(const platform::ElementRef& element);
    platform::ElementRef focusedElement();

    static FieldKind classify(const std::optional<QString>& role, const QStringList& states);
    // A field takes text input: an element in the "editable" state, a text field or entry that is
    // not read-only, or a terminal. A page, a paragraph of it, a link or a button is none.
    static bool isField(const std::optional<QString>& role, const QStringList& states);

private:
    // Runs read, and once more when it gave nothing because the bus connection was lost (the bus
    // restarted) and could be made again.
    template <class Read>
    auto reconnecting(Read read);
    // place: find where the field lies on the screen too.
    std::optional<ElementInfo> readFocusedElementInfo(Miss& miss, bool place);
    std::optional<FocusedProbe> readFocusedProbe(bool withLine);
    bool isPassword(const platform::ElementRef& element);
    // The element's extents on the screen.
    QRectF onScreen(const platform::ElementRef& element, const platform::ElementFacts& facts);
    // The selection's or the caret's line, moved onto the screen as the field was (field: where
    // onScreen() put it) and cut to the field; nothing when the toolkit does not tell or tells
    // nothing that lies in the field.
    std::optional<QRectF> lineOf(const platform::ElementRef& element, const platform::ElementFacts& facts,
                                 const QRectF& field);

    platform::Accessibility& m_a11y;
    platform::ActiveApp* m_activeApp;
};

} // namespace corvane::trigger
