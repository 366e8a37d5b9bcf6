#include "platform/linux/XkbKeyboard.h"
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <algorithm>
#include <cstdlib>
// xcb/xkb.h names a struct member "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace corvane::platform::linux_ {

namespace {

bool isLockKeysym(xkb_keysym_t s) {
    return s == XKB_KEY_Num_Lock || s == XKB_KEY_Caps_Lock || s == XKB_KEY_Shift_Lock || s == XKB_KEY_Scroll_Lock;
}

union XkbEvent {
    struct {
        uint8_t response_type;
        uint8_t xkbType;
        uint16_t sequence;
        xcb_timestamp_t time;
        uint8_t deviceID;
    } any;
    xcb_xkb_new_keyboard_notify_event_t newKeyboard;
    xcb_xkb_map_notify_event_t map;
    xcb_xkb_state_notify_event_t state;
};

} // namespace

std::unique_ptr<XkbKeyboard> XkbKeyboard::create(xcb_connection_t* conn) {
    uint8_t base = 0;
    if (!xkb_x11_setup_xkb_extension(conn, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &base, nullptr))
        return nullptr;
    std::unique_ptr<XkbKeyboard> kb(new XkbKeyboard(conn));
    kb->m_eventBase = base;
    kb->m_deviceId = xkb_x11_get_core_keyboard_device_id(conn);
    kb->m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (kb->m_deviceId < 0 || !kb->m_context || !kb->load())
        return nullptr;

    const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                            XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    const uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
                              XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
                              XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH |
                          XCB_XKB_STATE_PART_GROUP_LOCK | XCB_XKB_STATE_PART_MODIFIER_LOCK;
    details.stateDetails = details.affectState;
    xcb_xkb_select_events_aux(conn, uint16_t(kb->m_deviceId), events, 0, 0, mapParts, mapParts, &details);

    // Held keys then repeat as presses without releases, which the grab backend tells apart.
    auto* flags = xcb_xkb_per_client_flags_reply(
        conn,
        xcb_xkb_per_client_flags(conn, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
        nullptr);
    kb->m_detectableAutoRepeat = flags && (flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT);
    free(flags);
    return kb;
}

XkbKeyboard::XkbKeyboard(xcb_connection_t* conn) : m_conn(conn) {}

XkbKeyboard::~XkbKeyboard() {
    xkb_state_unref(m_state);
    xkb_keymap_unref(m_keymap);
    xkb_context_unref(m_context);
}

bool XkbKeyboard::load() {
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(m_context, m_conn, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return false;
    xkb_state* state = xkb_x11_state_new_from_device(keymap, m_conn, m_deviceId);
    if (!state) {
        xkb_keymap_unref(keymap);
        return false;
    }
    xkb_state_unref(m_state);
    xkb_keymap_unref(m_keymap);
    m_keymap = keymap;
    m_state = state;
    loadModifierMapping();
    ++m_generation;
    return true;
}

void XkbKeyboard::loadModifierMapping() {
    m_modifierKeys.reset();
    m_heldModifierKeys.reset();
    m_altMask = XCB_MOD_MASK_1;
    m_superMask = XCB_MOD_MASK_4;
    m_numLockMask = XCB_MOD_MASK_2;
    auto* reply = xcb_get_modifier_mapping_reply(m_conn, xcb_get_modifier_mapping(m_conn), nullptr);
    if (!reply)
        return;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    bool altFound = false, superFound = false, numFound = false;
    for (int mod = 0; mod < 8; ++mod) {
        const uint16_t mask = uint16_t(1u << mod);
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t kc = codes[mod * perModifier + i];
            if (kc == 0)
                continue;
            m_modifierKeys.set(kc);
            bool lock = mod == 1; // the Lock row
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(m_keymap, kc, 0);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                const int n = xkb_keymap_key_get_syms_by_level(m_keymap, kc, 0, level, &syms);
                for (int s = 0; s < n; ++s) {
                    lock = lock || isLockKeysym(syms[s]);
                    if (mod < 3)
                        continue; // Shift, Lock and Control are fixed
                    if (!altFound && (syms[s] == XKB_KEY_Alt_L || syms[s] == XKB_KEY_Alt_R)) {
                        m_altMask = mask;
                        altFound = true;
                    } else if (!superFound && (syms[s] == XKB_KEY_Super_L || syms[s] == XKB_KEY_Super_R)) {
                        m_superMask = mask;
                        superFound = true;
                    } else if (!numFound && syms[s] == XKB_KEY_Num_Lock) {
                        m_numLockMask = mask;
                        numFound = true;
                    }
                }
            }
            if (!lock)
                m_heldModifierKeys.set(kc);
        }
    }
    free(reply);
}

