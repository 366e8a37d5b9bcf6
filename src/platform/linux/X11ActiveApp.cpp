#include "platform/linux/X11ActiveApp.h"
#include "platform/linux/AppIdentity.h"
#include "platform/linux/AtspiTypes.h"
#include <QLocale>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace corvane::platform::linux_ {

namespace {
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;
} // namespace

struct X11ActiveApp::X {
    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t activeWindow = 0, wmPid = 0, gtkAppId = 0, utf8 = 0, frameExtents = 0;

    ~X() {
        if (conn)
            xcb_disconnect(conn);
    }

    xcb_atom_t atom(const char* name) {
        auto cookie = xcb_intern_atom(conn, 0, uint16_t(qstrlen(name)), name);
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(conn, cookie, nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // Asks for a property; its answer is read with property(cookie, ...). Several questions may be
    // asked before the first answer is read: they share one round trip.
    xcb_get_property_cookie_t ask(xcb_window_t window, xcb_atom_t prop, xcb_atom_t type) {
        if (!conn || window == 0 || prop == XCB_ATOM_NONE)
            return {0};
        return xcb_get_property(conn, 0, window, prop, type, 0, 16384);
    }

    // The property's bytes, at most 64 KiB; nothing when absent or of another format.
    std::optional<QByteArray> property(xcb_window_t window, xcb_atom_t prop, xcb_atom_t type, uint8_t format) {
        return property(ask(window, prop, type), format);
    }

    std::optional<QByteArray> property(xcb_get_property_cookie_t cookie, uint8_t format) {
        if (cookie.sequence == 0)
            return std::nullopt;
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(conn, cookie, nullptr));
        if (!reply || reply->type == XCB_ATOM_NONE || reply->format != format)
            return std::nullopt;
        const int length = xcb_get_property_value_length(reply.get());
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
    }

    std::optional<quint32> cardinal(xcb_window_t window, xcb_atom_t prop, xcb_atom_t type) {
        return cardinal(ask(window, prop, type));
    }

    std::optional<quint32> cardinal(xcb_get_property_cookie_t cookie) {
        auto bytes = property(cookie, 32);
        if (!bytes || bytes->size() < 4)
            return std::nullopt;
        quint32 value = 0;
        std::memcpy(&value, bytes->constData(), 4);
        return value;
    }
};

X11ActiveApp::X11ActiveApp(const char* displayName, DesktopEntryIndex entries)
    : m_x(std::make_unique<X>()), m_entries(std::move(entries)) {
    int screenNumber = 0;
    xcb_connection_t* conn = xcb_connect(displayName, &screenNumber);
    if (!conn || xcb_connection_has_error(conn)) {
        if (conn)
            xcb_disconnect(conn);
        return;
    }
    m_x->conn = conn;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    m_x->root = it.rem ? it.data->root : 0;
    m_x->activeWindow = m_x->atom("_NET_ACTIVE_WINDOW");
    m_x->wmPid = m_x->atom("_NET_WM_PID");
    m_x->gtkAppId = m_x->atom("_GTK_APPLICATION_ID");
    m_x->utf8 = m_x->atom("UTF8_STRING");
    m_x->frameExtents = m_x->atom("_NET_FRAME_EXTENTS");
}

X11ActiveApp::~X11ActiveApp() = default;

quint64 X11ActiveApp::activeWindow() {
    if (!m_x->conn || xcb_connection_has_error(m_x->conn))
        return 0;
    return m_x->cardinal(m_x->root, m_x->activeWindow, XCB_ATOM_WINDOW).value_or(0);
}

std::optional<WindowFacts> X11ActiveApp::windowFacts(quint64 windowId) {
    if (!m_x->conn || windowId == 0 || xcb_connection_has_error(m_x->conn))
        return std::nullopt;
    const auto window = xcb_window_t(windowId);
    WindowFacts facts;
    facts.windowId = windowId;
    const auto pid = m_x->ask(window, m_x->wmPid, XCB_ATOM_CARDINAL);
    const auto gtkAppId = m_x->ask(window, m_x->gtkAppId, m_x->utf8);
    const auto wmClass = m_x->ask(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    facts.pid = m_x->cardinal(pid).value_or(0);
    if (auto id = m_x->property(gtkAppId, 8))
        facts.gtkApplicationId = QString::fromUtf8(*id).trimmed();
    if (auto cls = m_x->property(wmClass, 8)) {
        const QList<QByteArray> parts = cls->split('\0');
        facts.wmInstance = parts.value(0).isEmpty() ? QString() : QString::fromLatin1(parts.value(0));
        facts.wmClass = parts.value(1).isEmpty() ? QString() : QString::fromLatin1(parts.value(1));
    }
    return facts;
}

std::optional<AppInfo> X11ActiveApp::frontmost() {
    const quint64 window = activeWindow();
    if (window == 0)
        return std::nullopt;
    auto facts = windowFacts(window);
    if (!facts)
        return std::nullopt;
    // A window keeps its owner: the process, sandbox and desktop files are looked at once per window.
    if (m_resolved && m_resolved->first == *facts)
        return m_resolved->second;
    AppInfo info = resolveApp(*facts, readSandbox(facts->pid), m_entries, QLocale::system().name());
    m_resolved = std::make_pair(*facts, info);
    return info;
}

bool X11ActiveApp::isActiveWindow(quint64 windowId) { return windowId != 0 && activeWindow() == windowId; }

std::optional<QRectF> X11ActiveApp::windowFrame(quint64 windowId) { return area(windowId, true); }

std::optional<QRectF> X11ActiveApp::clientArea(quint64 windowId) { return area(windowId, false); }

std::optional<QRectF> X11ActiveApp::area(quint64 windowId, bool withFrame) {
    if (!m_x->conn || windowId == 0 || xcb_connection_has_error(m_x->conn))
        return std::nullopt;
    const auto window = xcb_window_t(windowId);
    // The questions share one round trip.
    const auto geometryCookie = xcb_get_geometry(m_x->conn, window);
    const auto placeCookie = xcb_translate_coordinates(m_x->conn, window, m_x->root, 0, 0);
    const auto extentsCookie =
        withFrame ? m_x->ask(window, m_x->frameExtents, XCB_ATOM_CARDINAL) : xcb_get_property_cookie_t{0};
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(m_x->conn, geometryCookie, nullptr));
    XcbReply<xcb_translate_coordinates_reply_t> place(
        xcb_translate_coordinates_reply(m_x->conn, placeCookie, nullptr));
    const auto extents = m_x->property(extentsCookie, 32);
    if (!geometry || !place)
        return std::nullopt;
    QRect frame(place->dst_x, place->dst_y, geometry->width, geometry->height);
    // With the window manager's frame (title bar and borders): left, right, top, bottom.
    if (extents && extents->size() >= 16) {
        quint32 edge[4] = {};
        std::memcpy(edge, extents->constData(), sizeof edge);
        frame.adjust(-int(edge[0]), -int(edge[2]), int(edge[1]), int(edge[3]));
    }
    // In the X server's pixels; the screens' scale makes them Qt's logical coordinates.
    return atspi::toLogical(frame, atspi::screenGeometries());
}

} // namespace corvane::platform::linux_
