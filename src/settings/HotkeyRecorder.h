#pragma once
// A button that shows a stored shortcut and, once clicked, records the next key press into the
// stored key code and modifier bits. Escape cancels; a key without Ctrl, Alt or Super is refused
// (F-keys excepted). While it records, the app's own global shortcuts are released, or the X
// server would hand a press of an already-grabbed combination to us as a hotkey.
#include <QPushButton>
#include <optional>

namespace corvane::platform {
class KeyboardLayout;
}
namespace corvane::trigger {
class HotkeyCenter;
}

namespace corvane::settings {

struct Shortcut {
    qint64 keyCode = -1;
    qint64 modifiers = 0;
    bool operator==(const Shortcut&) const = default;
};

class HotkeyRecorder final : public QPushButton {
    Q_OBJECT
public:
    HotkeyRecorder(trigger::HotkeyCenter& hotkeys, platform::KeyboardLayout& layout, QWidget* parent = nullptr);
    ~HotkeyRecorder() override;

    std::optional<Shortcut> shortcut() const { return m_shortcut; }
    // Shows a stored value; emits nothing.
    void setShortcut(std::optional<Shortcut> shortcut);
    bool isRecording() const { return m_recording; }
    void startRecording();
    void cancelRecording();

    // The stored key code of a key press: the layout's answer for the native key code, else the
    // key's position on a US keyboard by its Qt key; nothing for keys no shortcut can use.
    static std::optional<qint64> keyCodeFor(int qtKey, quint32 nativeKeyCode, platform::KeyboardLayout& layout);
    static qint64 modifierBits(Qt::KeyboardModifiers modifiers);

Q_SIGNALS:
    // A new shortcut was recorded.
    void recorded(Shortcut shortcut);
    // A press was refused; the sentence says why. Recording goes on.
    void refused(const QString& message);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void stopRecording();
    void updateText(Qt::KeyboardModifiers held = {});

    trigger::HotkeyCenter& m_hotkeys;
    platform::KeyboardLayout& m_layout;
    std::optional<Shortcut> m_shortcut;
    bool m_recording = false;
};

} // namespace corvane::settings
