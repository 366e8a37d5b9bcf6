#include "platform/linux/XTestKeySynth.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/XkbKeyboard.h"
#include <cstdlib>
#include <vector>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace corvane::platform::linux_ {

XTestKeySynth::XTestKeySynth(X11Connection& connection) : m_conn(connection) {}

std::optional<XTestKeySynth::Chord> XTestKeySynth::chordFor(KeyCommand command, bool terminal) {
    // Terminals: Ctrl+C interrupts the running program and Ctrl+A moves the shell's cursor, so
    // neither is ever sent; they paste with Ctrl+Shift+V. Nothing selects text in a terminal on
    // our behalf, so there is no selection to collapse there either.
    switch (command) {
    case KeyCommand::SelectAll:
        if (terminal)
            return std::nullopt;
        return Chord{{XKB_KEY_Control_L}, XKB_KEY_a};
    case KeyCommand::Copy:
        if (terminal)
            return std::nullopt;
        return Chord{{XKB_KEY_Control_L}, XKB_KEY_c};
    case KeyCommand::Paste:
        if (terminal)
            return Chord{{XKB_KEY_Control_L, XKB_KEY_Shift_L}, XKB_KEY_v};
        return Chord{{XKB_KEY_Control_L}, XKB_KEY_v};
    case KeyCommand::CollapseSelection:
        // Right with a selection puts the caret at the selection's end in GTK, Qt and browser
        // fields without moving further; End would only reach the end of the caret's line.
        if (terminal)
            return std::nullopt;
        return Chord{{}, XKB_KEY_Right};
    }
    return std::nullopt;
}

// Any key still down counts, not only the modifiers: XTest keys combine with every held key, and a
// key still down from a global shortcut keeps the keyboard grabbed by us, so synthetic keys sent
// meanwhile would come back to us instead of reaching the target.
bool XTestKeySynth::modifiersHeld() {
    if (!m_conn.isOpen() || !m_conn.keyboard())
        return false;
    xcb_connection_t* c = m_conn.xcb();
    auto* reply = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
    m_conn.dispatchQueuedSoon();
    if (!reply)
        return false;
    const XkbKeyboard& kb = *m_conn.keyboard();
    bool any = false;
    for (int kc = 8; kc < 256 && !any; ++kc)
        any = (reply->keys[kc / 8] & (1u << (kc % 8))) && !kb.isLockKey(xcb_keycode_t(kc));
    free(reply);
    return any;
}

bool XTestKeySynth::isActiveWindow(quint64 windowId) {
    if (windowId == 0)
        return false;
    xcb_connection_t* c = m_conn.xcb();
    const xcb_atom_t activeAtom = m_conn.atom("_NET_ACTIVE_WINDOW");
    if (activeAtom != XCB_ATOM_NONE) {
        auto* prop = xcb_get_property_reply(
            c, xcb_get_property(c, 0, m_conn.root(), activeAtom, XCB_ATOM_WINDOW, 0, 1), nullptr);
        xcb_window_t active = 0;
        if (prop && prop->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(prop) >= 4)
            active = *static_cast<xcb_window_t*>(xcb_get_property_value(prop));
        free(prop);
        if (active != 0)
            return active == windowId;
    }
    // No window manager that says which window is active: the focus window or one of its parents.
    auto* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    xcb_window_t w = focus ? focus->focus : 0;
    free(focus);
    for (int depth = 0; w != 0 && w != m_conn.root() && depth < 64; ++depth) {
        if (w == windowId)
            return true;
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        w = tree ? tree->parent : 0;
        free(tree);
    }
    return false;
}

bool XTestKeySynth::send(KeyCommand command, const KeyTarget& target) {
    const auto chord = chordFor(command, target.terminal);
    if (!chord || !m_conn.isOpen() || !m_conn.keyboard())
        return false;
    xcb_connection_t* c = m_conn.xcb();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_test_id);
    if (!ext || !ext->present)
        return false;
    const bool active = isActiveWindow(target.windowId);
    m_conn.dispatchQueuedSoon();
    if (!active)
        return false;

    XkbKeyboard& kb = *m_conn.keyboard();
    std::vector<xcb_keycode_t> mods;
    for (xkb_keysym_t sym : chord->modifiers) {
        const auto kc = kb.keycodeForModifierKeysym(sym);
        if (!kc)
            return false;
        mods.push_back(*kc);
    }
    const auto key = kb.keycodeForKeysym(chord->key);
    if (!key)
        return false;

    auto fake = [&](uint8_t type, xcb_keycode_t kc) {
        xcb_test_fake_input(c, type, kc, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    };
    for (xcb_keycode_t kc : mods)
        fake(XCB_KEY_PRESS, kc);
    fake(XCB_KEY_PRESS, *key);
    fake(XCB_KEY_RELEASE, *key);
    for (auto it = mods.rbegin(); it != mods.rend(); ++it)
        fake(XCB_KEY_RELEASE, *it);
    m_conn.sync();
    return m_conn.isOpen();
}

} // namespace corvane::platform::linux_
