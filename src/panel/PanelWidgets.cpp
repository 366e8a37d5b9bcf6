#include "panel/PanelWidgets.h"
#include "platform/Clock.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace corvane::panel {

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(16, 16);
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % 12;
        update();
    });
}

void BusySpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_timer.start();
}

void BusySpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_timer.stop();
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(width() / 2.0, height() / 2.0);
    const qreal scale = 0.6 * qMin(width(), height()) / 16.0; // drawn at 0.6 of its frame
    p.scale(scale, scale);
    const QColor base = palette().color(QPalette::WindowText);
    for (int i = 0; i < 12; ++i) {
        QColor c = base;
        c.setAlphaF(float(0.15 + 0.85 * ((i - m_step + 12) % 12) / 11.0));
        p.save();
        p.rotate(i * 30.0);
        p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -4.5), QPointF(0, -8.0));
        p.restore();
    }
}

int lineHeight(const QFontMetrics& fm) {
    const int inkBelow = fm.tightBoundingRect(QStringLiteral("gjpqy_")).bottom() + 1;
    return fm.ascent() + qMax(fm.descent(), inkBelow);
}

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    // The line starts at the top, so that all of its height is below it.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == m_fullText)
        return;
    m_fullText = text;
    setAccessibleName(text);
    updateShown();
    updateGeometry();
}

void ElidedLabel::setKeepWhole(bool whole) {
    m_keepWhole = whole;
    updateGeometry();
}

QString ElidedLabel::firstLine() const {
    const qsizetype cut = m_fullText.indexOf(QRegularExpression(QStringLiteral("[\\r\\n\\x{2028}\\x{2029}]")));
    if (cut < 0)
        return m_fullText;
    return m_fullText.left(cut) + QChar(0x2026);
}

void ElidedLabel::updateShown() {
    const QString line = firstLine();
    QLabel::setText(fontMetrics().elidedText(line, Qt::ElideRight, qMax(0, contentsRect().width())));
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics fm = fontMetrics();
    const int w = fm.horizontalAdvance(firstLine()) + 2;
    return {w + contentsMargins().left() + contentsMargins().right(), lineHeight(fm)};
}

QSize ElidedLabel::minimumSizeHint() const {
    if (m_keepWhole)
        return sizeHint();
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(QStringLiteral("M…")), lineHeight(fm)};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateShown();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateShown();
}

RecipePicker::RecipePicker(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
}

QRect RecipePicker::textRect() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    // The style draws the text a pixel in from each end of the edit field.
    return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this).adjusted(1, 0, -1, 0);
}

QString RecipePicker::shownText() const {
    return fontMetrics().elidedText(currentText(), Qt::ElideRight, qMax(0, textRect().width()));
}

QSize RecipePicker::minimumSizeHint() const {
    // The button with room for about four characters.
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QFontMetrics fm = fontMetrics();
    const QSize text(fm.horizontalAdvance(QStringLiteral("Mmm…")), fm.height());
    const QSize least = style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
    const QSize whole = QComboBox::minimumSizeHint();
    return {qMin(least.width(), whole.width()), whole.height()};
}

void RecipePicker::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

PlainTextBox::PlainTextBox(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { if (m_fitLimit > 0) updateGeometry(); });
}

void PlainTextBox::setText(const QString& text) {
    if (text == m_text)
        return;
    m_followEnd = false;
    // What the document already holds of the new text: the common beginning.
    const QStringView shown = QStringView(m_text).first(m_shown);
    qsizetype same = shown.size();
    if (!QStringView(text).startsWith(shown)) {
        const auto mismatch = std::mismatch(shown.cbegin(), shown.cend(), text.cbegin(), text.cend());
        same = mismatch.first - shown.cbegin();
    }
    // The document holds one position per character, except that a CR LF pair is one paragraph
    // break: a tail is cut in place only when no CR is involved.
    const QStringView tail = shown.sliced(same);
    const bool cuttable = same > 0 && !tail.contains(QLatin1Char('\r')) && shown.at(same - 1) != QLatin1Char('\r');
    if (same < shown.size()) {
        if (cuttable) {
            QTextCursor cursor(document());
            cursor.movePosition(QTextCursor::End);
            cursor.setPosition(cursor.position() - int(tail.size()), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        } else {
            same = 0;
        }
    }
    m_text = text;
    if (same == 0) {
        m_shown = text.size() <= wholeChars ? text.size() : firstSliceChars;
        if (m_shown < text.size() && (text.at(m_shown - 1).isHighSurrogate() || text.at(m_shown - 1) == QLatin1Char('\r')))
            --m_shown;
        setPlainText(text.first(m_shown));
        if (m_shown < text.size())
            scheduleMore();
        return;
    }
    m_shown = same;
    showMore();
}

void PlainTextBox::appendText(const QString& text) {
    if (text.isEmpty())
        return;
    m_text += text;
    if (!m_moreScheduled)
        showMore();
}

void PlainTextBox::showMore() {
    const qsizetype left = m_text.size() - m_shown;
    if (left <= 0)
        return;
    // A part ends at a line break: the paragraph it ends in is laid out whole each time it grows.
    qsizetype n = left;
    if (left > wholeChars) {
        const qsizetype brk = m_text.indexOf(QLatin1Char('\n'), m_shown + sliceChars - 1);
        n = brk < 0 ? left : brk + 1 - m_shown;
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(m_text.sliced(m_shown, n));
    m_shown += n;
    if (m_shown < m_text.size())
        scheduleMore();
    if (m_followEnd) {
        m_followEnd = m_shown < m_text.size();
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
}

void PlainTextBox::scheduleMore() {
    if (std::exchange(m_moreScheduled, true))
        return;
    auto next = [this] {
        m_moreScheduled = false;
        showMore();
    };
    if (m_clock)
        m_clock->schedule(slicePauseMs, this, next);
    else
        QTimer::singleShot(slicePauseMs, this, next);
}

void PlainTextBox::setTextColor(const QColor& color) {
    setStyleSheet(QStringLiteral("QTextEdit { background: transparent; color: %1; }").arg(color.name(QColor::HexArgb)));
}

void PlainTextBox::setFitLimit(int maxHeight) {
    m_fitLimit = maxHeight;
    setMaximumHeight(maxHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    updateGeometry();
}

void PlainTextBox::scrollToBottom() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
    m_followEnd = !isComplete();  // the steps still to come are followed too
}

QSize PlainTextBox::sizeHint() const {
    if (m_fitLimit <= 0)
        return QTextEdit::sizeHint();
    const int docHeight = int(std::ceil(document()->size().height()));
    const QMargins m = contentsMargins();
    const int h = docHeight + m.top() + m.bottom() + 2 * frameWidth();
    return {QTextEdit::sizeHint().width(), qMin(h, m_fitLimit)};
}

QSize PlainTextBox::minimumSizeHint() const {
    const QSize base = QTextEdit::minimumSizeHint();
    if (m_fitLimit <= 0)
        return base;
    return {base.width(), qMax(sizeHint().height(), qMin(fontMetrics().lineSpacing() + 2 * frameWidth(), m_fitLimit))};
}

} // namespace corvane::panel
