#pragma once
// Global shortcuts as passive key grabs on the root window. Every combination is grabbed four
// times, with and without Caps Lock and Num Lock, and every grab is checked: BadAccess means
// another client holds the combination.
#include "platform/HotkeyGrabber.h"
#include <array>
#include <bitset>
#include <map>
#include <optional>
#include <xcb/xcb.h>

namespace corvane::platform::linux_ {

class X11Connection;

// Which key events of grabbed keys are reported: the first press of a key and its release,
// matched by keycode alone (modifiers are often released first). Held keys repeat as further
// presses (detectable auto-repeat) or, where the server cannot do that, as a release and a press
// with the same timestamp; neither repeat is reported.
class GrabKeyTracker {
public:
    bool press(xcb_keycode_t keycode, xcb_timestamp_t time);
    bool release(xcb_keycode_t keycode, xcb_timestamp_t time);

private:
    std::bitset<256> m_down;
    std::array<xcb_timestamp_t, 256> m_lastRelease{};
};

class X11HotkeyGrabber final : public HotkeyGrabber {
public:
    explicit X11HotkeyGrabber(X11Connection& connection);
    ~X11HotkeyGrabber() override;

    void setHandler(Handler handler) override { m_handler = std::move(handler); }
    GrabStatus grab(quint32 grabId, qint64 keyCode, qint64 modifiers) override;
    void ungrab(quint32 grabId) override;

private:
    struct Grab {
        xcb_keycode_t keycode;
        uint16_t mods;
    };
    void onEvent(const xcb_generic_event_t* event);
    std::array<uint16_t, 4> lockVariants() const;
    uint16_t significantMask() const;
    void ungrabKey(const Grab& grab);

    X11Connection& m_conn;
    Handler m_handler;
    std::map<quint32, Grab> m_grabs;
    GrabKeyTracker m_tracker;
    std::map<xcb_keycode_t, quint32> m_pressedGrab; // keycode -> grab id of the press under way
    int m_listener = 0;
};

} // namespace corvane::platform::linux_
