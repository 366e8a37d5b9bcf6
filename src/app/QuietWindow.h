#pragma once
// Windows that appear on their own while the user is typing in another application (the consent
// question, update notices, the no-tray notice): they never take the keyboard focus, and none of
// their buttons can be pressed from the keyboard, since a focused or default button would take the
// user's next Space.
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
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

// A notice of plain text with an OK button ("<objectName>Ok") that closes and deletes it.
inline QWidget* quietNotice(const QString& objectName, const QString& title, const QString& text) {
    auto* window = new QWidget(nullptr, Qt::Window | kQuietWindowFlags);
    window->setObjectName(objectName);
    window->setWindowTitle(title);
    makeQuiet(window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(window);
    auto* label = new QLabel(text, window);
    label->setObjectName(objectName + QStringLiteral("Text"));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFixedWidth(360);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* ok = quietButton(QObject::tr("OK"), window);
    ok->setObjectName(objectName + QStringLiteral("Ok"));
    QObject::connect(ok, &QPushButton::clicked, window, &QWidget::close);
    row->addWidget(ok);
    layout->addLayout(row);
    return window;
}

} // namespace corvane::app
