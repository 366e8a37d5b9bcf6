#pragma once
// What Corvane's own windows (settings, activity log, feedback) share: a show() from the menu or a
// second start brings the window back as it was left, Escape or Ctrl+W closes it, and a field is
// wide enough for its hint in the desktop's font.
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QWidget>

namespace corvane::panel {

// Shows the window in front and gives it the keyboard; a minimised one comes back as it was left,
// not only raised behind its icon.
inline void bringToFront(QWidget* window) {
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

// A key no control used that closes the window, as in any dialog.
inline bool isCloseKey(const QKeyEvent* event) {
    return (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) ||
           event->matches(QKeySequence::Close);
}

// The width a line edit needs to show its placeholder whole in its own font, frame included.
inline int placeholderWidth(const QLineEdit* field) {
    constexpr int kCursorRoom = 4; // the edit's inner margin on both sides and the cursor
    const QMargins margins = field->textMargins() + field->contentsMargins();
    const int text = field->fontMetrics().horizontalAdvance(field->placeholderText()) + margins.left() +
                     margins.right() + kCursorRoom + 1;
    QStyleOptionFrame option;
    option.initFrom(field);
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field) : 0;
    return field->style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, field->sizeHint().height()), field)
        .width();
}

} // namespace corvane::panel
