#include "app/LogViewer.h"
#include "app/StatusIcons.h"
#include "panel/CVDesign.h"
#include "panel/OwnWindows.h"
#include "stores/Graphemes.h"
#include "stores/OptimizationLogger.h"
#include <QAbstractListModel>
#include <cmath>
#include <QApplication>
#include <QButtonGroup>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QStyle>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QVBoxLayout>

namespace corvane::app {

using stores::OptimizationLog;
using Status = OptimizationLog::LogStatus;
// The window's font sizes are given for a 13 px desktop font; each keeps its proportion to the
// desktop's.
using TypeScale = panel::CVDesign::TypeScale;

namespace {

LogViewerController* g_shared = nullptr;

// A row never lays out more than this much of a stored text: it shows two lines at most, and a
// record edited by hand may hold anything.
constexpr qsizetype kShownChars = 1000;
constexpr int kPadH = 16, kPadV = 8, kLineGap = 6;

QFont monoFont(int px) {
    QFont font = TypeScale::sized(px);
    font.setFamily(QStringLiteral("monospace"));
    font.setStyleHint(QFont::Monospace);
    return font;
}

// Control characters other than line breaks would draw as boxes or move the text around.
QString shownText(const QString& text) {
    QString out = text.left(kShownChars);
    for (QChar& c : out) {
        if (c == QLatin1Char('\n') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QChar::LineSeparator;
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    return out;
}

// The text wrapped to width in at most maxLines lines, the last one elided when more follows.
QStringList wrapLines(const QString& raw, const QFont& font, int width, int maxLines) {
    const QString text = shownText(raw);
    QStringList lines;
    if (text.isEmpty())
        return {QString()};
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int consumed = 0, lastStart = 0;
    while (lines.size() < maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lastStart = line.textStart();
        consumed = line.textStart() + line.textLength();
        lines << text.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    if (consumed < text.size() && !lines.isEmpty()) {
        QString rest = text.mid(lastStart);
        rest.replace(QChar::LineSeparator, QLatin1Char(' '));
        if (!rest.endsWith(QStringLiteral("…")))
            rest += QStringLiteral("…");
        lines.last() = QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
    }
    for (QString& line : lines)
        line.remove(QChar::LineSeparator);
    return lines;
}

// The width a text takes on one line, measured as wrapLines() lays it out.
int layoutWidth(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    qreal width = 0;
    if (line.isValid()) {
        line.setLineWidth(1.0e7);
        width = line.naturalTextWidth();
    }
    layout.endLayout();
    return int(std::ceil(width)) + 1;
}

struct Piece {
    QString text;
    QFont font;
    QColor color;
    QRect rect;
    bool badge = false;
    QColor fill = {}; // a badge's, opaque
};

struct RowLayout {
    QList<Piece> pieces;
    int height = 0;
};

RowLayout layoutRow(const OptimizationLog& entry, int width, const QPalette& palette) {
    RowLayout row;
    const int inner = qMax(40, width - 2 * kPadH);
    // The recipe and the context are told apart by their size; both keep the full secondary
    // colour, which reads at 4.5:1 on the list.
    const QColor secondary = panel::CVDesign::secondary(palette);

    // Top line: badge, recipe, context, spacer, time.
    const QFont badgeFont = TypeScale::sized(10, QFont::DemiBold);
    const QString badgeText = OptimizationLog::displayName(entry.status);
    const QFontMetrics badgeMetrics(badgeFont);
    const QSize badgeSize(badgeMetrics.horizontalAdvance(badgeText) + 12, badgeMetrics.height() + 4);
    const QFont timeFont = monoFont(11);
    const QString time = entry.timestamp.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    const QFontMetrics timeMetrics(timeFont);
    const int timeWidth = timeMetrics.horizontalAdvance(time);
    const int timeX = kPadH + inner - timeWidth;
    const int y = kPadV;
    const int afterBadge = kPadH + badgeSize.width() + 8;
    const int room = timeX - 8 - afterBadge; // for the recipe name and the context together
    auto oneLine = [](const QString& text) { return shownText(text).replace(QChar::LineSeparator, QLatin1Char(' ')); };

    // The recipe name wraps over as many lines as it needs; the context keeps to one line and
    // gives way first.
    const QFont recipeFont = TypeScale::sized(10), contextFont = TypeScale::sized(9);
    const QFontMetrics recipeMetrics(recipeFont), contextMetrics(contextFont);
    QStringList recipeLines;
    int recipeWidth = 0;
    if (entry.recipeName && room > 0) {
        const int natural = layoutWidth(oneLine(*entry.recipeName), recipeFont);
        int share = qMin(natural, room);
        if (entry.context) {
            const int context = layoutWidth(oneLine(*entry.context), contextFont) + 1;
            if (natural + 8 + context > room)
                share = qMin(natural, qMax(room / 2, room - 8 - context));
        }
        recipeWidth = qMax(1, share);
        recipeLines = wrapLines(*entry.recipeName, recipeFont, recipeWidth, int(kShownChars));
    }
    const int recipeHeight = int(recipeLines.size()) * recipeMetrics.height();
    const int topHeight = qMax(qMax(badgeSize.height(), timeMetrics.height()), recipeHeight);

    row.pieces << Piece{badgeText, badgeFont, LogViewerView::statusColor(entry.status, palette),
                        QRect(QPoint(kPadH, y + (topHeight - badgeSize.height()) / 2), badgeSize), true};
    int x = afterBadge;
    int lineY = y + (topHeight - recipeHeight) / 2;
    for (const QString& line : recipeLines) {
        row.pieces << Piece{line, recipeFont, secondary, QRect(x, lineY, recipeWidth, recipeMetrics.height())};
        lineY += recipeMetrics.height();
    }
    if (!recipeLines.isEmpty())
        x += recipeWidth + 8;
    if (entry.context && timeX - 8 - x > 0) {
        const QString elided = contextMetrics.elidedText(oneLine(*entry.context), Qt::ElideRight, timeX - 8 - x);
        row.pieces << Piece{elided, contextFont, secondary,
                            QRect(x, y + (topHeight - contextMetrics.height()) / 2,
                                  contextMetrics.horizontalAdvance(elided), contextMetrics.height())};
    }
    row.pieces << Piece{time, timeFont, secondary,
                        QRect(timeX, y + (topHeight - timeMetrics.height()) / 2, timeWidth, timeMetrics.height())};
    int bottom = y + topHeight;

    auto addBlock = [&](const QString& text, const QFont& font, const QColor& color, int maxLines) {
        const QFontMetrics fm(font);
        bottom += kLineGap;
        for (const QString& line : wrapLines(text, font, inner, maxLines)) {
            row.pieces << Piece{line, font, color, QRect(kPadH, bottom, inner, fm.height())};
            bottom += fm.height();
        }
    };
    // A preview is the start of the text, cut at a fixed length; one that was cut says so.
    auto preview = [](const QString& text) {
        return stores::graphemes::hasAtLeast(text, OptimizationLog::previewLength) ? text + QStringLiteral("…") : text;
    };
    addBlock(preview(entry.originalPreview), TypeScale::sized(12), panel::CVDesign::primary(palette), 2);
    if (entry.optimizedPreview)
        addBlock(QStringLiteral("→ ") + preview(*entry.optimizedPreview), TypeScale::sized(12), StatusIcons::green(palette), 2);
    if (entry.detail)
        addBlock(*entry.detail, TypeScale::sized(11), panel::CVDesign::red(palette), 2);
    row.height = bottom + kPadV;
    // The colours are meant for the window; rows sit on the list's own background, which a
    // desktop's palette may make lighter or darker. Each text keeps its colour where it reads at
    // 4.5:1 there, and is lightened or darkened just enough where it would not. A badge's text
    // stands on the badge's tint of its own colour. Text under 10 px is drawn in strokes thinner
    // than a pixel, which never reach their full colour on screen: it asks for more.
    const QColor listBackground = palette.color(QPalette::Base);
    for (Piece& piece : row.pieces) {
        const qreal ratio = piece.font.pixelSize() < 10 ? 6.0 : 4.5;
        if (piece.badge) {
            piece.fill = panel::CVDesign::blend(piece.color, listBackground, 0.15);
            piece.color = panel::CVDesign::readableOn(piece.color, piece.fill, ratio);
        } else {
            piece.color = panel::CVDesign::readableOn(piece.color, listBackground, ratio);
        }
    }
    return row;
}

} // namespace

// ---- the list model and its row painter ----

class LogEntryModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(m_entries.size()); }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= m_entries.size())
            return {};
        if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole) {
            const auto& e = m_entries[index.row()];
            return OptimizationLog::displayName(e.status) + QStringLiteral(": ") + e.originalPreview.left(200);
        }
        return {};
    }
    void setEntries(QList<OptimizationLog> entries) {
        beginResetModel();
        m_entries = std::move(entries);
        endResetModel();
    }
    const OptimizationLog& entry(int row) const { return m_entries[row]; }

