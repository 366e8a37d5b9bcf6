#pragma once
// The tray icon for each activity: bundled SVG symbols, drawn in the accent colour, done in green
// and error in red, all taken from the palette's light or dark variant.
#include "trigger/AppActivity.h"
#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QString>

namespace corvane::app {

class StatusIcons {
public:
    StatusIcons() = delete;

    // The bundled symbol ("idle", "optimizing", "done", "error") an activity shows.
    static QString symbol(trigger::AppActivity activity);
    // Its colour under the palette.
    static QColor tint(trigger::AppActivity activity, const QPalette& palette);
    static QColor green(const QPalette& palette);
    // A bundled symbol drawn in one colour at the size asked for; a null icon for an unknown symbol.
    static QIcon icon(const QString& symbol, const QColor& color);
    static QIcon icon(trigger::AppActivity activity, const QPalette& palette);
    // The application's own icon, as the launcher shows it: a coloured tile with a light glyph that
    // reads on light and dark menus alike (the tray keeps its one-colour symbols).
    static QIcon applicationIcon();
};

} // namespace corvane::app
