#include "app/FeedbackWindow.h"
#include "panel/CVDesign.h"
#include "panel/OwnWindows.h"
#include "platform/Clock.h"
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace corvane::app {

using panel::CVDesign;

namespace {

FeedbackWindowController* g_shared = nullptr;

// A dialog, so that Return presses Send (Return inside the text area still starts a new line), and
// one that Escape and Ctrl+W close like Corvane's other windows.
class FeedbackDialog final : public QDialog {
public:
    using QDialog::QDialog;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (panel::isCloseKey(event)) {
            close();
            return;
        }
        QDialog::keyPressEvent(event);
    }
};

// The form's sizes are given for a 13 px desktop font. At the desktop's font each font, and each
// length that holds text, keeps its proportion to it, so the form reads at that size and wraps
// where it was meant to.
QLabel* makeLabel(const QString& text, int px, bool secondary, int maxWidth, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(CVDesign::TypeScale::sized(px));
    if (maxWidth > 0) {
        label->setWordWrap(true);
        label->setFixedWidth(CVDesign::scaledLength(maxWidth));
    }
    if (secondary) { // the design's secondary text, which reads at 4.5:1 or better
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, CVDesign::secondary(QApplication::palette()));
        label->setPalette(palette);
    }
    return label;
}

} // namespace

FeedbackWindowController::FeedbackWindowController(SubmitFn submit, platform::Clock& clock, QObject* parent)
    : QObject(parent), m_submit(std::move(submit)), m_clock(clock) {}

FeedbackWindowController::~FeedbackWindowController() { delete m_window.data(); }

FeedbackWindowController& FeedbackWindowController::shared() {
    if (!g_shared)
        qFatal("FeedbackWindowController::shared() used before the application wired it");
    return *g_shared;
}

void FeedbackWindowController::setShared(FeedbackWindowController* controller) { g_shared = controller; }

QWidget* FeedbackWindowController::makeWindow() {
    auto* window = new FeedbackDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setObjectName(QStringLiteral("feedback"));
    window->setWindowTitle(tr("Send Feedback"));
    auto* stack = new QVBoxLayout(window);
    // As large as its content in the desktop's font, and no larger.
    stack->setSizeConstraint(QLayout::SetFixedSize);
    stack->setSpacing(10);
    stack->setContentsMargins(24, 20, 24, 18);

    stack->addWidget(makeLabel(tr("Spotted a bug or a missing scenario? Tell us what happened — e.g. which app you "
                                  "were in and what you expected."),
                               12, false, 410, window));
    m_textView = new QPlainTextEdit(window);
    m_textView->setObjectName(QStringLiteral("feedbackText"));
    m_textView->setFont(CVDesign::TypeScale::sized(13));
    m_textView->setFixedHeight(CVDesign::scaledLength(110));
    m_textView->setTabChangesFocus(true);
    stack->addWidget(m_textView);
    stack->addWidget(makeLabel(tr("Contact (optional)"), 12, true, 0, window));
    m_contactField = new QLineEdit(window);
    m_contactField->setObjectName(QStringLiteral("feedbackContact"));
    m_contactField->setPlaceholderText(tr("Email or any way to reach you"));
    m_contactField->setFont(CVDesign::TypeScale::sized(12));
    m_contactField->setFixedWidth(qMax(CVDesign::scaledLength(240), panel::placeholderWidth(m_contactField)));
    stack->addWidget(m_contactField);
    m_attachDiagButton = new QCheckBox(tr("Attach diagnostics log"), window);
    m_attachDiagButton->setObjectName(QStringLiteral("feedbackAttachDiag"));
    m_attachDiagButton->setFont(CVDesign::TypeScale::sized(12));
    m_attachDiagButton->setChecked(true);
    stack->addWidget(m_attachDiagButton);
    stack->addWidget(makeLabel(
        tr("The tail of corvane-diag.log — trigger and pipeline records only, never your text content."), 11, true,
        400, window));
    m_statusLabel = makeLabel(QString(), 12, true, 410, window);
    m_statusLabel->setObjectName(QStringLiteral("feedbackStatus"));
    // Two lines, whatever the server sent and whether it said anything: Send below never moves.
    m_statusLabel->setFixedHeight(2 * m_statusLabel->fontMetrics().lineSpacing() + 2);
    m_statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(m_statusLabel);
    m_sendButton = new QPushButton(tr("Send"), window);
    m_sendButton->setObjectName(QStringLiteral("feedbackSend"));
    m_sendButton->setDefault(true);
    connect(m_sendButton, &QPushButton::clicked, this, &FeedbackWindowController::sendClicked);
    stack->addWidget(m_sendButton, 0, Qt::AlignLeft);

    window->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    return window;
}

void FeedbackWindowController::setStatus(const QString& text) {
    if (!m_statusLabel)
        return;
    QString shown = text.left(kStatusChars);
    if (shown.size() < text.size())
        shown += QStringLiteral("…");
    // Line breaks and control characters of a server text would push the line out of the window.
    for (QChar& c : shown)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    m_statusLabel->setText(shown);
    m_statusLabel->setToolTip(shown);
}

void FeedbackWindowController::show() {
    if (!m_window)
        m_window = makeWindow();
    if (m_isSending) {
        // Reopened during a send: the form says so rather than offering a Send that does nothing.
        setStatus(tr("Sending…"));
        m_sendButton->setEnabled(false);
    } else {
        if (!m_unseenResult)
            setStatus(QString());
        m_sendButton->setEnabled(true);
    }
    m_unseenResult = false;
    panel::bringToFront(m_window);
}

void FeedbackWindowController::sendClicked() {
    if (m_isSending)
        return;
    const QString message = m_textView ? m_textView->toPlainText() : QString();
    if (message.trimmed().isEmpty()) {
        setStatus(tr("Please write your feedback first"));
        return;
    }
    m_isSending = true;
    if (m_sendButton)
        m_sendButton->setEnabled(false);
    setStatus(tr("Sending…"));
    const QString contact = m_contactField ? m_contactField->text() : QString();
    const bool includeDiag = m_attachDiagButton && m_attachDiagButton->isChecked();
    submit(QPointer<FeedbackWindowController>(this), m_submit, message, contact, includeDiag);
}

QCoro::Task<> FeedbackWindowController::submit(QPointer<FeedbackWindowController> self, SubmitFn fn,
                                               QString message, QString contact, bool includeDiag) {
    const Result result = co_await fn(QStringLiteral("feedback"), message, contact, includeDiag);
    if (self)
        self->applyResult(result);
}

void FeedbackWindowController::applyResult(const Result& result) {
    m_isSending = false;
    if (m_sendButton)
        m_sendButton->setEnabled(true);
    setStatus(result.message);
    m_unseenResult = !(m_window && m_window->isVisible());
    if (!result.ok)
        return;
    if (m_textView)
        m_textView->setPlainText(QString());
    QPointer<FeedbackWindowController> self(this);
    m_clock.schedule(1200, this, [self] {
        if (self && self->m_window)
            self->m_window->hide();
    });
}

} // namespace corvane::app
