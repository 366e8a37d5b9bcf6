#include "app/StatusIcons.h"
#include "panel/CVDesign.h"
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

static void initAppIcons() { Q_INIT_RESOURCE(app_icons); }

namespace corvane::app {

using trigger::AppActivity;

QString StatusIcons::symbol(AppActivity activity) {
    switch (activity) {
    case AppActivity::Optimizing:
        return QStringLiteral("optimizing");
    case AppActivity::Done:
        return QStringLiteral("done");
    case AppActivity::Error:
        return QStringLiteral("error");
    case AppActivity::Idle:
    case AppActivity::Triggered:
        break;
    }
    return QStringLiteral("idle");
}

QColor StatusIcons::green(const QPalette& palette) {
    return panel::CVDesign::isDark(palette) ? QColor(48, 209, 88) : QColor(36, 138, 61);
}

QColor StatusIcons::tint(AppActivity activity, const QPalette& palette) {
    switch (activity) {
    case AppActivity::Done:
        return green(palette);
    case AppActivity::Error:
        return panel::CVDesign::red(palette);
    default:
        return panel::CVDesign::accent(palette);
    }
}

QIcon StatusIcons::icon(const QString& symbol, const QColor& color) {
    static const bool loaded = (initAppIcons(), true);
    Q_UNUSED(loaded);
    QSvgRenderer renderer(QStringLiteral(":/corvane/app/%1.svg").arg(symbol));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    // Tray hosts pick the size they draw: 16 to 24 px on most panels, 32 to 64 px scaled.
    for (const int px : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(px, px);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, px, px));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon StatusIcons::icon(AppActivity activity, const QPalette& palette) {
    return icon(symbol(activity), tint(activity, palette));
}

} // namespace corvane::app
