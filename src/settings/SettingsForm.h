#pragma once
// Building blocks shared by the tabs: a scrolling page of cards, a card with a title and a form,
// notes in the secondary colour, and keeping a key out of any text the window shows.
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <initializer_list>

class QHBoxLayout;
class QVBoxLayout;
class QScrollArea;

namespace corvane::settings {

// A page: a scroll area whose content stacks cards with the standard spacing.
struct Page {
    QScrollArea* scroll = nullptr;
    QVBoxLayout* column = nullptr;
};
Page makePage(QWidget* owner);

// A card with a title (optional) and a form layout for its rows.
struct Card {
    QFrame* frame = nullptr;
    QFormLayout* form = nullptr;
};
Card addCard(QVBoxLayout* column, const QString& title);

// The widgets side by side at their natural width, left-aligned.
QHBoxLayout* leftAligned(std::initializer_list<QWidget*> widgets);

// The narrowest a wrapping note gets: the width its reserved height is measured at. 320 px at a
// 13 px desktop font, in proportion to it at others, so a larger font needs no more lines.
int noteMinWidth();
// A note in the secondary colour that wraps.
QLabel* makeNote(const QString& objectName, QWidget* parent = nullptr);
// Keeps room for the tallest of the messages the note can show, whether it has text or not, so the
// controls below it never move when a message appears, changes or goes away.
void reserveNoteSpace(QLabel* note, const QStringList& messages);
// Shows text in a note in the red of the design, or in the secondary colour.
void setNote(QLabel* note, const QString& text, bool isError);

// A form row whose field is a row of widgets (a field and its button, a spin box kept at its
// natural width) gets its label as the first control's buddy: screen readers name the control by
// it, and the label's mnemonic reaches it.
void nameFieldsByTheirLabels(QWidget* root);

// The text with every occurrence of secret replaced by dots. Errors of a provider may quote the
// key they were sent; the window never shows it.
QString withoutSecret(QString text, const QString& secret);

} // namespace corvane::settings
