#pragma once
// Windows that appear on their own while the user is typing in another application (the consent
// question, update notices, the no-tray notice): they never take the keyboard focus, and none of
// their buttons can be pressed from the keyboard, since a focused or default button would take the
// user's next Space.
#include <QPushButton>
#include <QWidget>

namespace corvane::app {

inline constexpr Qt::WindowFlags kQuietWindowFlags = Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;

inline void makeQuiet(QWidget* window) {
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setFocusPolicy(Qt::NoFocus);
}

inline QPushButton* quietButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace corvane::app
