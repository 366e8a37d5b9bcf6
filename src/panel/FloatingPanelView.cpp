#include "panel/FloatingPanelView.h"

#include "panel/CVDesign.h"
#include "panel/PanelPlacement.h"
#include "panel/PanelWidgets.h"
#include "platform/Clock.h"
#include "platform/RunTrace.h"

#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <chrono>

namespace corvane::panel {

namespace {

using D = CVDesign;

// A widget with fixed margins around one child.
QWidget* padded(QWidget* child, int left, int top, int right, int bottom, const QString& name = {}) {
    auto* box = new QWidget;
    if (!name.isEmpty())
        box->setObjectName(name);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(left, top, right, bottom);
    layout->setSpacing(0);
    layout->addWidget(child);
    return box;
}

QPushButton* makeButton(const QString& name, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoDefault(false);
    b->setFont(D::TypeScale::caption());
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QLabel* makeLabel(const QString& name, const QString& text) {
    auto* l = new QLabel(text);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

FloatingPanelView::FloatingPanelView(FloatingPanelState& state, ActionHandler onAction, QWidget* parent,
                                     platform::Clock* clock)
    : QWidget(parent), m_state(state), m_onAction(std::move(onAction)), m_clock(clock) {
    setObjectName(QStringLiteral("floatingPanelView"));
    // Sizes laid out for 13 px text grow with the desktop's font.
    const double scale = D::sizeScale();
    m_iconSize = qRound(16 * scale);
    setMaximumWidth(qRound(PanelPlacement::panelWidth * scale));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildHeader());
    root->addWidget(makeDivider(QStringLiteral("headerDivider")));

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("contentArea"));
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    contentLayout->addWidget(buildDraftSection(), 1);
    contentLayout->addWidget(buildOriginalSection());
    m_originalDivider = padded(makeDivider(QStringLiteral("originalDivider")), D::space3, 0, D::space3, 0);
    contentLayout->addWidget(m_originalDivider);
    contentLayout->addWidget(buildResultSection(), 1);
    root->addWidget(content, 1);

    root->addWidget(makeDivider(QStringLiteral("bottomDivider")));
    root->addWidget(buildBottomBar());

    D::cvBrandTint(this);

    connect(&m_state, &FloatingPanelState::optimizedTextAppended, this, [this](const QString& piece) {
        m_pendingResult += piece;
        m_appended = true;
    });
    connect(&m_state, &FloatingPanelState::optimizedTextChanged, this, [this] { m_scrollPending = true; });
    connect(&m_state, &FloatingPanelState::changed, this, &FloatingPanelView::onStateChanged);
    restyle();
    render();
}

QFrame* FloatingPanelView::makeDivider(const QString& name) {
    auto* line = new QFrame;
    line->setObjectName(name);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    m_dividers.append(line);
    return line;
}

QWidget* FloatingPanelView::buildHeader() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("headerBar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(D::space3, D::space2 + 2, D::space3, D::space2 + 2);
    row->setSpacing(D::space2);

    m_close = new QToolButton;
    m_close->setObjectName(QStringLiteral("closeButton"));
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setAutoRaise(true);
    m_close->setIconSize(QSize(m_iconSize * 3 / 4, m_iconSize * 3 / 4));
    m_close->setFixedSize(m_iconSize + 2, m_iconSize + 2);
    m_close->setAccessibleName(tr("Close"));
    connect(m_close, &QToolButton::clicked, this, &FloatingPanelView::closeRequested);
    row->addWidget(m_close);

    m_statusIcon = new QLabel;
    m_statusIcon->setObjectName(QStringLiteral("statusIcon"));
    m_statusIcon->setFixedSize(m_iconSize, m_iconSize);
    m_statusIcon->setTextFormat(Qt::PlainText);
    m_spinner = new BusySpinner;
    m_spinner->setObjectName(QStringLiteral("busyIndicator"));
    m_spinner->setFixedSize(m_iconSize, m_iconSize);
    row->addWidget(m_statusIcon);
    row->addWidget(m_spinner);

    // The title shows whole; the recipe picker yields the room it needs.
    m_title = new ElidedLabel;
    m_title->setObjectName(QStringLiteral("statusTitle"));
    m_title->setKeepWhole(true);
    row->addWidget(m_title, 0);
    row->addStretch(1);

    m_picker = new RecipePicker;
    m_picker->setObjectName(QStringLiteral("recipePicker"));
    m_picker->setFocusPolicy(Qt::NoFocus);
    m_picker->setAccessibleName(tr("Recipe"));
    m_picker->setFont(D::TypeScale::body());
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= m_shownRecipes.size())
            return;
        const QString id = m_shownRecipes.at(index).id;
        renderPicker(); // the selection shown changes only when the controller writes it
        send(FloatingPanelAction::switchRecipe(id));
    });
    row->addWidget(m_picker);

    m_cancel = makeButton(QStringLiteral("cancelButton"), tr("Cancel"));
    D::cvPlainButton(m_cancel, D::Tone::Secondary);
    connect(m_cancel, &QPushButton::clicked, this, [this] { send(FloatingPanelAction::cancel()); });
    row->addWidget(m_cancel);
    return bar;
}

