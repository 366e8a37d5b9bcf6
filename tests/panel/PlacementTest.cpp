// Where the panel lands and how tall it gets, as tables of desktop situations. Coordinates are
// Qt's global logical ones (y down); a 1440 x 875 desktop unless a case says otherwise.
#include "panel/PanelPlacement.h"

#include <gtest/gtest.h>

using namespace corvane::panel;
namespace P = corvane::panel::PanelPlacement;

namespace {

const QRectF laptop(0, 0, 1440, 875);
const QSizeF run(420, 280);
const QSizeF draft(420, 320);

struct ElementCase {
    const char* name;
    QRectF area;
    QPointF elementTopLeft;
    QSizeF elementSize;
    QSizeF panel;
    QRectF expected;
};

TEST(NextToField, LandsWhereTheUserExpects) {
    const ElementCase cases[] = {
        // Centred over a field in the upper half, it would poke out on the left: clamped to 0, and
        // it fits above the field with a 12 px gap.
        {"above, clamped left", laptop, {100, 345}, {200, 30}, run, {0, 53, 420, 280}},
        // Too close to the top: below the field, 12 px under its bottom edge.
        {"below the field", laptop, {100, 145}, {200, 30}, run, {0, 187, 420, 280}},
        // The panel's top lands exactly on the top of the area: that still counts as fitting.
        {"exactly fits above", laptop, {600, 292}, {240, 24}, run, {510, 0, 420, 280}},
        {"one pixel short goes below", laptop, {600, 291}, {240, 24}, run, {510, 327, 420, 280}},
        // A tall editor filling the screen: below would sink under the bottom, so it stops at the
        // bottom of the area and overlaps the field.
        {"stops at the bottom", laptop, {300, 100}, {800, 760}, run, {490, 595, 420, 280}},
        {"clamped right", laptop, {1300, 600}, {120, 20}, run, {1020, 308, 420, 280}},
        {"draft height", laptop, {500, 600}, {300, 40}, draft, {440, 268, 420, 320}},
        // A work area that starts below a top bar.
        {"fits under a top bar", QRectF(0, 28, 1440, 847), {100, 320}, {200, 30}, run, {0, 28, 420, 280}},
        {"a top bar pushes it below", QRectF(0, 28, 1440, 847), {100, 310}, {200, 30}, run, {0, 352, 420, 280}},
        // A monitor left of the primary one (negative coordinates).
        {"monitor on the left", QRectF(-1280, 0, 1280, 1024), {-200, 300}, {300, 30}, run,
                    {-420, 8, 420, 280}},
        // Screens smaller than the panel: the empty clamp ranges keep the top-left corner on screen.
        {"zero-sized screen", QRectF(0, 0, 0, 0), {10, 10}, {0, 0}, run, {0, 0, 420, 280}},
        {"narrow screen", QRectF(0, 0, 320, 480), {50, 400}, {200, 30}, run, {0, 108, 420, 280}},
        {"short screen", QRectF(0, 0, 1024, 200), {400, 100}, {200, 30}, run, {290, 0, 420, 280}}
    };
    for (const auto& c : cases)
        EXPECT_EQ(P::frameNearElement(c.area, c.elementTopLeft, c.elementSize, c.panel), c.expected) << c.name;

    // A field with no room above or below (a maximised editor's text view): the panel overlaps it
    // where it covers neither the pointer's line nor the caret's.
    const QRectF caretLine(0, 700, 1440, 18);
    const struct {
        const char* name;
        P::KeepFree keep;
        QRectF expected;
    } overlapping[] = {
        {"nothing known: the bottom of the area", {}, {510, 595, 420, 280}},
        {"pointer there: the top of the area", {QPointF(700, 800), std::nullopt}, {510, 0, 420, 280}},
        {"pointer on top, caret below", {QPointF(700, 100), caretLine}, {510, 132, 420, 280}},
    };
    for (const auto& c : overlapping)
        EXPECT_EQ(P::frameNearElement(laptop, {0, 40}, {1440, 820}, run, c.keep), c.expected) << c.name;
}

struct PointerCase {
    const char* name;
    QRectF area;
    QPointF pointer;
    QSizeF panel;
    QRectF expected;
};

TEST(NearPointer, CentredBesideTheLineAtThePointer) {
    const PointerCase cases[] = {
        {"middle of the screen", laptop, {700, 400}, run, {490, 432, 420, 280}},
        {"pointer near the bottom: above its line", laptop, {700, 855}, run, {490, 543, 420, 280}},
        {"pointer near the top", laptop, {700, 10}, run, {490, 42, 420, 280}},
        {"pointer at the left edge", laptop, {0, 400}, {420, 250}, {0, 432, 420, 250}},
        {"pointer at the right edge", laptop, {1439, 400}, run, {1020, 432, 420, 280}},
        {"second monitor", QRectF(1440, 0, 1920, 1080), {1500, 1070}, run, {1440, 758, 420, 280}},
        {"zero-sized screen", QRectF(0, 0, 0, 0), {0, 0}, run, {0, 0, 420, 280}},
        {"screen lower than the panel", QRectF(0, 0, 1024, 200), {500, 100}, draft, {290, 0, 420, 320}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(P::frameNearPointer(c.area, c.pointer, c.panel), c.expected) << c.name;
}

TEST(ScreenChoice, ThePanelGoesToTheMonitorThatHoldsTheField) {
    const QList<ScreenArea> twoMonitors{
        {QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1040)},
        {QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 1024)},
    };
    struct Case {
        const char* name;
        QPointF point;
        std::optional<QRectF> expected;
    };
    const Case cases[] = {
        {"on the primary", {100, 100}, QRectF(0, 0, 1920, 1040)},
        {"on the second", {2500, 600}, QRectF(1920, 0, 1280, 1024)},
        {"on the shared edge belongs to the right one", {1920, 500}, QRectF(1920, 0, 1280, 1024)},
        {"below the shorter second monitor: nearest", {2500, 1050}, QRectF(1920, 0, 1280, 1024)},
        {"far off every screen: nearest", {9000, 300}, QRectF(1920, 0, 1280, 1024)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(P::areaFor(twoMonitors, c.point), c.expected) << c.name;
    EXPECT_FALSE(P::areaFor({}, {10, 10}).has_value()) << "no screen at all";

    // End to end: a field on the second monitor gets the panel on that monitor, not clamped back
    // onto the primary one.
    const QPointF field(2000, 500);
    const QSizeF size(300, 30);
    const auto area = P::areaFor(twoMonitors, field + QPointF(150, 15));
    ASSERT_TRUE(area);
    EXPECT_EQ(P::frameNearElement(*area, field, size, run), QRectF(1940, 208, 420, 280));
}

TEST(EstimatedLines, CountsWrappedLinesOrLineFeedsUpToTheCap) {
    struct Case {
        const char* name;
        QString text;
        double cap;
        double expected;
    };
    const QString thumbs = QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"); // one emoji with a skin tone
    const QString accented = QStringLiteral("e\u0301");                         // e + combining acute
    const Case cases[] = {
        {"empty", QString(), 14, 0},
        {"34 characters", QString(34, QLatin1Char('a')), 14, 1},
        {"35 characters", QString(35, QLatin1Char('a')), 14, 2},
        {"two line feeds in five characters", QStringLiteral("a\n\nbc"), 14, 2},
        {"long original hits its cap", QString(1000, QLatin1Char('x')), 4, 4},
        {"34 emoji are 34 characters", thumbs.repeated(34), 14, 1},
        {"35 accented letters", accented.repeated(35), 14, 2},
        {"35 CJK characters", QString(35, QChar(0x4E2D)), 14, 2},
        {"many short lines", QStringLiteral("a\n").repeated(20), 14, 14},
        {"102 characters under a cap of 4", QString(102, QLatin1Char('a')), 4, 3},
        {"103 characters reach a cap of 4", QString(103, QLatin1Char('a')), 4, 4},
        {"136 emoji past a cap of 4", thumbs.repeated(136), 4, 4},
        {"a megabyte stops at the cap", QString(1 << 20, QLatin1Char('x')), 14, 14},
    };
    for (const auto& c : cases)
        EXPECT_EQ(P::estimatedLines(c.text, c.cap), c.expected) << c.name;
}

TEST(PreferredHeight, FollowsTheStatusAndFitsAFinishedResult) {
    struct Case {
        const char* name;
        FloatingPanelStatus status;
        QString original;
        QString optimized;
        double expected;
    };
    const QString lines11 = QStringLiteral("line\n").repeated(11) + QStringLiteral("end");
    const Case cases[] = {
        {"drafting", FloatingPanelStatus::Drafting, {}, {}, 320},
        {"optimizing", FloatingPanelStatus::Optimizing, QStringLiteral("hi"), {}, 280},
        {"error", FloatingPanelStatus::Error, QStringLiteral("hi"), QStringLiteral("partial"), 250},
        {"done, nothing to show: raised to the floor", FloatingPanelStatus::Done, {}, {}, 260},
        {"done, long texts: both caps", FloatingPanelStatus::Done, QString(900, QLatin1Char('o')), QString(5000, QLatin1Char('r')), 442},
        {"done, 11 result lines", FloatingPanelStatus::Done, {}, lines11, 316},
        {"done, 1 + 11 lines", FloatingPanelStatus::Done, QStringLiteral("short"), lines11, 334},
    };
    for (const auto& c : cases)
        EXPECT_EQ(P::preferredHeight(c.status, c.original, c.optimized), c.expected) << c.name;
}

TEST(FittedFrame, ResizesOnlyBeyondFourPixelsKeepingTheTopEdge) {
    struct Case {
        const char* name;
        QRect current;
        double preferred;
        std::optional<QRect> expected;
    };
    const Case cases[] = {
        {"draft panel, 316 wanted: within 4, left alone", {100, 200, 420, 320}, 316, std::nullopt},
        {"draft panel, 334 wanted: grows downwards", {100, 200, 420, 320}, 334, QRect(100, 200, 420, 334)},
        {"run panel shrinks to the done floor", {100, 200, 420, 280}, 260, QRect(100, 200, 420, 260)},
        {"exactly 4 pixels is not enough", {0, 0, 420, 280}, 284, std::nullopt},
        {"5 pixels is", {0, 0, 420, 280}, 285, QRect(0, 0, 420, 285)},
        {"never above 480", {0, 0, 420, 280}, 900, QRect(0, 0, 420, 480)},
        {"never below 240", {0, 0, 420, 280}, 100, QRect(0, 0, 420, 240)},
        {"a widened frame gets its width back", {10, 10, 500, 300}, 260, QRect(10, 10, 420, 260)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(P::fittedFrame(c.current, c.preferred), c.expected) << c.name;

    // Beside its field the panel grows away from it, and no further than the screen has room.
    const struct {
        const char* name;
        QRect current;
        double preferred;
        P::Side side;
        double scale;
        std::optional<QRect> expected;
    } besideField[] = {
        {"above, under the top of the screen", {100, 100, 420, 280}, 480, P::Side::AboveField, 1, QRect(100, 0, 420, 380)},
        {"below, over the bottom of the screen", {100, 500, 420, 280}, 480, P::Side::BelowField, 1, QRect(100, 500, 420, 375)},
        {"at a 1.5 times larger font", {0, 0, 630, 420}, P::preferredHeight(FloatingPanelStatus::Done, {}, {}, 1.5),
         P::Side::Free, 1.5, QRect(0, 0, 630, 390)},
    };
    for (const auto& c : besideField)
        EXPECT_EQ(P::fittedFrame(c.current, c.preferred, laptop, c.side, c.scale), c.expected) << c.name;
}

} // namespace
