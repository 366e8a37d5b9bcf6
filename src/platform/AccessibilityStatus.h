#pragma once
// Whether this session lets Corvane watch keys, send keys and reach other apps' fields.
// The backend reports raw facts; what they mean for the user is decided above this layer.
#include <QObject>
#include <QString>

namespace corvane::platform {

struct AccessibilityFacts {
    bool waylandSession = false;  // the session is Wayland (an X display may still be reachable)
    bool x11Display = false;      // an X display answers
    bool xinput2 = false;         // the display has XInput 2.x (key watching)
    bool xtest = false;           // the display has XTest (synthetic keys)
    bool busReachable = false;    // the accessibility bus gave an address that accepts a connection
    bool enabled = false;         // accessibility is switched on for the session
    QString busError;             // why the bus could not be reached, as the bus reported it

    bool operator==(const AccessibilityFacts&) const = default;
};

class AccessibilityStatus : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AccessibilityStatus() override = default;

    // Asks the session afresh; bounded in time, never blocks on an unresponsive bus.
    virtual AccessibilityFacts facts() = 0;
    // Switches accessibility on for this session and for sessions to come. Does not wait for the
    // apps to follow. False when nothing could be switched.
    virtual bool enable() = 0;
    // Opens the desktop's accessibility settings. False when no settings tool is known here.
    virtual bool openSettings() = 0;

Q_SIGNALS:
    // Something the facts depend on changed (the enabled switch, the bus coming or going).
    void changed();
};

} // namespace corvane::platform