QWidget* FloatingPanelView::buildDraftSection() {
    m_draftSection = new QWidget;
    m_draftSection->setObjectName(QStringLiteral("draftSection"));
    auto* column = new QVBoxLayout(m_draftSection);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(D::space1);

    auto* header = new QWidget;
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(D::space3, D::space2, D::space3, 0);
    headerRow->setSpacing(D::space2);
    auto* hint = makeLabel(QStringLiteral("draftHint"), tr("The field is empty — describe what you want to write"));
    hint->setWordWrap(true);
    D::cvSectionLabel(hint);
    auto* note = makeLabel(QStringLiteral("draftNote"), tr("Will be written into this field"));
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignRight | Qt::AlignTop);
    D::cvMicroNote(note);
    // A wrapped label is as tall as its lines' spacing; one line keeps its descenders too.
    for (QLabel* label : {hint, note})
        label->setMinimumHeight(lineHeight(label->fontMetrics()));
    headerRow->addWidget(hint, 3, Qt::AlignTop);
    headerRow->addStretch(0);
    headerRow->addWidget(note, 2, Qt::AlignTop);
    column->addWidget(header);

    m_draftEditor = new QPlainTextEdit;
    m_draftEditor->setObjectName(QStringLiteral("draftEditor"));
    m_draftEditor->setFont(D::TypeScale::body());
    m_draftEditor->setFrameShape(QFrame::NoFrame);
    m_draftEditor->setTabChangesFocus(true);
    m_draftEditor->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_draftEditor->setFocusPolicy(Qt::ClickFocus);
    m_draftEditor->installEventFilter(this);
    m_draftEditor->viewport()->installEventFilter(this);
    connect(m_draftEditor, &QPlainTextEdit::textChanged, this, [this] {
        const QString typed = m_draftEditor->toPlainText();
        if (typed != m_state.draftInput())
            m_state.setDraftInput(typed);
    });
    column->addWidget(padded(m_draftEditor, D::space3, 0, D::space3, D::space3), 1);
    return m_draftSection;
}

QWidget* FloatingPanelView::buildOriginalSection() {
    m_originalSection = new QWidget;
    m_originalSection->setObjectName(QStringLiteral("originalSection"));
    auto* column = new QVBoxLayout(m_originalSection);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(D::space1);
    auto* title = makeLabel(QStringLiteral("originalTitle"), tr("Original"));
    D::cvSectionLabel(title);
    column->addWidget(padded(title, D::space3, D::space2, D::space3, 0));

    m_originalText = new PlainTextBox;
    m_originalText->setClock(m_clock);
    m_originalText->setObjectName(QStringLiteral("originalText"));
    m_originalText->setFont(D::TypeScale::body());
    m_originalText->setFitLimit(qRound(72 * D::sizeScale()));
    column->addWidget(padded(m_originalText, D::space3, 0, D::space3, D::space2));
    return m_originalSection;
}

