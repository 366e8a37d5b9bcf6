#pragma once
// Whether a window gives its texts and controls their room at the desktop's font: a label shows its
// text whole (on one line, or wrapped at its width), a button or check box is as large as its text
// needs, and nothing a layout places beside something else overlaps it.
#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QWidget>
#include <gtest/gtest.h>

namespace corvane::testsupport {

inline void expectLaidOutWhole(QWidget* root, const QString& look) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root))
            continue;
        const std::string what = look.toStdString() + " " + w->metaObject()->className() + " " +
                                 w->objectName().toStdString();
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty()) {
            const QFontMetrics fm(label->font());
            if (label->wordWrap())
                EXPECT_GE(label->height(), label->heightForWidth(label->width())) << what << ": cut";
            else
                EXPECT_TRUE(label->height() >= fm.height() && label->width() >= fm.horizontalAdvance(label->text()))
                    << what << " " << label->text().toStdString() << ": cut";
        } else if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty()) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << what << ": text cut";
            EXPECT_GE(button->height(), button->fontMetrics().height()) << what << ": text cut";
        }
        QLayout* layout = w->layout();
        if (!layout)
            continue;
        QList<QLayout*> layouts = layout->findChildren<QLayout*>();
        layouts << layout;
        for (QLayout* each : std::as_const(layouts)) {
            QList<QRect> placed;
            for (int i = 0; i < each->count(); ++i)
                if (QLayoutItem* item = each->itemAt(i); !item->isEmpty() && !item->spacerItem())
                    placed << item->geometry();
            for (int a = 0; a < placed.size(); ++a)
                for (int b = a + 1; b < placed.size(); ++b)
                    EXPECT_FALSE(placed[a].intersects(placed[b])) << what << ": items " << a << " and " << b
                                                                  << " of a layout overlap";
        }
    }
}

} // namespace corvane::testsupport
