#pragma once
// The feedback window: a small fixed-size form whose Send hands the text, the contact and the
// diagnostics choice to the feedback submission, and shows its answer. One submission at a time;
// an answer that arrives while the window is hidden is still shown when it opens again.
#include "services/TelemetryService.h"
#include <QPointer>
#include <QWidget>
#include <functional>
#include <qcoro/qcorotask.h>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace corvane::platform {
class Clock;
}

namespace corvane::app {

class FeedbackWindowController final : public QObject {
    Q_OBJECT
public:
    using Result = services::TelemetryService::FeedbackResult;
    using SubmitFn = std::function<QCoro::Task<Result>(QString kind, QString message, QString contact, bool includeDiag)>;

    FeedbackWindowController(SubmitFn submit, platform::Clock& clock, QObject* parent = nullptr);
    ~FeedbackWindowController() override;
    static FeedbackWindowController& shared();
    static void setShared(FeedbackWindowController* controller);

    // Builds the window on the first call; brings it to the front on every call.
    void show();
    void sendClicked();

    // The window; null until the first show().
    QWidget* window() const { return m_window; }
    bool isSending() const { return m_isSending; }

    // Longest server text the status line shows.
    static constexpr qsizetype kStatusChars = 300;

private:
    QWidget* makeWindow();
    void applyResult(const Result& result);
    void setStatus(const QString& text);
    static QCoro::Task<> submit(QPointer<FeedbackWindowController> self, SubmitFn fn, QString message,
                                QString contact, bool includeDiag);

    SubmitFn m_submit;
    platform::Clock& m_clock;
    QPointer<QWidget> m_window;
    QPlainTextEdit* m_textView = nullptr;
    QLineEdit* m_contactField = nullptr;
    QCheckBox* m_attachDiagButton = nullptr;
    QLabel* m_statusLabel = nullptr;
    QPushButton* m_sendButton = nullptr;
    bool m_isSending = false;
    bool m_unseenResult = false;  // an answer arrived while the window was hidden
};

} // namespace corvane::app
