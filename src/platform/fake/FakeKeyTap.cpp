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

void FakeKeyTap::press(qint64 keyCode) {
    KeyEvent e;
    e.pressed = true;
    e.keyCode = keyCode;
    e.nativeCode = quint32(keyCode + 8);
    e.isModifier = isModifierPosition(keyCode);
    e.autoRepeat = m_down.contains(keyCode);
    m_down.insert(keyCode);
    deliver(e);
}

void FakeKeyTap::release(qint64 keyCode) {
    KeyEvent e;
    e.pressed = false;
    e.keyCode = keyCode;
    e.nativeCode = quint32(keyCode + 8);
    e.isModifier = isModifierPosition(keyCode);
    m_down.remove(keyCode);
    deliver(e);
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
