#pragma once
// Where the floating panel stands and how tall it is. Pure functions in Qt's global logical
// coordinates (origin top-left, y down); no widgets, no screens are read here.
#include "panel/FloatingPanelStatus.h"
#include <QList>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>

namespace corvane::panel {

// One monitor: its whole geometry and the part that windows may use (without panels and docks).
struct ScreenArea {
    QRectF geometry;
    QRectF available;
};

namespace PanelPlacement {

inline constexpr double panelWidth = 420;
inline constexpr double runHeight = 280;      // show(): a run starts
inline constexpr double draftHeight = 320;    // showDraft()
inline constexpr double errorHeight = 250;    // showErrorMessage() on a hidden panel
inline constexpr double gap = 12;             // between the field and the panel
inline constexpr double pointerDrop = 40;     // the panel's lower edge below the pointer
inline constexpr double charsPerLine = 34;

// min(max(value, lower), upper); an empty range (upper < lower) gives lower, so a screen smaller
// than the panel keeps the panel's top-left corner (close control, header) on it.
double clamped(double value, double lower, double upper);

// The usable area of the screen that holds point, else of the screen nearest to it; nothing when
// there is no screen.
std::optional<QRectF> areaFor(const QList<ScreenArea>& screens, QPointF point);

// Next to a field given by its top-left corner and size: centred over it, 12 above its top edge
// when that fits under the top of the area, else 12 below its bottom edge without sinking under
// the bottom of the area.
QRectF frameNearElement(const QRectF& area, QPointF elementTopLeft, QSizeF elementSize, QSizeF panelSize);

// Near the pointer: centred on it, the lower edge 40 below it, kept inside the area.
QRectF frameNearPointer(const QRectF& area, QPointF pointer, QSizeF panelSize);

// Display lines of a text at 34 characters (grapheme clusters) per line, or its line feeds when
// more, at most cap.
double estimatedLines(const QString& text, double cap);

// The height the panel wants in a status; a finished result fits its texts (260 ... 480).
double preferredHeight(FloatingPanelStatus status, const QString& originalText, const QString& optimizedText);

// After the final result: the frame refitted to the preferred height (clamped to 240 ... 480),
// keeping the top and left edges, or nothing when the height changes by 4 or less.
std::optional<QRect> fittedFrame(const QRect& current, double preferredHeight);

// The frame at least height tall (as tall as the area at most, unless it already was taller) and
// inside the area: it grows upwards when keepBottom (a panel above its field keeps its gap to it),
// else downwards, and moves up where its lower edge would leave the area.
QRect grownFrame(const QRect& current, int height, const QRectF& area, bool keepBottom);

// Next to an area the panel must leave free (the window of a field that could not be read, where
// the user is to select the text): above it, below it, right or left of it, the first side where
// the whole panel fits inside the area; nothing when no side has the room.
std::optional<QRectF> frameBeside(const QRectF& area, const QRectF& keepFree, QSizeF panelSize);

// Whole logical pixels for a window frame.
QRect toWindowRect(const QRectF& frame);

} // namespace PanelPlacement
} // namespace corvane::panel
