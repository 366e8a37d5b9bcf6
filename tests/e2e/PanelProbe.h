#pragma once
// Corvane's floating panel as a user (or a screen reader) sees it: read from the accessibility
// bus by the process id of the corvane binary. Buttons are found by their labels and clicked with
// the real pointer at their on-screen centre.
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace corvane::e2e {

class PanelProbe {
public:
    struct Item {
        enum class Kind { Button, Label, Text, Other };
        Kind kind = Kind::Other;
        QString name;  // a button's or label's text
        QString text;  // the content of a text box
        QRect extents; // screen coordinates
        std::shared_ptr<void> node; // a button's accessible object, to press it through the bus
    };

    explicit PanelProbe(qint64 corvanePid);

    // Everything of corvane's windows that is showing right now (empty when nothing shows).
    QList<Item> showing() const;
    // Whether the panel shows: its own close control is on screen.
    bool visible() const;
    // The header title ("Optimizing…", "Done", "Error", ...), or nothing.
    std::optional<QString> title() const;
    // The content of the text boxes that show (original, result or error), in order.
    QStringList texts() const;
    // Whether some text box or label that shows contains fragment.
    bool shows(const QString& fragment) const;
    // Clicks the showing button with this label; false when there is none.
    bool click(const QString& buttonLabel) const;
    // Presses it through the accessibility bus, as a screen reader does: it works while another
    // window (a password prompt) holds the pointer and keyboard.
    bool press(const QString& buttonLabel) const;
    // Clicks into the first text box that shows (the draft editor); false when there is none.
    bool clickTextBox() const;
    // A readable listing of what shows, for failure messages.
    QString describe() const;

private:
    qint64 m_pid;
};

} // namespace corvane::e2e