QWidget* FloatingPanelView::buildResultSection() {
    m_resultSection = new QWidget;
    m_resultSection->setObjectName(QStringLiteral("resultSection"));
    auto* column = new QVBoxLayout(m_resultSection);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(D::space1);

    auto* titleRowBox = new QWidget;
    auto* titleRow = new QHBoxLayout(titleRowBox);
    titleRow->setContentsMargins(D::space3, D::space2, D::space3, 0);
    titleRow->setSpacing(D::space2);
    auto* title = makeLabel(QStringLiteral("resultTitle"), tr("Optimized result"));
    D::cvSectionLabel(title);
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    m_copy = makeButton(QStringLiteral("copyButton"), tr("Copy"));
    D::cvPlainButton(m_copy, D::Tone::Accent);
    connect(m_copy, &QPushButton::clicked, this, &FloatingPanelView::copyResult);
    titleRow->addWidget(m_copy);
    column->addWidget(titleRowBox);

    m_resultText = new PlainTextBox;
    m_resultText->setClock(m_clock);
    m_resultText->setObjectName(QStringLiteral("resultText"));
    m_resultText->setFont(D::TypeScale::body());
    m_resultText->setMinimumHeight(qRound(48 * D::sizeScale()));
    m_resultText->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_resultArea = padded(m_resultText, D::space3, 0, D::space3, D::space2, QStringLiteral("resultArea"));
    column->addWidget(m_resultArea, 1);

    m_errorText = new PlainTextBox;
    m_errorText->setClock(m_clock);
    m_errorText->setObjectName(QStringLiteral("errorText"));
    m_errorText->setFont(D::TypeScale::body());
    // A long message (a provider's whole answer) scrolls rather than pushing the panel over the
    // field or off the screen.
    m_errorText->setFitLimit(errorLines * QFontMetrics(m_errorText->font()).lineSpacing());
    m_errorBox = new QFrame;
    m_errorBox->setObjectName(QStringLiteral("errorBox"));
    auto* boxLayout = new QVBoxLayout(m_errorBox);
    boxLayout->setContentsMargins(D::space3, D::space3, D::space3, D::space3);
    boxLayout->addWidget(m_errorText);
    m_errorArea = new QWidget;
    m_errorArea->setObjectName(QStringLiteral("errorArea"));
    auto* errorColumn = new QVBoxLayout(m_errorArea);
    errorColumn->setContentsMargins(D::space3, D::space2, D::space3, D::space2);
    errorColumn->addWidget(m_errorBox);
    errorColumn->addStretch(1);
    column->addWidget(m_errorArea, 1);
    return m_resultSection;
}

QWidget* FloatingPanelView::buildBottomBar() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("bottomBar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(D::space3, D::space2 + 2, D::space3, D::space2 + 2);
    row->setSpacing(D::space3);

    m_note = new ElidedLabel;
    m_note->setObjectName(QStringLiteral("recipeNote"));
    D::cvMicroNote(m_note);
    row->addWidget(m_note, 0);

    m_remember = makeButton(QStringLiteral("rememberButton"), tr("Remember for This App"));
    D::cvPlainButton(m_remember, D::Tone::Accent);
    connect(m_remember, &QPushButton::clicked, this, [this] { send(FloatingPanelAction::rememberRecipe()); });
    row->addWidget(m_remember);
    row->addStretch(1);

    m_generate = makeButton(QStringLiteral("generateButton"), tr("Generate"));
    D::cvProminentButton(m_generate);
    connect(m_generate, &QPushButton::clicked, this,
            [this] { send(FloatingPanelAction::beginDraft(m_state.draftInput())); });
    m_retryError = makeButton(QStringLiteral("retryErrorButton"), tr("Retry"));
    D::cvProminentButton(m_retryError);
    connect(m_retryError, &QPushButton::clicked, this, [this] { send(FloatingPanelAction::retry()); });
    m_retryResult = makeButton(QStringLiteral("retryResultButton"), tr("Retry"));
    connect(m_retryResult, &QPushButton::clicked, this, [this] { send(FloatingPanelAction::retry()); });
    m_replace = makeButton(QStringLiteral("replaceButton"), tr("Replace"));
    D::cvProminentButton(m_replace);
    connect(m_replace, &QPushButton::clicked, this, [this] { send(FloatingPanelAction::replace()); });
    for (QPushButton* b : {m_generate, m_retryError, m_retryResult, m_replace})
        row->addWidget(b);
    return bar;
}

QString FloatingPanelView::statusTitle(FloatingPanelStatus status) {
    switch (status) {
    case FloatingPanelStatus::Drafting:
        return tr("Draft mode: empty field");
    case FloatingPanelStatus::Optimizing:
        return tr("Optimizing…");
    case FloatingPanelStatus::Done:
        return tr("Done");
    case FloatingPanelStatus::Error:
        break;
    }
    return tr("Error");
}

QString FloatingPanelView::resultPlaceholder() const {
    if (m_state.optimizedText().isEmpty() && m_state.status() == FloatingPanelStatus::Optimizing)
        return QStringLiteral("...");
    return m_state.optimizedText();
}

// A streamed piece only waits for the next frame; every other change is drawn at once, together
// with the pieces still waiting.
void FloatingPanelView::onStateChanged() {
    if (std::exchange(m_appended, false))
        scheduleFrame();
    else
        render();
}

