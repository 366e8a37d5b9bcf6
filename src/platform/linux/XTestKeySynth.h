#pragma once
// Synthetic key commands through XTest. A command goes only to the window a run read from, and
// only while that window is the active one. Waiting for the user's own modifiers to come up is
// the caller's job (modifiersHeld()): XTest keys combine with keys still held.
#include "platform/KeySynth.h"
#include <QList>
#include <optional>
#include <xkbcommon/xkbcommon.h>

namespace corvane::platform::linux_ {

class X11Connection;

class XTestKeySynth final : public KeySynth {
public:
    // Modifier keysyms held around one key, as the target's toolkit expects the command.
    struct Chord {
        QList<xkb_keysym_t> modifiers;
        xkb_keysym_t key;
    };

    explicit XTestKeySynth(X11Connection& connection);

    bool modifiersHeld() override;
    bool send(KeyCommand command, const KeyTarget& target) override;

    // The keys of a command for a kind of target; nothing when the command must not be sent there.
    static std::optional<Chord> chordFor(KeyCommand command, bool terminal);

private:
    bool isActiveWindow(quint64 windowId);

    X11Connection& m_conn;
};

} // namespace corvane::platform::linux_
