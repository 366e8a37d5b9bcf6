#pragma once
// What the keys type on the keyboard layout in use right now (xkbcommon on Linux).
#include <QString>
#include <optional>

namespace corvane::platform {

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The text the key at this stored-shortcut key code types on the current layout without any
    // modifier, as the layout gives it (it may be a control character); nothing when unknown.
    virtual std::optional<QString> keyText(qint64 keyCode) = 0;
    // The stored-shortcut key code of the key a window-system key event names by its native key
    // code (QKeyEvent::nativeScanCode()); nothing when this layout cannot tell.
    virtual std::optional<qint64> keyCodeForNative(quint32 nativeKeyCode) {
        Q_UNUSED(nativeKeyCode);
        return std::nullopt;
    }

    // The process layout installed by the composition root; until then one that knows no key.
    static KeyboardLayout& shared();
    static void setShared(KeyboardLayout* layout);
};

} // namespace corvane::platform
