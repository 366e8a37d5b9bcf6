#include "panel/PanelPlacement.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane::panel::PanelPlacement {

double clamped(double value, double lower, double upper) {
    if (upper < lower)
        return lower;
    return std::min(std::max(value, lower), upper);
}

namespace {
double distanceTo(const QRectF& r, QPointF p) {
    const double dx = std::max({r.left() - p.x(), 0.0, p.x() - r.right()});
    const double dy = std::max({r.top() - p.y(), 0.0, p.y() - r.bottom()});
    return std::hypot(dx, dy);
}

// A stretch of the screen's height the panel must not cover.
struct Band {
    double top;
    double bottom;
};

// The pointer's line comes first: it is what stays free when not everything can.
QList<Band> bandsOf(const KeepFree& keep) {
    QList<Band> bands;
    if (keep.pointer) {
        const QRectF line = pointerLine(*keep.pointer);
        bands.append({line.top(), line.top() + line.height()});
    }
    if (keep.line)
        bands.append({keep.line->top(), keep.line->top() + keep.line->height()});
    return bands;
}

// The first top edge, of the preferred ones and then of those just above and below each band, at
// which a panel h tall lies inside the area and covers none of the bands; failing that, the same
// for the first band alone; failing that, nothing.
std::optional<double> clearTop(const QRectF& area, double h, std::initializer_list<double> preferred,
                               const QList<Band>& bands) {
    const double areaBottom = area.top() + area.height();
    for (const qsizetype count : {bands.size(), qsizetype(1)}) {
        const QList<Band> kept = bands.first(std::min(count, bands.size()));
        QList<double> tops(preferred);
        for (const Band& b : kept)
            tops << b.bottom + gap << b.top - gap - h;
        for (const double top : tops) {
            const bool covers = std::any_of(kept.begin(), kept.end(),
                                            [&](const Band& b) { return top < b.bottom && top + h > b.top; });
            if (top >= area.top() && top + h <= areaBottom && !covers)
                return top;
        }
    }
    return std::nullopt;
}

// The number of characters of text, counted no further than limit: the walk stops there, so a
// long text costs no more than the lines that can be shown.
qsizetype graphemeCount(const QString& text, qsizetype limit) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (count < limit && finder.toNextBoundary() != -1)
        ++count;
    return count;
}
} // namespace

std::optional<QRectF> areaFor(const QList<ScreenArea>& screens, QPointF point) {
    const ScreenArea* best = nullptr;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const ScreenArea& s : screens) {
        // A point on the shared edge of two monitors belongs to the one it starts.
        const bool inside = point.x() >= s.geometry.left() && point.x() < s.geometry.left() + s.geometry.width() &&
                            point.y() >= s.geometry.top() && point.y() < s.geometry.top() + s.geometry.height();
        if (inside)
            return s.available;
        const double d = distanceTo(s.geometry, point);
        if (d < bestDistance) {
            bestDistance = d;
            best = &s;
        }
    }
    if (!best)
        return std::nullopt;
    return best->available;
}

QRectF pointerLine(QPointF pointer) {
    return {pointer.x(), pointer.y() - pointerReach, 0, 2 * pointerReach};
}

Side sideOf(const QRect& panel, const std::optional<QRectF>& field) {
    if (!field)
        return Side::Free;
    if (panel.top() + panel.height() <= field->top())
        return Side::AboveField;
    if (panel.top() >= field->top() + field->height())
        return Side::BelowField;
    return Side::Free;
}

QRectF frameNearElement(const QRectF& area, QPointF elementTopLeft, QSizeF elementSize, QSizeF panelSize,
                        const KeepFree& keep) {
    const double w = panelSize.width();
    const double h = panelSize.height();
    const double areaTop = area.top();
    const double areaBottom = area.top() + area.height();
    const double areaRight = area.left() + area.width();

    const double x = clamped(elementTopLeft.x() + elementSize.width() / 2 - w / 2, area.left(), areaRight - w);

    const double yAbove = elementTopLeft.y() - gap - h;
    const double yBelow = elementTopLeft.y() + elementSize.height() + gap;
    if (yAbove >= areaTop)
        return {x, yAbove, w, h};
    double y = std::min(areaBottom - h, yBelow);
    if (areaBottom - h < areaTop) {
        // An area lower than the panel: keep the header on the screen.
        y = std::max(y, areaTop);
    } else if (y < yBelow) {
        // Over the field: the bottom of the area, unless that hides the pointer or the user's line.
        if (const auto clear = clearTop(area, h, {y, areaTop}, bandsOf(keep)))
            y = *clear;
    }
    return {x, y, w, h};
}

QRectF frameNearPointer(const QRectF& area, QPointF pointer, QSizeF panelSize, const std::optional<QRectF>& keepLine) {
    const double w = panelSize.width();
    const double h = panelSize.height();
    const double x = clamped(pointer.x() - w / 2, area.left(), area.left() + area.width() - w);
    const double below = pointer.y() + pointerReach + gap;
    const double above = pointer.y() - pointerReach - gap - h;
    const auto clear = clearTop(area, h, {below, above}, bandsOf({pointer, keepLine}));
    // A screen too low for the panel beside the pointer's line: below it as far as it fits.
    const double y = clear ? *clear : clamped(below, area.top(), area.top() + area.height() - h);
    return {x, y, w, h};
}

