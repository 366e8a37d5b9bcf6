#pragma once
// A passive observer of every key press and release of the session (XInput2 raw events on Linux).
// It never grabs, changes or delays a key: the focused application gets every event as typed.
#include <QString>
#include <functional>

namespace corvane::platform {

struct KeyEvent {
    bool pressed = true;      // false for a release
    qint64 keyCode = -1;      // stored-shortcut key code of the key's position (49: space bar); -1 when it has none
    quint32 nativeCode = 0;   // the backend's own code (X keycode)
    bool isModifier = false;  // Shift, Ctrl, Alt, Super, AltGr, Caps Lock, Num Lock ...
    bool autoRepeat = false;  // a press of a key that is already down
    quint32 timeMs = 0;       // the server's timestamp (wraps); for ordering only
};

class KeyTap {
public:
    using Handler = std::function<void(const KeyEvent&)>;
    virtual ~KeyTap() = default;

    // Starts delivering events to handler on the main loop. Returns false when the session offers
    // no way to observe keys; lastError() then says why. Starting a running tap replaces its handler.
    virtual bool start(Handler handler) = 0;
    // Stops delivering; does nothing when stopped.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    virtual QString lastError() const = 0;
};

} // namespace corvane::platform
