#include "settings/SettingsForm.h"
#include "panel/CVDesign.h"
#include <QApplication>
#include <QScrollArea>
#include <QVBoxLayout>

namespace corvane::settings {

using panel::CVDesign;

namespace {

// A page asks for room for all of its content (a plain scroll area offers a capped guess), so the
// window can open at a size where no tab needs to scroll.
class PageArea final : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const QWidget* content = widget();
        if (!content)
            return QScrollArea::sizeHint();
        const QSize natural = content->sizeHint().expandedTo(content->minimumSizeHint());
        const int height =
            content->hasHeightForWidth() ? qMax(natural.height(), content->heightForWidth(natural.width()))
                                         : natural.height();
        return QSize(natural.width(), height).grownBy(contentsMargins());
    }
};

} // namespace

Page makePage(QWidget* owner) {
    auto* outer = new QVBoxLayout(owner);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new PageArea(owner);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // The page is no stop of its own for Tab: it has no name and shows no focus. Tabbing to a
    // control still scrolls it into sight.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(CVDesign::space4, CVDesign::space4, CVDesign::space4, CVDesign::space4);
    column->setSpacing(CVDesign::space3);
    scroll->setWidget(content);
    outer->addWidget(scroll);
    return {scroll, column};
}

Card addCard(QVBoxLayout* column, const QString& title) {
    auto* frame = new QFrame;
    CVDesign::cvCard(frame);
    auto* box = new QVBoxLayout(frame);
    box->setContentsMargins(0, 0, 0, 0); // the card's own padding frames the content
    box->setSpacing(CVDesign::space2);
    if (!title.isEmpty()) {
        auto* heading = new QLabel(title, frame);
        CVDesign::cvCardTitle(heading);
        box->addWidget(heading);
    }
    auto* form = new QFormLayout;
    form->setHorizontalSpacing(CVDesign::space3);
    form->setVerticalSpacing(CVDesign::space2);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    box->addLayout(form);
    column->addWidget(frame);
    return {frame, form};
}

QHBoxLayout* leftAligned(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    row->setSpacing(CVDesign::space2);
    for (QWidget* w : widgets)
        row->addWidget(w);
    row->addStretch(1);
    return row;
}

int noteMinWidth() { return CVDesign::scaledLength(320); }

QLabel* makeNote(const QString& objectName, QWidget* parent) {
    auto* note = new QLabel(parent);
    note->setObjectName(objectName);
    note->setWordWrap(true);
    // Notes repeat what servers, app ids and recipe names say: shown as typed, never as markup.
    note->setTextFormat(Qt::PlainText);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Wrapped text is measured at the layout's narrowest width; a sensible floor keeps the
    // reserved height close to what the text needs.
    note->setMinimumWidth(noteMinWidth());
    note->setVisible(false); // until it has something to say
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CVDesign::cvMicroNote(note);
    return note;
}

namespace {

const char* const reservedTexts = "cvReservedTexts";

// Room for the tallest of the note's messages at its narrowest width, in the note's font as it is
// now: a wider note needs no more lines, so nothing below it moves whichever message shows.
void fitReservedRoom(QLabel* note) {
    const QStringList texts = note->property(reservedTexts).toStringList();
    if (texts.isEmpty())
        return;
    const QString shown = note->text();
    int tallest = 0;
    for (const QString& text : texts) {
        note->setText(text);
        tallest = qMax(tallest, note->heightForWidth(note->minimumWidth()));
    }
    note->setText(shown);
    note->setMinimumHeight(tallest);
}

} // namespace

void reserveNoteSpace(QLabel* note, const QStringList& messages) {
    note->setProperty(reservedTexts, messages);
    setNote(note, note->text(), false);
}

void setNote(QLabel* note, const QString& text, bool isError) {
    note->setText(text);
    // An empty note takes no row at all, so the card keeps its rhythm; one with reserved room
    // keeps it.
    const bool shown = !text.isEmpty() || note->property(reservedTexts).isValid();
    bool inForm = false;
    if (QWidget* parent = note->parentWidget()) {
        for (QFormLayout* form : parent->findChildren<QFormLayout*>()) {
            int row = -1;
            QFormLayout::ItemRole role;
            form->getWidgetPosition(note, &row, &role);
            if (row >= 0) {
                form->setRowVisible(row, shown);
                inForm = true;
            }
        }
    }
    if (!inForm)
        note->setVisible(shown);
    QPalette p = note->palette();
    // The window's palette, not the note's own: a note not yet placed in a window is its own
    // window, and its palette already holds the secondary colour, which would be faded twice.
    const QPalette base = note->parentWidget() ? note->window()->palette() : QApplication::palette();
    const QColor color = isError ? CVDesign::red(base) : CVDesign::secondary(base);
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    note->setPalette(p);
    fitReservedRoom(note);
}

void nameFieldsByTheirLabels(QWidget* root) {
    for (QFormLayout* form : root->findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* labelItem = form->itemAt(row, QFormLayout::LabelRole);
            QLayoutItem* fieldItem = form->itemAt(row, QFormLayout::FieldRole);
            auto* label = labelItem ? qobject_cast<QLabel*>(labelItem->widget()) : nullptr;
            QLayout* fields = fieldItem ? fieldItem->layout() : nullptr;
            if (!label || label->buddy() || !fields)
                continue;
            for (int i = 0; i < fields->count(); ++i) {
                QWidget* w = fields->itemAt(i)->widget();
                if (w && (w->focusPolicy() & Qt::TabFocus)) {
                    label->setBuddy(w);
                    break;
                }
            }
        }
    }
}

QString withoutSecret(QString text, const QString& secret) {
    if (secret.size() >= 4)
        text.replace(secret, QStringLiteral("••••"));
    return text;
}

} // namespace corvane::settings
