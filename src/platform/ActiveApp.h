#pragma once
// The application whose window is active ("frontmost").
#include <QRectF>
#include <QString>
#include <optional>

namespace corvane::platform {

struct AppInfo {
    QString appId;        // Flatpak/Snap id, else desktop-file id, else WM_CLASS class
    QString displayName;  // from the desktop file; empty when unknown
    qint64 pid = 0;
    quint64 windowId = 0; // the active top-level window
};

class ActiveApp {
public:
    virtual ~ActiveApp() = default;
    virtual std::optional<AppInfo> frontmost() = 0;
    // Whether the given top-level window still exists and is the active one.
    virtual bool isActiveWindow(quint64 windowId) = 0;
    // Where the top-level window lies on the screen, in Qt global logical coordinates; nothing when
    // unknown.
    virtual std::optional<QRectF> windowFrame(quint64 windowId) {
        Q_UNUSED(windowId);
        return std::nullopt;
    }
    // The window's own area, without the window manager's frame: where the coordinates that a
    // toolkit gives relative to its window start. Nothing when unknown.
    virtual std::optional<QRectF> clientArea(quint64 windowId) {
        Q_UNUSED(windowId);
        return std::nullopt;
    }
};

} // namespace corvane::platform
