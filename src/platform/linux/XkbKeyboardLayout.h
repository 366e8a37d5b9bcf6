#pragma once
// Key texts of the current layout from the server's keymap. The keymap and the active layout
// follow the server's notifications, so a layout switch shows in the next label.
#include "platform/KeyboardLayout.h"

namespace corvane::platform::linux_ {

class X11Connection;

class XkbKeyboardLayout final : public KeyboardLayout {
public:
    explicit XkbKeyboardLayout(X11Connection& connection) : m_conn(connection) {}
    std::optional<QString> keyText(qint64 keyCode) override;
    std::optional<qint64> keyCodeForNative(quint32 nativeKeyCode) override;

private:
    X11Connection& m_conn;
};

} // namespace corvane::platform::linux_