bool XkbKeyboard::handleEvent(const xcb_generic_event_t* event) {
    if (!m_eventBase || (event->response_type & 0x7f) != m_eventBase)
        return false;
    const auto* e = reinterpret_cast<const XkbEvent*>(event);
    if (e->any.deviceID != m_deviceId)
        return true;
    switch (e->any.xkbType) {
    case XCB_XKB_NEW_KEYBOARD_NOTIFY:
        if (e->newKeyboard.changed & XCB_XKB_NKN_DETAIL_KEYCODES)
            load();
        break;
    case XCB_XKB_MAP_NOTIFY:
        load();
        break;
    case XCB_XKB_STATE_NOTIFY:
        xkb_state_update_mask(m_state, e->state.baseMods, e->state.latchedMods, e->state.lockedMods,
                              xkb_layout_index_t(e->state.baseGroup), xkb_layout_index_t(e->state.latchedGroup),
                              e->state.lockedGroup);
        break;
    default:
        break;
    }
    return true;
}

std::optional<xcb_keycode_t> XkbKeyboard::keycodeForName(const char* xkbName) const {
    if (!xkbName)
        return std::nullopt;
    const xkb_keycode_t kc = xkb_keymap_key_by_name(m_keymap, xkbName);
    if (kc == XKB_KEYCODE_INVALID || kc > 255)
        return std::nullopt;
    return xcb_keycode_t(kc);
}

const char* XkbKeyboard::nameForKeycode(xcb_keycode_t keycode) const {
    return xkb_keymap_key_get_name(m_keymap, keycode);
}

bool XkbKeyboard::keyHasSymAtLevel0(xcb_keycode_t keycode, xkb_layout_index_t layout, xkb_keysym_t keysym) const {
    const xkb_keysym_t* syms = nullptr;
    const int n = xkb_keymap_key_get_syms_by_level(m_keymap, keycode, layout, 0, &syms);
    for (int i = 0; i < n; ++i)
        if (syms[i] == keysym)
            return true;
    return false;
}

std::optional<xcb_keycode_t> XkbKeyboard::keycodeForKeysym(xkb_keysym_t keysym) const {
    const xkb_keycode_t lo = xkb_keymap_min_keycode(m_keymap);
    const xkb_keycode_t hi = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(m_keymap), 255);
    for (xkb_keycode_t kc = lo; kc <= hi; ++kc)
        if (keyHasSymAtLevel0(xcb_keycode_t(kc), xkb_state_key_get_layout(m_state, kc), keysym))
            return xcb_keycode_t(kc);
    for (xkb_keycode_t kc = lo; kc <= hi; ++kc)
        for (xkb_layout_index_t l = 0; l < xkb_keymap_num_layouts_for_key(m_keymap, kc); ++l)
            if (keyHasSymAtLevel0(xcb_keycode_t(kc), l, keysym))
                return xcb_keycode_t(kc);
    return std::nullopt;
}

std::optional<xcb_keycode_t> XkbKeyboard::keycodeForModifierKeysym(xkb_keysym_t keysym) const {
    for (int kc = 8; kc < 256; ++kc)
        if (m_modifierKeys.test(size_t(kc)) && keyHasSymAtLevel0(xcb_keycode_t(kc), 0, keysym))
            return xcb_keycode_t(kc);
    return keycodeForKeysym(keysym);
}

QString XkbKeyboard::text(xcb_keycode_t keycode) const {
    const xkb_layout_index_t layout = xkb_state_key_get_layout(m_state, keycode);
    if (layout == XKB_LAYOUT_INVALID)
        return {};
    const xkb_keysym_t* syms = nullptr;
    const int n = xkb_keymap_key_get_syms_by_level(m_keymap, keycode, layout, 0, &syms);
    QString out;
    for (int i = 0; i < n; ++i) {
        const uint32_t cp = xkb_keysym_to_utf32(syms[i]);
        if (cp)
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1);
    }
    return out;
}

} // namespace corvane::platform::linux_
