#pragma once
// The application of the active X11 window (_NET_ACTIVE_WINDOW), on a connection of its own.
#include "platform/ActiveApp.h"
#include "platform/linux/AppIdentity.h"
#include "platform/linux/DesktopEntries.h"
#include <memory>

namespace corvane::platform::linux_ {


class X11ActiveApp final : public ActiveApp {
public:
    // displayName: nullptr for $DISPLAY. Without a display every answer is "nothing".
    explicit X11ActiveApp(const char* displayName = nullptr, DesktopEntryIndex entries = DesktopEntryIndex());
    ~X11ActiveApp() override;

    std::optional<AppInfo> frontmost() override;
    bool isActiveWindow(quint64 windowId) override;
    std::optional<QRectF> windowFrame(quint64 windowId) override;
    std::optional<QRectF> clientArea(quint64 windowId) override;

    // The active top-level window, or 0.
    quint64 activeWindow();
    // The raw properties of a window.
    std::optional<WindowFacts> windowFacts(quint64 windowId);

private:
    struct X;
    std::optional<QRectF> area(quint64 windowId, bool withFrame);
    std::unique_ptr<X> m_x;
    DesktopEntryIndex m_entries;
    std::optional<std::pair<WindowFacts, AppInfo>> m_resolved; // the last window looked up
};

} // namespace corvane::platform::linux_
