#include "panel/DesktopGeometry.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace corvane::panel {

QList<ScreenArea> QtDesktopGeometry::screens() const {
    QList<ScreenArea> out;
    const auto all = QGuiApplication::screens();
    for (const QScreen* s : all)
        out.append({QRectF(s->geometry()), QRectF(s->availableGeometry())});
    return out;
}

QPointF QtDesktopGeometry::pointer() const { return QPointF(QCursor::pos()); }

} // namespace corvane::panel
