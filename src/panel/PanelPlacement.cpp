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

QRectF frameNearElement(const QRectF& area, QPointF elementTopLeft, QSizeF elementSize, QSizeF panelSize) {
    const double w = panelSize.width();
    const double h = panelSize.height();
    const double areaTop = area.top();
    const double areaBottom = area.top() + area.height();
    const double areaRight = area.left() + area.width();

    const double x = clamped(elementTopLeft.x() + elementSize.width() / 2 - w / 2, area.left(), areaRight - w);

    const double yAbove = elementTopLeft.y() - gap - h;
    const double yBelow = elementTopLeft.y() + elementSize.height() + gap;
    double y = yAbove;
    if (yAbove < areaTop) {
        y = std::min(areaBottom - h, yBelow);
        // An area lower than the panel: keep the header on the screen.
        if (areaBottom - h < areaTop)
            y = std::max(y, areaTop);
    }
    return {x, y, w, h};
}

QRectF frameNearPointer(const QRectF& area, QPointF pointer, QSizeF panelSize) {
    const double w = panelSize.width();
    const double h = panelSize.height();
    const double x = clamped(pointer.x() - w / 2, area.left(), area.left() + area.width() - w);
    // The lower edge lies 40 below the pointer.
    const double y = clamped(pointer.y() + pointerDrop - h, area.top(), area.top() + area.height() - h);
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

double preferredHeight(FloatingPanelStatus status, const QString& originalText, const QString& optimizedText) {
    switch (status) {
    case FloatingPanelStatus::Drafting:
        return draftHeight;
    case FloatingPanelStatus::Optimizing:
        return runHeight;
    case FloatingPanelStatus::Error:
        return errorHeight;
    case FloatingPanelStatus::Done:
        break;
    }
    const double h = 118 + 18 * estimatedLines(originalText, 4) + 18 * estimatedLines(optimizedText, 14);
    return clamped(h, 260, 480);
}

std::optional<QRect> fittedFrame(const QRect& current, double preferred) {
    const double target = clamped(preferred, 240, 480);
    if (std::abs(current.height() - target) <= 4)
        return std::nullopt;
    return QRect(current.left(), current.top(), int(panelWidth), qRound(target));
}

QRect grownFrame(const QRect& current, int height, const QRectF& area, bool keepBottom) {
    double h = std::max(current.height(), height);
    if (h > area.height())
        h = std::max(double(current.height()), area.height());
    const double bottom = current.top() + current.height();
    const double top = clamped(keepBottom ? bottom - h : current.top(), area.top(), area.top() + area.height() - h);
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

QRect toWindowRect(const QRectF& frame) {
    return QRect(qRound(frame.x()), qRound(frame.y()), qRound(frame.width()), qRound(frame.height()));
}

} // namespace corvane::panel::PanelPlacement
