#pragma once
// Visual constants shared by the floating panel and the settings window: the accent colour, radii,
// spacing, the type scale, and the "modifiers" that style a widget with them. Sizes are logical
// pixels; fonts are set by pixel size, the body at the desktop font's and the other steps in
// proportion to it. Colours follow the widget's palette, so a light or dark
// palette gives the matching variant; call refresh() on a styled tree after a palette change.
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QString>

class QAbstractButton;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace corvane::panel {

class CVDesign {
public:
    CVDesign() = delete;

    static constexpr int radiusS = 6;
    static constexpr int radiusM = 8;
    static constexpr int radiusL = 10;
    static constexpr int space1 = 4;
    static constexpr int space2 = 8;
    static constexpr int space3 = 12;
    static constexpr int space4 = 16;

    // The accent: (91, 103, 241) on a light palette, (123, 134, 245) on a dark one. It tints
    // symbols; words take accentText(), and white words sit on accentFill().
    static QColor accent(const QPalette& palette);
    // The accent for text: deeper on a light palette, lighter on a dark one, so it reads at 4.5:1
    // or better on the window and on a card (made lighter or deeper still where a desktop's
    // palette would need it).
    static QColor accentText(const QPalette& palette);
    // The accent behind white text (filled buttons, selected rows), the same on either palette.
    static QColor accentFill();
    // A palette counts as dark when its window colour is dark.
    static bool isDark(const QPalette& palette);

    // Label colours derived from the palette (opaque, so they read on any background); each
    // reads at 4.5:1 or better on the window, a card and the panel's error box.
    static QColor primary(const QPalette& palette);
    static QColor secondary(const QPalette& palette);
    // Red for errors; like accentText(), adjusted to the palette where its usual shade would not
    // read on a card.
    static QColor red(const QPalette& palette);
    // The ink as it is when it reads at 4.5:1 (or the ratio asked for) on background, else
    // lightened (on a dark background) or darkened just enough that it does: for words coloured by
    // Corvane on whatever the desktop's palette puts behind them.
    // top painted at topAmount opacity over bottom, as one opaque colour.
    static QColor blend(const QColor& top, const QColor& bottom, qreal topAmount);
    static QColor readableOn(const QColor& ink, const QColor& background, qreal ratio = 4.5);
    // The panel's opaque background and its hairline border.
    static QColor background(const QPalette& palette);
    static QColor hairline(const QPalette& palette);
    // The edge of a box to type in: it stands out from the window at 3:1, so the box shows where
    // to click.
    static QColor fieldEdge(const QPalette& palette);

    // How much larger than a 13 px body the desktop's font is, never below 1. Sizes laid out for
    // 13 px text (the floating panel's width and heights) grow by it, so text that grows with the
    // desktop's font still fits them.
    static double sizeScale();
    // A length of a window's own design, given for a 13 px body font, at the desktop's font: it
    // keeps its proportion to the type scale's body, so text laid out in it wraps where it was
    // meant to.
    static int scaledLength(int atThirteen);

    class TypeScale {
    public:
        TypeScale() = delete;
        // At a 13 px desktop font; each step keeps its proportion to the desktop font's size.
        static QFont title();    // 15 px semibold
        static QFont headline(); // 13 px medium
        static QFont body();     // 13 px
        static QFont caption();  // 11 px
        static QFont micro();    // 10 px
        // A size of a window's own design, given for a 13 px body font, in the same proportion to
        // the desktop's font (never below 9 px).
        static QFont sized(int pxAtThirteen, QFont::Weight weight = QFont::Normal);
    };

    // Modifiers. Each records its role on the widget, so refresh() can apply it again with the
    // palette in force (light/dark switch while shown).
    static void cvBrandTint(QWidget* widget);
    static void cvSectionLabel(QWidget* widget);
    static void cvMicroNote(QWidget* widget);
    static void cvCardTitle(QWidget* widget);
    // A card: 16 px padding, full width, a rounded fill and an inset 1 px border.
    static void cvCard(QFrame* frame);
    // Button looks: a filled accent button, and a borderless text button in a given tone.
    static void cvProminentButton(QPushButton* button);
    enum class Tone { Accent, Secondary };
    static void cvPlainButton(QAbstractButton* button, Tone tone);

    // Re-applies every modifier in the tree under root with root's current palette.
    static void refresh(QWidget* root);

    // A bundled icon ("draft", "done", "error", "copy", "close") tinted in one colour, at the
    // given logical size and device pixel ratio.
    static QPixmap icon(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0);

private:
    static void apply(QWidget* widget);
};

} // namespace corvane::panel