private:
    QList<OptimizationLog> m_entries;
};

namespace {

class LogEntryDelegate final : public QStyledItemDelegate {
public:
    LogEntryDelegate(LogEntryModel* model, QListView* view) : QStyledItemDelegate(view), m_model(model), m_view(view) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const int width = rowWidth();
        return {width, layoutRow(m_model->entry(index.row()), width, option.palette).height};
    }

    // Rows are laid out for the width the list has beside its scroll bar, shown or not: a scroll bar
    // that appears once the rows are placed would otherwise wrap them taller than their places.
    int rowWidth() const {
        const QScrollBar* bar = m_view->verticalScrollBar();
        const int width = m_view->viewport()->width();
        return bar->isVisible() ? width : width - m_view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, bar);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const RowLayout row = layoutRow(m_model->entry(index.row()), option.rect.width(), option.palette);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(option.rect.topLeft());
        for (const Piece& piece : row.pieces) {
            painter->setFont(piece.font);
            if (piece.badge) {
                QPainterPath path;
                path.addRoundedRect(QRectF(piece.rect), 4, 4);
                painter->fillPath(path, piece.fill);
                painter->setPen(piece.color);
                painter->drawText(piece.rect, Qt::AlignCenter, piece.text);
            } else {
                painter->setPen(piece.color);
                painter->drawText(piece.rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, piece.text);
            }
        }
        // The divider below each row, inset on its leading side.
        painter->setPen(panel::CVDesign::hairline(option.palette));
        painter->drawLine(12, option.rect.height() - 1, option.rect.width(), option.rect.height() - 1);
        painter->restore();
    }

