// Pictures of the panel in each status, at desktop fonts and in light and dark palettes, saved under
// the build folder (artifacts/panel/*.png) for a person to look at. Each picture must be opaque and
// in its theme, every text in it must read at 4.5:1 against what is behind it, measured on the
// picture, and every label and control must be as tall and wide as its own font needs.
#include "PanelFixture.h"
#include "panel/CVDesign.h"
#include "panel/PanelWidgets.h"
#include "support/DarkPalette.h"
#include "support/TextContrast.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleOptionComboBox>

using namespace corvane::panel;
using namespace corvane::panel::testing;

using corvane::testsupport::darkPalettes;

namespace {

// The height a line of a font takes down to the lowest ink of descenders and underscores.
int inkHeight(const QFontMetrics& fm) {
    return fm.ascent() + qMax(fm.descent(), fm.tightBoundingRect(QStringLiteral("gjpqy_")).bottom() + 1);
}

class Screenshots : public PanelTest {
protected:
    QImage capture(const char* status, const QString& look) {
        for (int i = 0; i < 4; ++i) // text boxes refit after the layout gave them their width
            QApplication::processEvents();
        const QImage shot = window()->grab().toImage();
        const QString dir = QStringLiteral(CORVANE_PANEL_ARTIFACTS);
        QDir().mkpath(dir);
        const QString file = QStringLiteral("%1/panel-%2-%3.png").arg(dir, QString::fromLatin1(status), look);
        EXPECT_TRUE(shot.save(file)) << file.toStdString();
        EXPECT_EQ(shot.width(), qRound(420 * CVDesign::sizeScale()) * qRound(shot.devicePixelRatio()));
        const QColor inside = shot.pixelColor(4, shot.height() / 2);
        EXPECT_EQ(inside.alpha(), 255) << status << ": the background is opaque";
        EXPECT_EQ(inside.lightness() < 128, CVDesign::isDark(window()->palette())) << status << ": the picture follows the theme";
        const QString picture = look + QLatin1Char(' ') + QString::fromLatin1(status);
        corvane::testsupport::expectReadable(shot, corvane::testsupport::shownTexts(window(), window()), picture);
        expectTextsFit(picture);
        expectTheFontsScale(picture);
        return shot;
    }

    // The texts follow the desktop's font: the body at its size, the title in proportion; the title
    // is whole, to the eye and to a screen reader, and the panel holds everything at its least width.
    void expectTheFontsScale(const QString& picture) {
        const std::string where = picture.toStdString();
        const int desktop = QFontInfo(QApplication::font()).pixelSize();
        EXPECT_EQ(QFontInfo(find<PlainTextBox>("resultText")->font()).pixelSize(), desktop) << where;
        auto* title = find<ElidedLabel>("statusTitle");
        EXPECT_EQ(title->text(), title->fullText()) << where;
        const auto face = [](QWidget* w) { return QFontInfo(w->font()).styleName().toStdString(); };
        EXPECT_NE(face(find("resultTitle")), face(find("resultText"))) << where << ": section titles are semibold";
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(title);
        EXPECT_EQ(spoken ? spoken->text(QAccessible::Name) : QString(), title->fullText()) << where;
        EXPECT_LE(view()->minimumSizeHint().width(), window()->width()) << where;
    }

    // No label, button or picker cuts its text at the bottom, nor a button or the picker at its end.
    void expectTextsFit(const QString& picture) {
        const auto fits = [&](QWidget* w, const QString& text, int width, int height) {
            const QFontMetrics fm = w->fontMetrics();
            const bool shown = w->isVisibleTo(window()) && !text.isEmpty();
            EXPECT_TRUE(!shown || (height >= inkHeight(fm) && width >= fm.horizontalAdvance(text)))
                << picture.toStdString() << " " << w->objectName().toStdString() << " " << width << "x" << height;
        };
        for (QLabel* label : view()->findChildren<QLabel*>()) // a wrapped label has all the lines it needs
            fits(label, label->text(), label->wordWrap() ? QWIDGETSIZE_MAX : label->contentsRect().width(),
                 label->contentsRect().height());
        for (QPushButton* button : view()->findChildren<QPushButton*>())
            fits(button, button->text(), button->width(), button->height());
        auto* picker = find<RecipePicker>("recipePicker");
        QStyleOptionComboBox option;
        option.initFrom(picker);
        const QRect field = picker->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, picker);
        fits(picker, picker->shownText(), field.width(), field.height());
    }
};

