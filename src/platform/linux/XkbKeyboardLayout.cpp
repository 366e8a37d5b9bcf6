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

} // namespace corvane::platform::linux_