private:
    LogEntryModel* m_model;
    QListView* m_view;
};

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    return line;
}

} // namespace

// ---- the window's root view ----

LogViewerView::LogViewerView(stores::OptimizationLogger& logger, TapCountFn tapCount, QWidget* parent)
    : QWidget(parent), m_logger(logger), m_tapCount(std::move(tapCount)) {
    setObjectName(QStringLiteral("activityLog"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 10, 16, 10);
    header->setSpacing(panel::CVDesign::space3); // the title never touches the filter
    auto* title = new QLabel(tr("Activity Log"), this);
    title->setFont(TypeScale::headline());
    header->addWidget(title);
    header->addStretch();
    auto* segmentsBox = new QWidget(this);
    segmentsBox->setObjectName(QStringLiteral("filter"));
    segmentsBox->setAccessibleName(tr("Filter"));
    segmentsBox->setMinimumWidth(320);
    auto* segmentsLayout = new QHBoxLayout(segmentsBox);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    m_segments = new QButtonGroup(this);
    m_segments->setExclusive(true);
    const auto segments = filterSegments();
    for (int i = 0; i < segments.size(); ++i) {
        auto* button = new QPushButton(segments[i] ? OptimizationLog::displayName(*segments[i]) : tr("All"), segmentsBox);
        button->setObjectName(QStringLiteral("filter%1").arg(i));
        button->setCheckable(true);
        button->setChecked(i == 0);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_segments->addButton(button, i);
        segmentsLayout->addWidget(button);
    }
    // On the state change, so a screen reader's "toggle" filters as a click does.
    connect(m_segments, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && filterSegments().value(id) != m_filterStatus)
            setFilter(filterSegments().value(id));
    });
    header->addWidget(segmentsBox);
    m_segmentsBox = segmentsBox;
    root->addLayout(header);
    root->addWidget(divider(this));

    m_stack = new QStackedWidget(this);
    auto* empty = new QWidget(m_stack);
    empty->setObjectName(QStringLiteral("emptyState"));
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setSpacing(8);
    emptyLayout->addStretch();
    auto* icon = new QLabel(empty);
    m_emptyIcon = icon;
    icon->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(icon);
    auto* none = new QLabel(tr("No activity yet"), empty);
    none->setAlignment(Qt::AlignCenter);
    emptyLayout->addWidget(none);
    auto* hint = m_hint = new QLabel(empty);
    hint->setObjectName(QStringLiteral("emptyHint"));
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    hint->setFont(TypeScale::sized(11));
    emptyLayout->addWidget(hint);
    m_quietLabels = {none, hint};
    emptyLayout->addStretch();
    m_stack->addWidget(empty);

    m_list = new QListView(m_stack);
    m_list->setObjectName(QStringLiteral("logList"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setResizeMode(QListView::Adjust);
    // Rows wrap their text: a list that gets narrower or wider lays them out again (a list that
    // does not wrap only does so when its height changes).
    m_list->setWordWrap(true);
    m_list->setUniformItemSizes(false);
    m_model = new LogEntryModel(this);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new LogEntryDelegate(m_model, m_list));
    m_stack->addWidget(m_list);
    root->addWidget(m_stack, 1);
    root->addWidget(divider(this));

    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(16, 8, 16, 8);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("count"));
    m_count->setFont(TypeScale::sized(11));
    bottom->addWidget(m_count);
    m_quietLabels.append(m_count);
    bottom->addStretch();
    auto* clear = new QPushButton(tr("Clear Log"), this);
    clear->setObjectName(QStringLiteral("clearLog"));
    clear->setAutoDefault(false);
    clear->setFont(TypeScale::sized(12));
    connect(clear, &QPushButton::clicked, this, [this] { m_logger.clearAll(); });
    bottom->addWidget(clear);
    root->addLayout(bottom);

    connect(&m_logger, &stores::OptimizationLogger::entriesChanged, this, &LogViewerView::reload);
    applyColours();
    reload();
    showTapCount();
}

