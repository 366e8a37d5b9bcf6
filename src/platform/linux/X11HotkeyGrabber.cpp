#include "platform/linux/X11HotkeyGrabber.h"
#include "platform/RunTrace.h"
#include "platform/VirtualKeys.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/XkbKeyNames.h"
#include "platform/linux/XkbKeyboard.h"
#include <cstdlib>
#include <vector>

namespace corvane::platform::linux_ {

namespace runtrace = platform::runtrace;

namespace {
constexpr uint8_t kBadAccess = 10;
}

bool GrabKeyTracker::press(xcb_keycode_t keycode, xcb_timestamp_t time) {
    if (m_down.test(keycode))
        return false;
    m_down.set(keycode);
    return !(time != 0 && m_lastRelease[keycode] == time);
}

bool GrabKeyTracker::release(xcb_keycode_t keycode, xcb_timestamp_t time) {
    m_lastRelease[keycode] = time;
    if (!m_down.test(keycode))
        return false;
    m_down.reset(keycode);
    return true;
}

X11HotkeyGrabber::X11HotkeyGrabber(X11Connection& connection) : m_conn(connection) {
    m_listener = m_conn.addListener([this](const xcb_generic_event_t* e) { onEvent(e); });
}

X11HotkeyGrabber::~X11HotkeyGrabber() {
    m_conn.removeListener(m_listener);
    for (const auto& [id, g] : m_grabs)
        ungrabKey(g);
    if (m_conn.isOpen())
        xcb_flush(m_conn.xcb());
}

std::array<uint16_t, 4> X11HotkeyGrabber::lockVariants() const {
    const uint16_t num = m_conn.keyboard() ? m_conn.keyboard()->numLockMask() : uint16_t{XCB_MOD_MASK_2};
    return {0, XCB_MOD_MASK_LOCK, num, uint16_t(XCB_MOD_MASK_LOCK | num)};
}

uint16_t X11HotkeyGrabber::significantMask() const {
    const XkbKeyboard* kb = m_conn.keyboard();
    const uint16_t alt = kb ? kb->altMask() : uint16_t{XCB_MOD_MASK_1};
    const uint16_t super = kb ? kb->superMask() : uint16_t{XCB_MOD_MASK_4};
    return uint16_t(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | alt | super);
}

GrabStatus X11HotkeyGrabber::grab(quint32 grabId, qint64 keyCode, qint64 modifiers) {
    ungrab(grabId);
    if (!m_conn.isOpen() || !m_conn.keyboard())
        return GrabStatus::Unavailable;
    XkbKeyboard& kb = *m_conn.keyboard();
    const auto keycode = kb.keycodeForName(xkbKeyName(keyCode));
    if (!keycode)
        return GrabStatus::UnknownKey;

    // Stored bits map one to one: Control, Option = Alt, Shift, Command = Super.
    uint16_t mods = 0;
    if (modifiers & keys::ModControl)
        mods |= XCB_MOD_MASK_CONTROL;
    if (modifiers & keys::ModOption)
        mods |= kb.altMask();
    if (modifiers & keys::ModShift)
        mods |= XCB_MOD_MASK_SHIFT;
    if (modifiers & keys::ModCommand)
        mods |= kb.superMask();
    const Grab wanted{*keycode, mods};

    // The server lets one client grab a combination twice; the second would silently share it.
    for (const auto& [id, g] : m_grabs)
        if (g.keycode == wanted.keycode && g.mods == wanted.mods)
            return GrabStatus::Taken;

    xcb_connection_t* c = m_conn.xcb();
    const auto variants = lockVariants();
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t v : variants)
        cookies.push_back(xcb_grab_key_checked(c, 1, m_conn.root(), uint16_t(mods | v), wanted.keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool taken = false, failed = false;
    std::vector<uint16_t> held;
    for (size_t i = 0; i < cookies.size(); ++i) {
        xcb_generic_error_t* error = xcb_request_check(c, cookies[i]);
        if (!error)
            held.push_back(variants[i]);
        else if (error->error_code == kBadAccess)
            taken = true;
        else
            failed = true;
        free(error);
    }
    m_conn.dispatchQueuedSoon();
    if (taken || failed) {
        for (uint16_t v : held)
            xcb_ungrab_key(c, wanted.keycode, m_conn.root(), uint16_t(mods | v));
        xcb_flush(c);
        if (!m_conn.isOpen())
            return GrabStatus::Unavailable;
        return taken ? GrabStatus::Taken : GrabStatus::UnknownKey;
    }
    m_grabs[grabId] = wanted;
    return GrabStatus::Grabbed;
}

void X11HotkeyGrabber::ungrab(quint32 grabId) {
    auto it = m_grabs.find(grabId);
    if (it == m_grabs.end())
        return;
    ungrabKey(it->second);
    m_grabs.erase(it);
    if (m_conn.isOpen())
        xcb_flush(m_conn.xcb());
}

void X11HotkeyGrabber::ungrabKey(const Grab& grab) {
    if (!m_conn.isOpen())
        return;
    for (uint16_t v : lockVariants())
        xcb_ungrab_key(m_conn.xcb(), grab.keycode, m_conn.root(), uint16_t(grab.mods | v));
}

void X11HotkeyGrabber::onEvent(const xcb_generic_event_t* event) {
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    if (type == XCB_KEY_PRESS) {
        const uint16_t mods = key->state & significantMask();
        std::optional<quint32> id;
        for (const auto& [gid, g] : m_grabs)
            if (g.keycode == key->detail && g.mods == mods)
                id = gid;
        if (!m_tracker.press(key->detail, key->time) || !id)
            return;
        m_pressedGrab[key->detail] = *id;
        if (m_handler)
            m_handler(*id, true);
        return;
    }
    if (!m_tracker.release(key->detail, key->time))
        return;
    auto it = m_pressedGrab.find(key->detail);
    if (it == m_pressedGrab.end())
        return;
    const quint32 id = it->second;
    m_pressedGrab.erase(it);
    runtrace::mark("key");
    if (m_handler)
        m_handler(id, false);
}

} // namespace corvane::platform::linux_
