#pragma once
// The server's keyboard as xkbcommon sees it: keymap, current layout and the core modifier
// mapping, kept current through XKB notifications (setxkbmap, layout switches, remapping).
#include <QString>
#include <bitset>
#include <memory>
#include <optional>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

namespace corvane::platform::linux_ {

class XkbKeyboard {
public:
    // nullptr when the server has no usable XKB extension.
    static std::unique_ptr<XkbKeyboard> create(xcb_connection_t* conn);
    ~XkbKeyboard();
    XkbKeyboard(const XkbKeyboard&) = delete;
    XkbKeyboard& operator=(const XkbKeyboard&) = delete;

    // Consumes XKB notifications (true); any other event is left to the caller (false).
    bool handleEvent(const xcb_generic_event_t* event);
    // Increases every time the keymap or the modifier mapping is reloaded.
    quint64 generation() const { return m_generation; }
    // Whether the server sends held keys as presses without releases (repeats are recognisable).
    bool detectableAutoRepeat() const { return m_detectableAutoRepeat; }

    std::optional<xcb_keycode_t> keycodeForName(const char* xkbName) const;
    // The key name of a keycode ("SPCE"), or nullptr.
    const char* nameForKeycode(xcb_keycode_t keycode) const;
    // A keycode that types keysym without modifiers: on the current layout first, then on any.
    std::optional<xcb_keycode_t> keycodeForKeysym(xkb_keysym_t keysym) const;
    // What the key types on the current layout without modifiers ("" when nothing).
    QString text(xcb_keycode_t keycode) const;

    // Core modifier masks that Alt, Super and Num Lock sit on (Mod1, Mod4, Mod2 by default).
    uint16_t altMask() const { return m_altMask; }
    uint16_t superMask() const { return m_superMask; }
    uint16_t numLockMask() const { return m_numLockMask; }
    // Keycodes on any modifier (lock keys included), and those the user holds as modifiers.
    bool isModifierKey(xcb_keycode_t keycode) const { return m_modifierKeys.test(keycode); }
    // Caps Lock, Num Lock and the like: "down" for them says nothing about the user's fingers.
    bool isLockKey(xcb_keycode_t keycode) const {
        return m_modifierKeys.test(keycode) && !m_heldModifierKeys.test(keycode);
    }
    std::optional<xcb_keycode_t> keycodeForModifierKeysym(xkb_keysym_t keysym) const;

private:
    explicit XkbKeyboard(xcb_connection_t* conn);
    bool load();
    void loadModifierMapping();
    bool keyHasSymAtLevel0(xcb_keycode_t keycode, xkb_layout_index_t layout, xkb_keysym_t keysym) const;

    xcb_connection_t* m_conn;
    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    xkb_state* m_state = nullptr;
    int32_t m_deviceId = -1;
    uint8_t m_eventBase = 0;
    quint64 m_generation = 0;
    bool m_detectableAutoRepeat = false;
    uint16_t m_altMask = XCB_MOD_MASK_1;
    uint16_t m_superMask = XCB_MOD_MASK_4;
    uint16_t m_numLockMask = XCB_MOD_MASK_2;
    std::bitset<256> m_modifierKeys;
    std::bitset<256> m_heldModifierKeys;
};

} // namespace corvane::platform::linux_