qint64 FloatingPanelView::nowMs() const {
    if (m_clock)
        return m_clock->uptimeMs();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void FloatingPanelView::scheduleFrame() {
    if (std::exchange(m_frameScheduled, true))
        return;
    // A frame that took long (an endless paragraph is laid out whole each time it grows) spaces the
    // next ones out, so that the loop keeps most of its time for everything else.
    const qint64 interval = std::max<qint64>(frameMs, 2 * m_lastFrameCostMs);
    const qint64 delay = std::max<qint64>(0, m_lastFrameMs + interval - nowMs());
    auto draw = [this] {
        m_frameScheduled = false;
        drawPendingResult();
    };
    if (m_clock)
        m_clock->schedule(delay, this, draw);
    else
        QTimer::singleShot(std::chrono::milliseconds(delay), this, draw);
}

void FloatingPanelView::drawPendingResult() {
    m_lastFrameMs = nowMs();
    if (m_pendingResult.isEmpty())
        return;
    QElapsedTimer cost;
    cost.start();
    const auto measured = qScopeGuard([&] { m_lastFrameCostMs = cost.elapsed(); });
    // The pieces continue what the result shows, unless that is the placeholder.
    if (m_resultText->text().size() + m_pendingResult.size() == m_state.optimizedText().size())
        m_resultText->appendText(std::exchange(m_pendingResult, QString()));
    else
        renderResult();
    if (m_scrollPending) {
        m_scrollPending = false;
        m_resultText->scrollToBottom();
    }
}

void FloatingPanelView::renderResult() {
    m_pendingResult.clear();
    m_resultText->setText(resultPlaceholder());
    // The answer's text set anew; the first time in a run, its first piece replaces the placeholder.
    if (!m_state.optimizedText().isEmpty())
        platform::runtrace::mark("result");
}

void FloatingPanelView::render() {
    const FloatingPanelStatus status = m_state.status();
    const bool drafting = status == FloatingPanelStatus::Drafting;
    const bool done = status == FloatingPanelStatus::Done;
    const bool error = status == FloatingPanelStatus::Error;
    const bool restored = m_state.restored();

    // header
    renderStatusIcon();
    m_title->setFullText(statusTitle(status));
    renderPicker();

    // content
    m_draftSection->setVisible(drafting);
    const bool showOriginal = !drafting && !m_state.originalText().isEmpty();
    m_originalSection->setVisible(showOriginal);
    m_originalDivider->setVisible(showOriginal);
    m_originalText->setText(m_state.originalText());
    m_resultSection->setVisible(!drafting);
    // What streamed before a failure stays readable and can be copied, though it is no result.
    const bool partial = error && !m_state.optimizedText().isEmpty();
    m_copy->setVisible((done && !(restored && m_state.optimizedText().isEmpty())) || partial);
    m_resultArea->setVisible(!error || partial);
    m_errorArea->setVisible(error);
    renderResult();
    m_errorText->setText(m_state.errorMessage());
    if (m_draftEditor->toPlainText() != m_state.draftInput())
        m_draftEditor->setPlainText(m_state.draftInput());
    if (m_scrollPending) {
        m_scrollPending = false;
        m_resultText->scrollToBottom();
    }

    // bottom bar
    m_note->setFullText(m_state.recipeNote());
    m_note->setVisible(!m_state.recipeNote().isEmpty());
    m_remember->setVisible(m_state.canRememberRule() && !restored);
    m_generate->setVisible(drafting);
    m_retryError->setVisible(error && !restored);
    m_retryResult->setVisible(done && !restored);
    m_replace->setVisible(done && !restored);
}

void FloatingPanelView::renderStatusIcon() {
    const FloatingPanelStatus status = m_state.status();
    const bool spinning = status == FloatingPanelStatus::Optimizing;
    m_spinner->setVisible(spinning);
    m_statusIcon->setVisible(!spinning);
    if (spinning)
        return;
    const QPalette& pal = palette();
    const QString name = status == FloatingPanelStatus::Drafting ? QStringLiteral("draft")
                         : status == FloatingPanelStatus::Done   ? QStringLiteral("done")
                                                                 : QStringLiteral("error");
    const QColor color = status == FloatingPanelStatus::Error ? D::red(pal) : D::accent(pal);
    const qreal dpr = devicePixelRatioF();
    const QString key = name + color.name() + QString::number(dpr);
    if (m_statusIcon->property("iconKey").toString() != key) {
        m_statusIcon->setPixmap(D::icon(name, color, m_iconSize, dpr));
        m_statusIcon->setProperty("iconKey", key);
    }
}

void FloatingPanelView::renderPicker() {
    const QList<RecipeChoice> recipes = m_state.recipes();
    QSignalBlocker block(m_picker);
    if (recipes != m_shownRecipes) {
        m_picker->clear();
        for (const RecipeChoice& r : recipes)
            m_picker->addItem(r.name, r.id);
        m_shownRecipes = recipes;
    }
    int index = -1;
    for (int i = 0; i < m_shownRecipes.size(); ++i) {
        if (m_shownRecipes.at(i).id == m_state.selectedRecipeID()) {
            index = i;
            break;
        }
    }
    m_picker->setCurrentIndex(index);
    m_picker->setEnabled(!m_state.restored());
}

void FloatingPanelView::restyle() {
    if (m_restyling)
        return;
    m_restyling = true;
    D::refresh(this);
    capPickerWidth();
    const QPalette pal = palette();
    for (QFrame* line : m_dividers) {
        QPalette p = line->palette();
        p.setColor(QPalette::Window, D::hairline(pal));
        line->setPalette(p);
    }
    m_title->setFont([] {
        QFont f = D::TypeScale::caption();
        f.setWeight(QFont::Medium);
        return f;
    }());
    QPalette titlePalette = m_title->palette();
    titlePalette.setColor(QPalette::WindowText, D::secondary(pal));
    m_title->setPalette(titlePalette);
    m_close->setIcon(QIcon(D::icon(QStringLiteral("close"), D::secondary(pal), m_close->iconSize().width(),
                                   devicePixelRatioF())));
    m_copy->setIconSize(m_close->iconSize());
    m_copy->setIcon(QIcon(D::icon(QStringLiteral("copy"), D::accentText(pal), m_copy->iconSize().width(),
                                  devicePixelRatioF())));

    const QColor secondary = D::secondary(pal);
    // The edge shows where to click to type.
    m_draftEditor->setStyleSheet(QStringLiteral("QPlainTextEdit#draftEditor { background: rgba(%1, %2, %3, 0.06); "
                                                "border: 1px solid %7; border-radius: %4px; padding: %5px; "
                                                "color: %6; }")
                                     .arg(secondary.red())
                                     .arg(secondary.green())
                                     .arg(secondary.blue())
                                     .arg(D::radiusM)
                                     .arg(D::space1)
                                     .arg(D::primary(pal).name(), D::fieldEdge(pal).name()));
    const QColor red = D::red(pal);
    m_errorBox->setStyleSheet(QStringLiteral("QFrame#errorBox { background: rgba(%1, %2, %3, 0.08); "
                                             "border-radius: %4px; }")
                                  .arg(red.red())
                                  .arg(red.green())
                                  .arg(red.blue())
                                  .arg(D::radiusM));
    m_errorText->setTextColor(red);
    m_originalText->setTextColor(secondary);
    m_resultText->setTextColor(D::primary(pal));
    m_statusIcon->setProperty("iconKey", QString());
    renderStatusIcon();
    m_restyling = false;
}

void FloatingPanelView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        restyle();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange)
        capPickerWidth();
}

