#pragma once
// How well the texts of a window read, measured on a picture of it: for each text, its ink (the
// pixel farthest from the background) against its background (the most common colour of the area
// it is drawn in). Windows are looked at as a person sees them, whatever colours the code meant.
#include <QAbstractButton>
#include <QCheckBox>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTextEdit>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace corvane::testsupport {

inline double luminance(QRgb c) {
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

inline double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The most common colour of an area of the picture.
inline QRgb dominantColour(const QImage& shot, const QRect& area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[shot.pixel(x, y) | 0xff000000u];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), background = it.key();
    return background;
}

// The contrast of a text as the picture shows it in area.
inline double measuredContrast(const QImage& shot, const QRect& area) {
    const QRgb background = dominantColour(shot, area);
    double best = 1.0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            best = std::max(best, contrast(shot.pixel(x, y) | 0xff000000u, background));
    return best;
}

// One text on the picture: what it says, where (in the pictured widget's coordinates) and a name to
// report it by.
struct ShownText {
    QString name;
    QString text;
    QRect area;
};

// Every text the enabled, visible labels, buttons and text views under root show, in the coordinates
// of canvas (the widget the picture was taken of). Only the part of a button inside its frame counts,
// so the frame's line is not taken for ink. Fields, lists and menus draw in the desktop's own colours
// and are left out; so are disabled controls, which need not read.
inline QList<ShownText> shownTexts(QWidget* canvas, QWidget* root) {
    QList<ShownText> out;
    const auto add = [&](QWidget* w, const QString& text, QRect local) {
        if (text.trimmed().isEmpty() || !w->isVisibleTo(canvas) || !w->isEnabled())
            return;
        const QString name = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                        : w->objectName();
        out.append({name, text, QRect(w->mapTo(canvas, local.topLeft()), local.size())});
    };
    for (QLabel* label : root->findChildren<QLabel*>())
        add(label, label->text(), label->rect());
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        QRect area = button->rect().adjusted(3, 3, -3, -3);
        if (qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            area = button->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
        }
        add(button, button->text(), area);
    }
    for (QTextEdit* view : root->findChildren<QTextEdit*>())
        add(view, view->toPlainText(), view->viewport()->geometry());
    for (QPlainTextEdit* view : root->findChildren<QPlainTextEdit*>())
        add(view, view->toPlainText(), view->viewport()->geometry());
    return out;
}

// Prints the contrast of each text and fails for any below 4.5:1.
inline void expectReadable(const QImage& shot, const QList<ShownText>& texts, const QString& picture) {
    const qreal ratio = shot.devicePixelRatio();
    for (const ShownText& t : texts) {
        const QRect area = QRect(t.area.topLeft() * ratio, t.area.size() * ratio).intersected(shot.rect());
        if (area.isEmpty())
            continue;
        const double measured = measuredContrast(shot, area);
        std::printf("contrast %-22s %-24s %5.2f:1  %s\n", qPrintable(picture), qPrintable(t.name), measured,
                    qPrintable(t.text.left(48).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        EXPECT_GE(measured, 4.5) << picture.toStdString() << " " << t.name.toStdString() << ": "
                                 << t.text.toStdString();
    }
}

// Fails for any field under root whose hint (placeholder) does not fit its text area in the field's
// own font, as the style lays the field out.
inline void expectPlaceholdersWhole(QWidget* root, const QString& picture) {
    for (QLineEdit* field : root->findChildren<QLineEdit*>()) {
        if (field->placeholderText().isEmpty() || !field->isVisibleTo(root))
            continue;
        QStyleOptionFrame option;
        option.initFrom(field);
        option.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
        const QRect room = field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field)
                               .marginsRemoved(field->textMargins());
        EXPECT_GE(room.width(), field->fontMetrics().horizontalAdvance(field->placeholderText()))
            << picture.toStdString() << ": " << field->placeholderText().toStdString();
    }
}

} // namespace corvane::testsupport
