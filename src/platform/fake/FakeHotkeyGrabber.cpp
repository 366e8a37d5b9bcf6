#include "platform/fake/FakeHotkeyGrabber.h"
#include "platform/VirtualKeys.h"

namespace corvane::platform::fake {

GrabStatus FakeHotkeyGrabber::grab(quint32 grabId, qint64 keyCode, qint64 modifiers) {
    ++m_grabCalls;
    m_grabs.erase(grabId);
    if (m_unavailable)
        return GrabStatus::Unavailable;
    if (m_unknown.contains(keyCode))
        return GrabStatus::UnknownKey;
    const qint64 mods = modifiers & keys::ModMask;
    if (m_taken.contains({keyCode, mods}))
        return GrabStatus::Taken;
    m_grabs[grabId] = {keyCode, mods};
    return GrabStatus::Grabbed;
}

void FakeHotkeyGrabber::takenByOtherApp(qint64 keyCode, qint64 modifiers) {
    m_taken.insert({keyCode, modifiers & keys::ModMask});
}

QList<FakeHotkeyGrabber::Grab> FakeHotkeyGrabber::grabs() const {
    QList<Grab> out;
    for (const auto& [id, combo] : m_grabs)
        out.append({id, combo.first, combo.second});
    return out;
}

bool FakeHotkeyGrabber::press(qint64 keyCode, qint64 modifiers) {
    const std::pair<qint64, qint64> combo{keyCode, modifiers & keys::ModMask};
    for (const auto& [id, grabbed] : m_grabs) {
        if (grabbed != combo)
            continue;
        const quint32 grabId = id;
        if (m_handler) {
            m_handler(grabId, true);
            m_handler(grabId, false);
        }
        return true;
    }
    return false;
}

void FakeHotkeyGrabber::deliverPress(quint32 grabId) {
    if (m_handler)
        m_handler(grabId, true);
}

void FakeHotkeyGrabber::deliverRelease(quint32 grabId) {
    if (m_handler)
        m_handler(grabId, false);
}

} // namespace corvane::platform::fake
