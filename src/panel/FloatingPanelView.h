#pragma once
// The content of the floating result panel: a header (status icon and title, recipe picker,
// "Cancel"), the draft editor or the original and result sections, and a bottom bar with the
// recipe note and the action buttons. Drawn only from FloatingPanelState; every request leaves as a
// FloatingPanelAction through onAction. The only model field it writes is draftInput.
// Texts from the model are always shown as plain text.
#include "panel/FloatingPanelAction.h"
#include "panel/FloatingPanelState.h"
#include <QWidget>
#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace corvane::platform {
class Clock;
}

namespace corvane::panel {

class BusySpinner;
class ElidedLabel;
class PlainTextBox;
class RecipePicker;

class FloatingPanelView : public QWidget {
    Q_OBJECT
public:
    using ActionHandler = std::function<void(const FloatingPanelAction&)>;

    // clock paces the drawing of a streamed answer and of long texts (Qt's timers without one).
    FloatingPanelView(FloatingPanelState& state, ActionHandler onAction, QWidget* parent = nullptr,
                      platform::Clock* clock = nullptr);

    // Ctrl+Return: presses "Generate" while drafting, "Retry" on an error and "Replace" when done;
    // nothing while optimizing. Returns whether a button was pressed.
    bool pressPrimaryButton();

    // The longest a streamed piece waits before it is drawn.
    static constexpr int frameMs = 16;

    // The header title of a status.
    static QString statusTitle(FloatingPanelStatus status);

    // How many average characters of its font the recipe picker shows at most.
    static constexpr int pickerChars = 18;
    // The most lines of an error message the error box shows; a longer message scrolls in it.
    static constexpr int errorLines = 8;

Q_SIGNALS:
    // The panel's own close control was clicked.
    void closeRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildDraftSection();
    QWidget* buildOriginalSection();
    QWidget* buildResultSection();
    QWidget* buildBottomBar();
    QFrame* makeDivider(const QString& name);

    void render();
    void onStateChanged();
    void scheduleFrame();
    qint64 nowMs() const;
    void drawPendingResult();
    void renderResult();
    void renderPicker();
    void renderStatusIcon();
    void restyle();
    void capPickerWidth();
    void send(const FloatingPanelAction& action);
    void copyResult();
    QString resultPlaceholder() const;
    static bool isPrimaryShortcut(const QKeyEvent* event);

    FloatingPanelState& m_state;
    ActionHandler m_onAction;
    bool m_scrollPending = false;
    // Streamed pieces not yet in the result text; drawn at most once per frame.
    QString m_pendingResult;
    bool m_appended = false;  // the change being announced is a streamed piece
    bool m_frameScheduled = false;
    qint64 m_lastFrameMs = -frameMs;
    qint64 m_lastFrameCostMs = 0;
    platform::Clock* m_clock = nullptr;
    bool m_restyling = false;
    QList<RecipeChoice> m_shownRecipes;
    int m_iconSize = 16;  // the status icon's side, grown with the desktop's font

    // header
    QToolButton* m_close = nullptr;
    QLabel* m_statusIcon = nullptr;
    BusySpinner* m_spinner = nullptr;
    ElidedLabel* m_title = nullptr;
    RecipePicker* m_picker = nullptr;
    QPushButton* m_cancel = nullptr;
    // content
    QWidget* m_draftSection = nullptr;
    QPlainTextEdit* m_draftEditor = nullptr;
    QWidget* m_originalSection = nullptr;
    PlainTextBox* m_originalText = nullptr;
    QWidget* m_originalDivider = nullptr;
    QWidget* m_resultSection = nullptr;
    QPushButton* m_copy = nullptr;
    QWidget* m_resultArea = nullptr;
    PlainTextBox* m_resultText = nullptr;
    QWidget* m_errorArea = nullptr;
    QFrame* m_errorBox = nullptr;
    PlainTextBox* m_errorText = nullptr;
    // bottom bar
    ElidedLabel* m_note = nullptr;
    QPushButton* m_remember = nullptr;
    QPushButton* m_generate = nullptr;
    QPushButton* m_retryError = nullptr;
    QPushButton* m_retryResult = nullptr;
    QPushButton* m_replace = nullptr;
    QList<QFrame*> m_dividers;
};

} // namespace corvane::panel
