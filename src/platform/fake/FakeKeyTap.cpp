#include "platform/fake/FakeKeyTap.h"

namespace corvane::platform::fake {

bool FakeKeyTap::start(Handler handler) {
    if (!m_unavailable.isEmpty()) {
        m_error = m_unavailable;
        return false;
    }
    m_error.clear();
    m_handler = std::move(handler);
    m_running = true;
    ++m_starts;
    return true;
}

void FakeKeyTap::stop() {
    m_running = false;
    m_handler = nullptr;
}

namespace {
// The event for a key position, with the X keycode it has on a standard keyboard.
KeyEvent keyEvent(qint64 keyCode, bool pressed) {
    KeyEvent e;
    e.pressed = pressed;
    e.keyCode = keyCode;
    e.nativeCode = quint32(keyCode + 8);
    e.isModifier = FakeKeyTap::isModifierPosition(keyCode);
    return e;
}
} // namespace

void FakeKeyTap::press(qint64 keyCode) {
    KeyEvent e = keyEvent(keyCode, true);
    e.autoRepeat = m_down.contains(keyCode);
    m_down.insert(keyCode);
    deliver(e);
}

void FakeKeyTap::release(qint64 keyCode) {
    m_down.remove(keyCode);
    deliver(keyEvent(keyCode, false));
}

void FakeKeyTap::tap(qint64 keyCode) {
    press(keyCode);
    release(keyCode);
}

void FakeKeyTap::deliver(const KeyEvent& event) {
    if (!m_running || !m_handler)
        return;
    KeyEvent e = event;
    e.timeMs = ++m_time;
    m_handler(e);
}

} // namespace corvane::platform::fake
