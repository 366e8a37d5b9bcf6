#pragma once
// Synthetic key commands sent to a target window (XTest on Linux).
#include <QString>

namespace corvane::platform {

enum class KeyCommand { SelectAll, Copy, Paste, CollapseSelection };

struct KeyTarget {
    quint64 windowId = 0;  // the window the run read from
    bool terminal = false; // terminal emulators get their own key combinations
};

class KeySynth {
public:
    virtual ~KeySynth() = default;
    // True while the user physically holds Ctrl, Alt, Shift or Super.
    virtual bool modifiersHeld() = 0;
    // Posts the command's key-down and key-up. Returns false (and sends nothing) when the
    // target window is not the active window, or the command has no mapping for the target.
    virtual bool send(KeyCommand command, const KeyTarget& target) = 0;
};

} // namespace corvane::platform
