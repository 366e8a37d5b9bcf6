#pragma once
// Reads and writes the focused text field of another application through the accessibility bus.
// Holds no state: every call starts again from the bus's focused element (after a bus restart,
// from a new connection). All decisions about
// what kind of field the element is (text field, text area, password, terminal) are made here.
#include "platform/Accessibility.h"
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
    };

    struct FocusedProbe {
        std::optional<QString> role;  // the raw role name, when readable
        FieldKind kind = FieldKind::Other;
        bool hasSelection = false;    // a readable selection of at least one character
        bool selectionKnown = false;  // the selection could be read at all
    };

    explicit AccessibilityService(platform::Accessibility& accessibility);

    // The focused field with its text, place and size; nothing when the value cannot be read.
    // A password field is never read: it yields nothing.
    std::optional<ElementInfo> getFocusedElementInfo();
    std::optional<FocusedProbe> probeFocusedElement();
    // Sets the element's value and reads it back. kSuccess when the element (or the element
    // focused after the write) now shows exactly the text; the backend's status for a refused
    // write; kWriteHadNoEffect otherwise.
    int replaceText(const platform::ElementRef& element, const QString& text);
    // The focused field's value as text; nothing for a password field or an unreadable value.
    std::optional<QString> focusedElementValue();
    // True when the bus shows another element focused than element; false when it shows element,
    // or shows nothing at all (focus unknown).
    bool focusMovedFrom(const platform::ElementRef& element);
    void selectAll(const platform::ElementRef& element);
    platform::ElementRef focusedElement();

    static FieldKind classify(const std::optional<QString>& role, const QStringList& states);

private:
    // Runs read, and once more when it gave nothing because the bus connection was lost (the bus
    // restarted) and could be made again.
    template <class Read>
    auto reconnecting(Read read);
    std::optional<ElementInfo> readFocusedElementInfo();
    std::optional<FocusedProbe> readFocusedProbe();
    std::optional<QString> readFocusedElementValue();
    std::optional<QString> getText(const platform::ElementRef& element);
    bool isPassword(const platform::ElementRef& element);

    platform::Accessibility& m_a11y;
};

} // namespace corvane::trigger
