#include "platform/linux/XInputKeyTap.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/XkbKeyNames.h"
#include "platform/linux/XkbKeyboard.h"
#include <cstdlib>
#include <xcb/xinput.h>

namespace corvane::platform::linux_ {

std::optional<KeyEvent> RawKeyDecoder::decode(const xcb_generic_event_t* event) {
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return std::nullopt;
    const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
    if (ge->extension != m_opcode)
        return std::nullopt;
    if (ge->event_type != XCB_INPUT_RAW_KEY_PRESS && ge->event_type != XCB_INPUT_RAW_KEY_RELEASE)
        return std::nullopt;
    const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
    const uint32_t code = raw->detail;
    if (code > 255)
        return std::nullopt;
    KeyEvent out;
    out.pressed = ge->event_type == XCB_INPUT_RAW_KEY_PRESS;
    out.nativeCode = code;
    out.keyCode = m_table[code].keyCode;
    out.isModifier = m_table[code].isModifier;
    out.timeMs = raw->time;
    // Raw events carry no repeats, but a press of a key still down is one whatever its origin;
    // releases may arrive for keys that were never seen down.
    if (out.pressed) {
        out.autoRepeat = m_down.test(code);
        m_down.set(code);
    } else {
        m_down.reset(code);
    }
    return out;
}

XInputKeyTap::XInputKeyTap(X11Connection& connection) : m_conn(connection) {}

XInputKeyTap::~XInputKeyTap() { stop(); }

// A lost connection delivers nothing more: the tap counts as stopped so that a new start is tried.
bool XInputKeyTap::isRunning() const { return m_listener != 0 && m_conn.isOpen(); }

bool XInputKeyTap::start(Handler handler) {
    if (isRunning()) {
        m_handler = std::move(handler);
        return true;
    }
    if (m_listener != 0) {
        m_conn.removeListener(m_listener);
        m_listener = 0;
    }
    if (!m_conn.isOpen()) {
        m_error = m_conn.error();
        return false;
    }
    if (!m_conn.keyboard()) {
        m_error = QStringLiteral("the X server has no XKB extension");
        return false;
    }
    xcb_connection_t* c = m_conn.xcb();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_input_id);
    if (!ext || !ext->present) {
        m_error = QStringLiteral("the X server has no XInput extension");
        return false;
    }
    auto* version = xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr);
    const bool ok = version && version->major_version >= 2;
    free(version);
    if (!ok) {
        m_error = QStringLiteral("the X server has no XInput 2");
        return false;
    }
    m_decoder.setExtensionOpcode(ext->major_opcode);
    refreshTable();
    if (!select(true)) {
        m_error = QStringLiteral("the X server refused raw key events");
        return false;
    }
    m_handler = std::move(handler);
    m_listener = m_conn.addListener([this](const xcb_generic_event_t* event) {
        if (m_conn.keyboard() && m_conn.keyboard()->generation() != m_tableGeneration)
            refreshTable();
        // Core key events reach this connection only through a grab of ours; a release among
        // them may end it, and what was released during it never came as a raw event.
        if ((event->response_type & 0x7f) == XCB_KEY_RELEASE) {
            resyncWithServer();
            return;
        }
        if (auto key = m_decoder.decode(event); key && m_handler)
            m_handler(*key);
    });
    m_error.clear();
    m_conn.dispatchQueuedSoon();
    return true;
}

void XInputKeyTap::stop() {
    if (m_listener == 0)
        return;
    m_conn.removeListener(m_listener);
    m_listener = 0;
    m_handler = nullptr;
    select(false);
}

bool XInputKeyTap::select(bool on) {
    if (!m_conn.isOpen())
        return false;
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } mask{};
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.mask = on ? (XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE) : 0;
    xcb_connection_t* c = m_conn.xcb();
    xcb_generic_error_t* error = xcb_request_check(c, xcb_input_xi_select_events_checked(c, m_conn.root(), 1, &mask.head));
    const bool ok = !error;
    free(error);
    m_conn.dispatchQueuedSoon();
    return ok;
}

void XInputKeyTap::resyncWithServer() {
    if (!m_conn.isOpen())
        return;
    xcb_connection_t* c = m_conn.xcb();
    xcb_query_keymap_reply_t* reply = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
    if (!reply)
        return;
    std::bitset<256> down;
    for (size_t i = 0; i < 256; ++i)
        down[i] = (reply->keys[i / 8] >> (i % 8)) & 1;
    free(reply);
    m_decoder.resync(down);
}

void XInputKeyTap::refreshTable() {
    RawKeyDecoder::Table table{};
    if (XkbKeyboard* kb = m_conn.keyboard()) {
        for (int kc = 8; kc < 256; ++kc) {
            table[size_t(kc)].keyCode = qint16(keyCodeForXkbName(kb->nameForKeycode(xcb_keycode_t(kc))));
            table[size_t(kc)].isModifier = kb->isModifierKey(xcb_keycode_t(kc));
        }
        m_tableGeneration = kb->generation();
    }
    m_decoder.setTable(table);
}

} // namespace corvane::platform::linux_
