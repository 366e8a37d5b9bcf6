#pragma once
// Windows that appear on their own while the user is typing in another application (the consent
// question, update notices, the no-tray notice): they never take the keyboard focus, and none of
// their buttons can be pressed from the keyboard, since a focused or default button would take the
// user's next Space.
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <initializer_list>

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

// A card: a small frameless window with a thin border that keeps to a corner of the screen (the
// consent question, the permission prompt). The widget is made with kQuietCardFlags.
inline constexpr Qt::WindowFlags kQuietCardFlags = Qt::Tool | Qt::FramelessWindowHint | kQuietWindowFlags;

inline void makeQuietCard(QWidget* card, const QString& objectName, const QString& title) {
    card->setObjectName(objectName);
    makeQuiet(card);
    card->setWindowTitle(title);
    card->setStyleSheet(QLatin1Char('#') + objectName + QStringLiteral(" { border: 1px solid palette(mid); }"));
    card->setAttribute(Qt::WA_StyledBackground);
}

// The card's title line, in bold.
inline QLabel* cardTitle(const QString& text, QWidget* card) {
    auto* title = new QLabel(text, card);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    return title;
}

// Title, text, and the buttons in a row on the right.
inline void layOutCard(QWidget* card, QLabel* title, QLabel* body, std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* button : buttons)
        row->addWidget(button);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->addWidget(title);
    layout->addWidget(body);
    layout->addLayout(row);
}

// Moves the card into the top or bottom right corner of the primary screen's free area.
inline void moveToCorner(QWidget* card, Qt::Corner corner) {
    constexpr int kScreenMargin = 24;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const int y = corner == Qt::TopRightCorner ? area.top() + kScreenMargin
                                               : area.bottom() - card->height() - kScreenMargin;
    card->move(area.right() - card->width() - kScreenMargin, y);
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
