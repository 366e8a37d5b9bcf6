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

// The sizes at a 13 px body font. Where the desktop's font is larger, the panel's sizes grow with
// it: the functions below that use these take that factor as `scale` (1 by default), the others
// the panel's size as it is, so a line holds the same number of characters at any font.
inline constexpr double panelWidth = 420;
inline constexpr double runHeight = 280;      // show(): a run starts
inline constexpr double draftHeight = 320;    // showDraft()
inline constexpr double errorHeight = 250;    // showErrorMessage() on a hidden panel
inline constexpr double gap = 12;             // between the field and the panel
inline constexpr double pointerReach = 20;    // the line of text at the pointer, above and below it
inline constexpr double charsPerLine = 34;

// What the panel leaves free besides the field or window it is placed by, where it cannot stand
// outside them: the pointer and the line of text it is on, and the line the user works on (the
// caret's or the selection's) when the caller knows it.
struct KeepFree {
    std::optional<QPointF> pointer;
    std::optional<QRectF> line;
};

// The line of text at the pointer.
QRectF pointerLine(QPointF pointer);

// Where a panel stands against the field (or the pointer's line) it was placed by.
enum class Side { Free, AboveField, BelowField };
Side sideOf(const QRect& panel, const std::optional<QRectF>& field);

// min(max(value, lower), upper); an empty range (upper < lower) gives lower, so a screen smaller
// than the panel keeps the panel's top-left corner (close control, header) on it.
double clamped(double value, double lower, double upper);

// The usable area of the screen that holds point, else of the screen nearest to it; nothing when
// there is no screen.
std::optional<QRectF> areaFor(const QList<ScreenArea>& screens, QPointF point);

// Next to a field given by its top-left corner and size: centred over it, 12 above its top edge
// when that fits under the top of the area, else 12 below its bottom edge without sinking under
// the bottom of the area. Where neither side has the room (a field as tall as the screen) the panel
// overlaps the field: at the bottom of the area, or else where it covers nothing in keep.
QRectF frameNearElement(const QRectF& area, QPointF elementTopLeft, QSizeF elementSize, QSizeF panelSize,
                        const KeepFree& keep = {});

// Near the pointer, centred on it: just below the line of text at the pointer, else just above it,
// and clear of keep.line too where the area has the room; kept inside the area. The user's pointer
// and what it points at (a selection made with it) stay in sight.
QRectF frameNearPointer(const QRectF& area, QPointF pointer, QSizeF panelSize,
                        const std::optional<QRectF>& keepLine = std::nullopt);

// Display lines of a text at 34 characters (grapheme clusters) per line, or its line feeds when
// more, at most cap.
double estimatedLines(const QString& text, double cap);

// The height the panel wants in a status; a finished result fits its texts (260 ... 480).
double preferredHeight(FloatingPanelStatus status, const QString& originalText, const QString& optimizedText,
                       double scale = 1);

// After the final result: the frame refitted to the preferred height (clamped to 240 ... 480), or
// nothing when the height changes by 4 or less. It keeps its top and left edges and grows
// downwards, except that a panel above its field keeps its bottom edge (its gap to the field) and
// grows upwards; beside its field it grows no further than the area (when one is given) has room.
std::optional<QRect> fittedFrame(const QRect& current, double preferredHeight, const QRectF& area = {},
                                 Side side = Side::Free, double scale = 1);

// The frame at least height tall (as tall as the area at most, unless it already was taller) and
// inside the area. A panel above its field grows upwards and one below it downwards, neither
// further than the area has room on its side of the field; any other grows downwards and moves up
// where its lower edge would leave the area.
QRect grownFrame(const QRect& current, int height, const QRectF& area, Side side);

// Next to an area the panel must leave free (the window of a field that could not be read, where
// the user is to select the text): above it, below it, right or left of it, the first side where
// the whole panel fits inside the area; nothing when no side has the room.
std::optional<QRectF> frameBeside(const QRectF& area, const QRectF& keepFree, QSizeF panelSize);

// Inside a window that leaves no room beside it (a maximised one): centred on it, in its lower
// part, else its upper part, else wherever in the area the panel covers nothing in keep.
QRectF frameInside(const QRectF& area, const QRectF& window, QSizeF panelSize, const KeepFree& keep);

// Whole logical pixels for a window frame.
QRect toWindowRect(const QRectF& frame);

} // namespace PanelPlacement
} // namespace corvane::panel