// The few colours not taken from a palette role; again after every light/dark switch.
void LogViewerView::applyColours() {
    const QPalette pal = palette();
    QColor iconColor = panel::CVDesign::secondary(pal);
    iconColor.setAlphaF(0.5f);
    m_emptyIcon->setPixmap(StatusIcons::icon(QStringLiteral("tray"), iconColor).pixmap(28, 28));
    for (QLabel* label : std::as_const(m_quietLabels)) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, panel::CVDesign::secondary(pal));
        label->setPalette(p);
    }
    m_segmentsBox->setStyleSheet(
        QStringLiteral("QPushButton { font-size: %5px; padding: 3px 6px; border: 1px solid %1; border-radius: 0px;"
                       " background: %2; color: %3; }"
                       "QPushButton:checked { background: %4; border-color: %4; color: white; }")
            .arg(panel::CVDesign::hairline(pal).name(), pal.color(QPalette::Button).name(),
                 pal.color(QPalette::ButtonText).name(), panel::CVDesign::accentFill().name())
            .arg(TypeScale::sized(11).pixelSize()));
}

void LogViewerView::keyPressEvent(QKeyEvent* event) {
    if (panel::isCloseKey(event)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LogViewerView::showEvent(QShowEvent* event) {
    showTapCount(); // as it is set now
    QWidget::showEvent(event);
}

void LogViewerView::showTapCount() {
    const qint64 taps = m_tapCount ? m_tapCount() : 3;
    m_hint->setText(tr("Once your API key is set up, tap space %1 times in any field to trigger").arg(taps));
}

void LogViewerView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_segmentsBox)
        applyColours();
}

