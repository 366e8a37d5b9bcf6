#pragma once
// Small widgets of the floating panel: a spinning progress indicator, a one-line label that elides,
// and a read-only plain-text box that wraps anything (long words included) inside its width.
#include <QLabel>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

namespace corvane::panel {

// An indeterminate progress indicator in a 16 x 16 frame; it turns only while shown.
class BusySpinner : public QWidget {
    Q_OBJECT
public:
    explicit BusySpinner(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {16, 16}; }
    bool isSpinning() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};

// Shows the first line of its text, elided to the width it gets; never asks for more width than
// a few characters. The text is plain, never markup.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    QString fullText() const { return m_fullText; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateShown();
    QString firstLine() const;
    QString m_fullText;
};

// Read-only plain text that wraps at word boundaries or anywhere, so no text widens the panel.
// With a fit limit, its preferred height follows the text up to that limit and it scrolls beyond.
class PlainTextBox : public QTextEdit {
    Q_OBJECT
public:
    explicit PlainTextBox(QWidget* parent = nullptr);
    // Replaces the text; a text that extends the current one is appended, so a streaming answer
    // keeps the reader's selection.
    void setText(const QString& text);
    QString text() const { return m_text; }
    void setFitLimit(int maxHeight);
    // The text's colour. The box is drawn through a style sheet, which ignores palette colours.
    void setTextColor(const QColor& color);
    void scrollToBottom();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QString m_text;
    int m_fitLimit = 0;
};

} // namespace corvane::panel
