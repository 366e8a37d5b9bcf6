#pragma once
// The key tap on XInput2 raw events of the root window, for the master devices only (all devices
// would report every key twice). Raw events are passive: no grab, nothing changed for the focused
// application, and no auto-repeat. Our own XTest keys are seen too.
#include "platform/KeyTap.h"
#include <array>
#include <bitset>
#include <optional>
#include <xcb/xcb.h>

namespace corvane::platform::linux_ {

class X11Connection;

// Turns raw key events into KeyEvents. Kept apart from the connection so it can be measured and
// tested on hand-made events.
class RawKeyDecoder {
public:
    struct KeyInfo {
        qint16 keyCode = -1;
        bool isModifier = false;
    };
    using Table = std::array<KeyInfo, 256>;

    void setExtensionOpcode(uint8_t opcode) { m_opcode = opcode; }
    void setTable(const Table& table) { m_table = table; }
    // Nothing for events that are not raw key presses or releases.
    std::optional<KeyEvent> decode(const xcb_generic_event_t* event);
    // Forgets every key held down here that the server says is up now. A release that happened
    // while another client (or our own shortcut) grabbed the keyboard never arrives as a raw
    // event, and the key's next press would otherwise look like a repeat.
    void resync(const std::bitset<256>& serverDown) { m_down &= serverDown; }
    bool isDown(uint8_t keycode) const { return m_down.test(keycode); }

private:
    uint8_t m_opcode = 0;
    Table m_table{};
    std::bitset<256> m_down;
};

class XInputKeyTap final : public KeyTap {
public:
    explicit XInputKeyTap(X11Connection& connection);
    ~XInputKeyTap() override;

    bool start(Handler handler) override;
    void stop() override;
    bool isRunning() const override;
    QString lastError() const override { return m_error; }

private:
    bool select(bool on);
    void refreshTable();
    void resyncWithServer();

    X11Connection& m_conn;
    RawKeyDecoder m_decoder;
    Handler m_handler;
    int m_listener = 0;
    quint64 m_tableGeneration = 0;
    QString m_error;
};

} // namespace corvane::platform::linux_
