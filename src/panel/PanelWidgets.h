#pragma once
// Small widgets of the floating panel: a spinning progress indicator, a one-line label that elides,
// a pop-up menu that elides its current item, and a read-only plain-text box that wraps anything
// (long words included) inside its width.
#include <QComboBox>
#include <QLabel>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace corvane::platform {
class Clock;
}

namespace corvane::panel {

// The height one line needs in a font: its ascent and the lower of its descent and the ink of
// descenders and underscores, which fonts may draw below their rounded descent.
int lineHeight(const QFontMetrics& fm);

// An indeterminate progress indicator in a square frame (16 x 16 unless resized); it turns only
// while shown.
class BusySpinner : public QWidget {
    Q_OBJECT
public:
    explicit BusySpinner(QWidget* parent = nullptr);
    QSize sizeHint() const override { return size(); }
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
// a few characters, unless told to keep its text whole. The text is plain, never markup. Its
// accessible name is the whole text, never the elided one.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    QString fullText() const { return m_fullText; }
    // Whole: it asks for the width of its whole first line, so a layout gives it that first.
    void setKeepWhole(bool whole);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateShown();
    QString firstLine() const;
    QString m_fullText;
    bool m_keepWhole = false;
};

// A pop-up menu whose current item is drawn elided ("…") to the room the menu button gets, so a
// long name reads as cut rather than as a shorter name. It asks for the width of its items (no
// more than its maximum width) and yields down to a few characters; the open menu is as wide as its
// longest item.
class RecipePicker : public QComboBox {
    Q_OBJECT
public:
    explicit RecipePicker(QWidget* parent = nullptr);
    // The current item as it is drawn.
    QString shownText() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;
};

// Read-only plain text that wraps at word boundaries or anywhere, so no text widens the panel.
// With a fit limit, its preferred and least height follow the text up to that limit and it scrolls
// beyond: a layout short of room never squeezes it below its text.
// A long text is laid out in steps, one per frame, so that no single step holds the main thread
// for long: text() is the whole text at once, the document catches up within a few frames.
class PlainTextBox : public QTextEdit {
    Q_OBJECT
public:
    explicit PlainTextBox(QWidget* parent = nullptr);
    // Replaces the text. Only what differs from the current text after their common beginning is
    // rewritten, so a streaming answer keeps the reader's selection and a long text is not laid out
    // again.
    void setText(const QString& text);
    // Adds text at the end.
    void appendText(const QString& text);
    // The clock the steps of a long text are paced by (Qt's timers without one).
    void setClock(platform::Clock* clock) { m_clock = clock; }
    QString text() const { return m_text; }
    // Whether the document holds the whole text yet.
    bool isComplete() const { return m_shown == m_text.size(); }
    // The most characters laid out in one step, and the pause between steps. A new text longer than
    // wholeChars starts with a smaller part: about what a panel shows at once.
    static constexpr qsizetype sliceChars = 48 * 1024;
    static constexpr qsizetype wholeChars = 32 * 1024;
    static constexpr qsizetype firstSliceChars = 2 * 1024;
    static constexpr int slicePauseMs = 16;
    void setFitLimit(int maxHeight);
    // The text's colour. The box is drawn through a style sheet, which ignores palette colours.
    void setTextColor(const QColor& color);
    // Scrolls to the end of the text, also as the rest is laid out.
    void scrollToBottom();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    void showMore();
    void scheduleMore();

    QString m_text;
    qsizetype m_shown = 0;  // the document holds m_text's first m_shown characters
    bool m_followEnd = false;
    bool m_moreScheduled = false;
    platform::Clock* m_clock = nullptr;
    int m_fitLimit = 0;
};

} // namespace corvane::panel
