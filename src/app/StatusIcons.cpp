#include "app/StatusIcons.h"
#include "panel/CVDesign.h"
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

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
    return panel::CVDesign::isDark(palette) ? QColor(48, 209, 88) : QColor(24, 110, 46);
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

namespace {

// Draws the symbol at the size asked for, in one colour (in its own without a valid one), once per
// size: a tray on a HiDPI screen gets it crisp at its own size, and start-up draws only the size the
// tray shows rather than every size it might.
class TintedSymbolEngine final : public QIconEngine {
public:
    TintedSymbolEngine(std::shared_ptr<QSvgRenderer> renderer, QColor color)
        : m_renderer(std::move(renderer)), m_color(color) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (size.isEmpty())
            return {};
        for (const QPixmap& drawn : std::as_const(m_drawn))
            if (drawn.size() == size)
                return drawn;
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        m_renderer->render(&painter, QRectF(QPointF(0, 0), size));
        if (m_color.isValid()) {
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), m_color);
        }
        painter.end();
        m_drawn.append(pixmap);
        return pixmap;
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    // Tray hosts pick the size they draw: 16 to 24 px on most panels, 32 to 64 px scaled.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const int px : {16, 22, 24, 32, 48, 64})
            sizes.append(QSize(px, px));
        return sizes;
    }
    QString key() const override { return QStringLiteral("corvane-tinted-symbol"); }
    QIconEngine* clone() const override { return new TintedSymbolEngine(m_renderer, m_color); }

private:
    std::shared_ptr<QSvgRenderer> m_renderer;
    QColor m_color;
    QList<QPixmap> m_drawn;
};

} // namespace

QIcon StatusIcons::applicationIcon() { return icon(QStringLiteral("corvane"), QColor()); }

QIcon StatusIcons::icon(const QString& symbol, const QColor& color) {
    static const bool loaded = (initAppIcons(), true);
    Q_UNUSED(loaded);
    auto renderer = std::make_shared<QSvgRenderer>(QStringLiteral(":/corvane/app/%1.svg").arg(symbol));
    if (!renderer->isValid())
        return {};
    return QIcon(new TintedSymbolEngine(std::move(renderer), color));
}

QIcon StatusIcons::icon(AppActivity activity, const QPalette& palette) {
    return icon(symbol(activity), tint(activity, palette));
}

} // namespace corvane::app
