#pragma once
// The label of a stored shortcut: modifier names in a fixed order, then the key as the current
// keyboard layout labels it ("Alt+Space", "Ctrl+Shift+K"), or "Not set".
#include <QString>
#include <optional>

namespace corvane::platform {
class KeyboardLayout;
}

namespace corvane::trigger {

class HotkeyDescription {
public:
    HotkeyDescription() = delete;

    // Labels with the process keyboard layout (platform::KeyboardLayout::shared()).
    static QString string(std::optional<qint64> keyCode, std::optional<qint64> modifiers);
    static QString keyName(qint64 keyCode);

    static QString string(std::optional<qint64> keyCode, std::optional<qint64> modifiers,
                          platform::KeyboardLayout& layout);
    static QString keyName(qint64 keyCode, platform::KeyboardLayout& layout);

private:
    static std::optional<QString> keyNameFromCurrentLayout(qint64 keyCode, platform::KeyboardLayout& layout);
};

} // namespace corvane::trigger
