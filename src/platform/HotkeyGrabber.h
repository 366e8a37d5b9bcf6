#pragma once
// System-wide shortcut grabs (XGrabKey on the root window on Linux).
#include <QtGlobal>
#include <functional>

namespace corvane::platform {

enum class GrabStatus {
    Grabbed,     // active: presses arrive through the handler
    Taken,       // another application holds this combination
    UnknownKey,  // the key code names no key of the current keyboard
    Unavailable, // no session to grab in (no display, connection lost)
};

class HotkeyGrabber {
public:
    // grabId is the caller's; pressed is false for the release. Auto-repeat presses never arrive.
    using Handler = std::function<void(quint32 grabId, bool pressed)>;
    virtual ~HotkeyGrabber() = default;

    // The handler runs on the main loop.
    virtual void setHandler(Handler handler) = 0;
    // Grabs the stored key code with the stored modifier bits (only the four of keys::ModMask count),
    // whatever the state of Caps Lock and Num Lock. Re-using a live grabId replaces its grab.
    virtual GrabStatus grab(quint32 grabId, qint64 keyCode, qint64 modifiers) = 0;
    // Releases one grab; unknown ids are ignored.
    virtual void ungrab(quint32 grabId) = 0;
};

} // namespace corvane::platform
