#pragma once
// Plain helpers for the AT-SPI wire data: state sets and screen coordinates.
#include <QList>
#include <QRect>
#include <QRectF>
#include <QStringList>

namespace corvane::platform::linux_::atspi {

// Bit numbers of the AT-SPI state set (two 32-bit words on the wire).
enum State : int {
    Active = 1,
    Editable = 7,
    Focused = 12,
    MultiLine = 17,
    Showing = 25,
    SingleLine = 26,
    Defunct = 6,
    ManagesDescendants = 31,
    ReadOnly = 43,
};

bool hasState(const QList<uint>& words, int bit);
// The names of every set bit, in bit order ("focused", "multi-line", ...). Unknown bits are skipped.
QStringList stateNames(const QList<uint>& words);

struct ScreenGeometry {
    QRect logical;      // QScreen::geometry()
    qreal devicePixelRatio = 1;
};

// Converts a rectangle in device pixels of the whole X screen into Qt global logical
// coordinates: the screen that holds the rectangle's top-left corner keeps its origin and
// scales the offset from it by its device pixel ratio. Without screens the rectangle stays as is.
QRectF toLogical(const QRect& native, const QList<ScreenGeometry>& screens);

} // namespace corvane::platform::linux_::atspi