double estimatedLines(const QString& text, double cap) {
    if (text.isEmpty())
        return 0;
    // Past cap lines the exact count makes no difference.
    const auto limit = qsizetype(std::ceil(cap * charsPerLine));
    const double wrapped = std::ceil(double(graphemeCount(text, limit)) / charsPerLine);
    const double breaks = text.count(QLatin1Char('\n'));
    return std::min(std::max(wrapped, breaks), cap);
}

double preferredHeight(FloatingPanelStatus status, const QString& originalText, const QString& optimizedText,
                       double scale) {
    switch (status) {
    case FloatingPanelStatus::Drafting:
        return draftHeight * scale;
    case FloatingPanelStatus::Optimizing:
        return runHeight * scale;
    case FloatingPanelStatus::Error:
        return errorHeight * scale;
    case FloatingPanelStatus::Done:
        break;
    }
    const double h = 118 + 18 * estimatedLines(originalText, 4) + 18 * estimatedLines(optimizedText, 14);
    return clamped(h, 260, 480) * scale;
}

namespace {
// How tall a panel may grow on its side of its field: up to the top of the area above it, down to
// the bottom below it; the whole area otherwise.
double roomOnItsSide(const QRect& current, const QRectF& area, Side side) {
    switch (side) {
    case Side::AboveField:
        return current.top() + current.height() - area.top();
    case Side::BelowField:
        return area.top() + area.height() - current.top();
    case Side::Free:
        break;
    }
    return area.height();
}
} // namespace

std::optional<QRect> fittedFrame(const QRect& current, double preferred, const QRectF& area, Side side,
                                 double scale) {
    double target = clamped(preferred, 240 * scale, 480 * scale);
    if (std::abs(current.height() - target) <= 4)
        return std::nullopt;
    if (side != Side::Free && !area.isEmpty())
        target = std::min(target, std::max<double>(current.height(), roomOnItsSide(current, area, side)));
    const int h = qRound(target);
    const int top = side == Side::AboveField ? current.top() + current.height() - h : current.top();
    const QRect frame(current.left(), top, qRound(panelWidth * scale), h);
    if (frame == current)
        return std::nullopt;
    return frame;
}

QRect grownFrame(const QRect& current, int height, const QRectF& area, Side side) {
    double h = std::max(current.height(), height);
    const double room = roomOnItsSide(current, area, side);
    if (h > room)
        h = std::max(double(current.height()), room);
    const double bottom = current.top() + current.height();
    const double top = clamped(side == Side::AboveField ? bottom - h : current.top(), area.top(),
                               area.top() + area.height() - h);
    return QRect(current.left(), qRound(top), current.width(), qRound(h));
}

std::optional<QRectF> frameBeside(const QRectF& area, const QRectF& keepFree, QSizeF panelSize) {
    const double w = panelSize.width();
    const double h = panelSize.height();
    const double areaRight = area.left() + area.width();
    const double areaBottom = area.top() + area.height();
    const double centredX = clamped(keepFree.center().x() - w / 2, area.left(), areaRight - w);
    const double alignedY = clamped(keepFree.top(), area.top(), areaBottom - h);
    const QRectF candidates[] = {
        {centredX, keepFree.top() - gap - h, w, h},
        {centredX, keepFree.top() + keepFree.height() + gap, w, h},
        {keepFree.left() + keepFree.width() + gap, alignedY, w, h},
        {keepFree.left() - gap - w, alignedY, w, h},
    };
    for (const QRectF& frame : candidates) {
        const bool inside = frame.left() >= area.left() && frame.top() >= area.top() &&
                            frame.left() + w <= areaRight && frame.top() + h <= areaBottom;
        if (inside)
            return frame;
    }
    return std::nullopt;
}

QRectF frameInside(const QRectF& area, const QRectF& window, QSizeF panelSize, const KeepFree& keep) {
    const double w = panelSize.width();
    const double h = panelSize.height();
    const QRectF onScreen = window.intersected(area);
    const QRectF region = onScreen.isEmpty() ? area : onScreen;
    const double x = clamped(region.center().x() - w / 2, area.left(), area.left() + area.width() - w);
    const double lower = region.top() + region.height() - gap - h;
    const double upper = region.top() + gap;
    const auto clear = clearTop(area, h, {lower, upper}, bandsOf(keep));
    const double y = clear ? *clear : clamped(lower, area.top(), area.top() + area.height() - h);
    return {x, y, w, h};
}

QRect toWindowRect(const QRectF& frame) {
    return QRect(qRound(frame.x()), qRound(frame.y()), qRound(frame.width()), qRound(frame.height()));
}

} // namespace corvane::panel::PanelPlacement