TEST_F(Screenshots, EveryStatusAtDesktopFontsInLightAndDark) {
    recipes.recipes.append({QStringLiteral("formal"), QStringLiteral("Formal Business Tone for Long Emails")});
    recipes.recipes.append({QStringLiteral("reply"), QStringLiteral("Reply_to_customer gently, politely and quickly")});
    engine.bundleID = QStringLiteral("corvane_test_qt_editor");
    engine.source = corvane::trigger::RecipeSource::appRule(QStringLiteral("corvane_test_qt_editor"));
    const auto restoreFont = qScopeGuard([font = QApplication::font()] { QApplication::setFont(font); });
    const auto looks = QList<corvane::testsupport::NamedPalette>{{"light", QApplication::palette()}} + darkPalettes();
    // 10 pt, qt6ct's default 11 pt "Sans Serif", and a large desktop font
    for (const auto& [family, points] :
         {std::pair{"DejaVu Sans", 10}, std::pair{"Sans Serif", 11}, std::pair{"DejaVu Sans", 14}}) {
        QFont desktopFont(QString::fromLatin1(family), points);
        if (points == 11)
            desktopFont.setStyleName(QStringLiteral("Book")); // as qt6ct writes a font it was given
        QApplication::setFont(desktopFont);
        for (const auto& l : looks) {
            const QString look = QStringLiteral("%1-%2pt").arg(QString::fromLatin1(l.name)).arg(points);
            SCOPED_TRACE(look.toStdString());
            enterDrafting();
            window()->setPalette(l.palette);
            auto* draftBox = find<QPlainTextEdit>("draftEditor");
            draftBox->setPlainText(QStringLiteral("A short note thanking the team for the launch"));
            const QImage drafting = capture("drafting", look);
            // The box to type in stands out from the panel: its edge against the panel beside it.
            const QPoint edge = draftBox->mapTo(window(), QPoint(0, draftBox->height() / 2)) * drafting.devicePixelRatio();
            EXPECT_GE(corvane::testsupport::contrast(drafting.pixel(edge), drafting.pixel(edge - QPoint(3, 0))), 3.0);

            controller.show(QStringLiteral("hey can u send me the report by tmrw, need it for the meeting thx"),
                            QPointF(200, 500), QSizeF(400, 30), QStringLiteral("optimize"));
            controller.updateResult(QStringLiteral("Could you send me the report by tomorrow? I need it for"));
            capture("optimizing", look);

            controller.showResult(QStringLiteral("Could you send me the report by tomorrow? I need it for the "
                                                 "meeting.\n\nThank you!"));
            capture("done", look);

            controller.showError(QStringLiteral("The provider answered with HTTP 401: the API key was rejected. "
                                                "Check the key in Settings."));
            capture("error", look);

            // A field low on the screen whose answer is cut after a few pieces: the message shows whole
            // and the panel stays on the screen, above the field; only the streamed text scrolls.
            const QRectF field(300, 820, 500, 30);
            controller.show(QStringLiteral("hey can u send me the report by tmrw, need it for the meeting thx. "
                                           "and pls cc the whole team on it so nobody misses the numbers"),
                            field.topLeft(), field.size(), QStringLiteral("reply"));
            EXPECT_TRUE(find<RecipePicker>("recipePicker")->shownText().endsWith(QChar(0x2026))) << "cut with an ellipsis";
            controller.updateResult(QStringLiteral("Could you send me the report by tomorrow? "));
            controller.showError(QStringLiteral("The connection closed before the answer was complete"));
            capture("cut-answer-error", look);
            for (const char* box : {"errorText", "originalText"})
                EXPECT_EQ(find<PlainTextBox>(box)->verticalScrollBar()->maximum(), 0) << box << " shows whole";
            EXPECT_TRUE(desktop.areas.first().available.contains(QRectF(window()->geometry()))) << "on the screen";
            EXPECT_LE(window()->geometry().bottom(), field.top()) << "the field stays free";
        }
    }
}

} // namespace
