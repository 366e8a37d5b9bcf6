#include "platform/linux/XkbKeyboardLayout.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/XkbKeyNames.h"
#include "platform/linux/XkbKeyboard.h"

namespace corvane::platform::linux_ {

std::optional<QString> XkbKeyboardLayout::keyText(qint64 keyCode) {
    XkbKeyboard* kb = m_conn.isOpen() ? m_conn.keyboard() : nullptr;
    if (!kb)
        return std::nullopt;
    const auto keycode = kb->keycodeForName(xkbKeyName(keyCode));
    if (!keycode)
        return std::nullopt;
    const QString text = kb->text(*keycode);
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

std::optional<qint64> XkbKeyboardLayout::keyCodeForNative(quint32 nativeKeyCode) {
    XkbKeyboard* kb = m_conn.isOpen() ? m_conn.keyboard() : nullptr;
    if (!kb || nativeKeyCode == 0 || nativeKeyCode > 255)
        return std::nullopt;
    const qint64 keyCode = keyCodeForXkbName(kb->nameForKeycode(xcb_keycode_t(nativeKeyCode)));
    if (keyCode < 0)
        return std::nullopt;
    return keyCode;
}

} // namespace corvane::platform::linux_