// The picker takes the desktop's font: it is as wide as about pickerChars average characters of
// that font in the style's frame at most, so the usual recipe names show whole at any font size
// and a longer one is cut rather than pushing the title out.
void FloatingPanelView::capPickerWidth() {
    QStyleOptionComboBox option;
    option.initFrom(m_picker);
    const QFontMetrics fm = m_picker->fontMetrics();
    const QSize text(fm.averageCharWidth() * pickerChars, fm.height());
    m_picker->setMaximumWidth(m_picker->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, m_picker).width());
}

void FloatingPanelView::send(const FloatingPanelAction& action) {
    if (m_onAction)
        m_onAction(action);
}

void FloatingPanelView::copyResult() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_state.optimizedText());
}

bool FloatingPanelView::pressPrimaryButton() {
    for (QPushButton* b : {m_generate, m_retryError, m_replace}) {
        if (b->isVisibleTo(this)) {
            b->click();
            return true;
        }
    }
    return false;
}

bool FloatingPanelView::isPrimaryShortcut(const QKeyEvent* event) {
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && mods == Qt::ControlModifier;
}

void FloatingPanelView::keyPressEvent(QKeyEvent* event) {
    if (isPrimaryShortcut(event)) {
        pressPrimaryButton();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FloatingPanelView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_draftEditor && event->type() == QEvent::KeyPress &&
        isPrimaryShortcut(static_cast<QKeyEvent*>(event))) {
        pressPrimaryButton();
        return true;
    }
    // A click into the draft editor is the one moment the panel takes the keyboard, and only when
    // its window accepts the focus (draft mode).
    if (watched == m_draftEditor->viewport() && event->type() == QEvent::MouseButtonPress) {
        QWidget* w = window();
        if (!w->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus)) {
            w->activateWindow();
            m_draftEditor->setFocus(Qt::MouseFocusReason);
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace corvane::panel
