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
            EXPECT_TRUE(label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                          : label->height() >= label->fontMetrics().height() &&
                                                label->width() >= label->fontMetrics().horizontalAdvance(label->text()))
                << what << " " << label->text().toStdString() << ": cut";
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty()) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << what << ": text cut";
        }
        QList<QLayout*> layouts = w->findChildren<QLayout*>(Qt::FindDirectChildrenOnly);
        for (int n = 0; n < layouts.size(); ++n) { // the widget's layout and those nested in it
            layouts += layouts[n]->findChildren<QLayout*>(Qt::FindDirectChildrenOnly);
            QList<QRect> placed;
            for (int i = 0; i < layouts[n]->count(); ++i)
                if (QLayoutItem* item = layouts[n]->itemAt(i); !item->isEmpty() && !item->spacerItem())
                    placed << item->geometry();
            for (int a = 0; a < placed.size(); ++a)
                for (int b = a + 1; b < placed.size(); ++b)
                    EXPECT_FALSE(placed[a].intersects(placed[b])) << what << ": items " << a << ", " << b << " overlap";
        }
    }
}

} // namespace corvane::testsupport