LogViewerView::~LogViewerView() = default;

QList<std::optional<Status>> LogViewerView::filterSegments() {
    return {std::nullopt, Status::Triggered, Status::Completed, Status::Failed, Status::Replaced, Status::Cancelled};
}

void LogViewerView::setFilter(std::optional<Status> status) {
    m_filterStatus = status;
    const int id = int(filterSegments().indexOf(status));
    if (QAbstractButton* button = m_segments->button(id))
        button->setChecked(true);
    reload();
}

QList<OptimizationLog> LogViewerView::filteredEntries() const {
    if (!m_filterStatus)
        return m_logger.entries();
    QList<OptimizationLog> out;
    for (const auto& entry : m_logger.entries())
        if (entry.status == *m_filterStatus)
            out << entry;
    return out;
}

void LogViewerView::reload() {
    QList<OptimizationLog> entries = filteredEntries();
    const bool empty = entries.isEmpty();
    m_model->setEntries(std::move(entries));
    m_stack->setCurrentIndex(empty ? 0 : 1);
    m_count->setText(tr("%1 entries").arg(m_logger.entries().size()));
}

bool LogViewerView::showsEmptyState() const { return m_stack->currentIndex() == 0; }
QString LogViewerView::countText() const { return m_count->text(); }
QString LogViewerView::emptyHint() const { return m_hint->text(); }

QList<LogViewerView::ShownText> LogViewerView::visibleRowTexts() const {
    QList<ShownText> out;
    for (int row = 0; row < m_model->rowCount({}); ++row) {
        const QRect rect = m_list->visualRect(m_model->index(row));
        if (!rect.intersects(m_list->viewport()->rect()))
            continue;
        const QPoint origin = m_list->viewport()->mapTo(this, rect.topLeft());
        for (const Piece& piece : layoutRow(m_model->entry(row), rect.width(), m_list->palette()).pieces)
            out.append({piece.text, piece.rect.translated(origin)});
    }
    return out;
}

QStringList LogViewerView::rowLines(const OptimizationLog& entry, int width) {
    QStringList out;
    for (const Piece& piece : layoutRow(entry, width, QApplication::palette()).pieces)
        out << piece.text;
    return out;
}

QColor LogViewerView::statusColor(Status status, const QPalette& palette) {
    const bool dark = panel::CVDesign::isDark(palette);
    switch (status) {
    case Status::Triggered:
        return dark ? QColor(100, 175, 255) : QColor(0, 90, 195);
    case Status::Optimizing:
        return dark ? QColor(255, 159, 10) : QColor(150, 76, 0);
    case Status::Completed:
        return StatusIcons::green(palette);
    case Status::Failed:
        return panel::CVDesign::red(palette);
    case Status::Replaced:
        return dark ? QColor(205, 130, 250) : QColor(130, 50, 180);
    case Status::Cancelled:
        break;
    }
    return panel::CVDesign::secondary(palette);
}

// ---- the controller ----

LogViewerController::LogViewerController(stores::OptimizationLogger& logger, TapCountFn tapCount, QObject* parent)
    : QObject(parent), m_logger(logger), m_tapCount(std::move(tapCount)) {}

LogViewerController::~LogViewerController() { delete m_window.data(); }

LogViewerController& LogViewerController::shared() {
    if (!g_shared)
        qFatal("LogViewerController::shared() used before the application wired it");
    return *g_shared;
}

void LogViewerController::setShared(LogViewerController* controller) { g_shared = controller; }

void LogViewerController::show() {
    if (!m_window) {
        m_window = new LogViewerView(m_logger, m_tapCount);
        m_window->setWindowTitle(tr("Activity Log"));
        // Its usual size, or what its bars need whole in a larger desktop font.
        m_window->setMinimumSize(QSize(400, 300).expandedTo(m_window->minimumSizeHint()));
        m_window->resize(QSize(600, 440).expandedTo(m_window->sizeHint()));
        if (QScreen* screen = QGuiApplication::primaryScreen())
            m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    }
    panel::bringToFront(m_window);
}

} // namespace corvane::app
