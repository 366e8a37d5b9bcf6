#pragma once
// The monitors and the pointer, as the panel's placement needs them. QtDesktopGeometry reads them
// from Qt; tests give fixed layouts.
#include "panel/PanelPlacement.h"
#include <QList>
#include <QPointF>

namespace corvane::panel {

class DesktopGeometry {
public:
    virtual ~DesktopGeometry() = default;
    // Every monitor in Qt's global logical coordinates; empty when there is none.
    virtual QList<ScreenArea> screens() const = 0;
    virtual QPointF pointer() const = 0;
};

class QtDesktopGeometry final : public DesktopGeometry {
public:
    QList<ScreenArea> screens() const override;
    QPointF pointer() const override;
};

} // namespace corvane::panel
