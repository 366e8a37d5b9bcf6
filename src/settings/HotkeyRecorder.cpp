#include "settings/HotkeyRecorder.h"
#include "platform/KeyboardLayout.h"
#include "platform/VirtualKeys.h"
#include "trigger/HotkeyCenter.h"
#include "trigger/HotkeyDescription.h"
#include <QHash>
#include <QKeyEvent>

namespace corvane::settings {

namespace keys = platform::keys;

namespace {

// Qt keys by their position on a US keyboard, for when the window system names no key code.
const QHash<int, qint64>& usPositions() {
    static const QHash<int, qint64> table = [] {
        QHash<int, qint64> t = {
            {Qt::Key_A, 0},          {Qt::Key_S, 1},          {Qt::Key_D, 2},         {Qt::Key_F, 3},
            {Qt::Key_H, 4},          {Qt::Key_G, 5},          {Qt::Key_Z, 6},         {Qt::Key_X, 7},
            {Qt::Key_C, 8},          {Qt::Key_V, 9},          {Qt::Key_B, 11},        {Qt::Key_Q, 12},
            {Qt::Key_W, 13},         {Qt::Key_E, 14},         {Qt::Key_R, 15},        {Qt::Key_Y, 16},
            {Qt::Key_T, 17},         {Qt::Key_1, 18},         {Qt::Key_2, 19},        {Qt::Key_3, 20},
            {Qt::Key_4, 21},         {Qt::Key_6, 22},         {Qt::Key_5, 23},        {Qt::Key_Equal, 24},
            {Qt::Key_9, 25},         {Qt::Key_7, 26},         {Qt::Key_Minus, 27},    {Qt::Key_8, 28},
            {Qt::Key_0, 29},         {Qt::Key_BracketRight, 30}, {Qt::Key_O, 31},     {Qt::Key_U, 32},
            {Qt::Key_BracketLeft, 33}, {Qt::Key_I, 34},       {Qt::Key_P, 35},        {Qt::Key_Return, 36},
            {Qt::Key_Enter, 36},     {Qt::Key_L, 37},         {Qt::Key_J, 38},        {Qt::Key_Apostrophe, 39},
            {Qt::Key_K, 40},         {Qt::Key_Semicolon, 41}, {Qt::Key_Backslash, 42}, {Qt::Key_Comma, 43},
            {Qt::Key_Slash, 44},     {Qt::Key_N, 45},         {Qt::Key_M, 46},        {Qt::Key_Period, 47},
            {Qt::Key_Tab, 48},       {Qt::Key_Space, 49},     {Qt::Key_QuoteLeft, 50}, {Qt::Key_Backspace, 51},
            {Qt::Key_Escape, 53},    {Qt::Key_Insert, 114},   {Qt::Key_Home, 115},    {Qt::Key_PageUp, 116},
            {Qt::Key_Delete, 117},   {Qt::Key_End, 119},      {Qt::Key_PageDown, 121}, {Qt::Key_Left, 123},
            {Qt::Key_Right, 124},    {Qt::Key_Down, 125},     {Qt::Key_Up, 126},
        };
        for (int i = 0; i < int(keys::FunctionKeys.size()); ++i)
            t.insert(Qt::Key_F1 + i, keys::FunctionKeys[std::size_t(i)]);
        return t;
    }();
    return table;
}

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Control: case Qt::Key_Alt: case Qt::Key_AltGr: case Qt::Key_Shift: case Qt::Key_Meta:
    case Qt::Key_Super_L: case Qt::Key_Super_R: case Qt::Key_Hyper_L: case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock: case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

} // namespace

HotkeyRecorder::HotkeyRecorder(trigger::HotkeyCenter& hotkeys, platform::KeyboardLayout& layout, QWidget* parent)
    : QPushButton(parent), m_hotkeys(hotkeys), m_layout(layout) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumWidth(150);
    connect(this, &QPushButton::clicked, this, [this] {
        if (m_recording)
            cancelRecording();
        else
            startRecording();
    });
    updateText();
}

HotkeyRecorder::~HotkeyRecorder() {
    if (m_recording)
        stopRecording();
}

void HotkeyRecorder::setShortcut(std::optional<Shortcut> shortcut) {
    m_shortcut = shortcut;
    updateText();
}

void HotkeyRecorder::startRecording() {
    if (m_recording)
        return;
    m_recording = true;
    m_hotkeys.suspend();
    setFocus(Qt::OtherFocusReason);
    grabKeyboard();
    updateText();
}

void HotkeyRecorder::cancelRecording() {
    if (m_recording)
        stopRecording();
}

void HotkeyRecorder::stopRecording() {
    m_recording = false;
    releaseKeyboard();
    m_hotkeys.resume();
    updateText();
}

std::optional<qint64> HotkeyRecorder::keyCodeFor(int qtKey, quint32 nativeKeyCode, platform::KeyboardLayout& layout) {
    if (nativeKeyCode != 0)
        if (auto code = layout.keyCodeForNative(nativeKeyCode))
            return code;
    const auto it = usPositions().constFind(qtKey);
    if (it == usPositions().constEnd())
        return std::nullopt;
    return *it;
}

qint64 HotkeyRecorder::modifierBits(Qt::KeyboardModifiers modifiers) {
    qint64 bits = 0;
    if (modifiers & Qt::ShiftModifier)
        bits |= keys::ModShift;
    if (modifiers & Qt::ControlModifier)
        bits |= keys::ModControl;
    if (modifiers & Qt::AltModifier)
        bits |= keys::ModOption;
    if (modifiers & Qt::MetaModifier)
        bits |= keys::ModCommand;
    return bits;
}

void HotkeyRecorder::keyPressEvent(QKeyEvent* event) {
    if (!m_recording) {
        QPushButton::keyPressEvent(event);
        return;
    }
    event->accept();
    const int key = event->key();
    if (isModifierKey(key)) {
        updateText(event->modifiers());
        return;
    }
    const qint64 mods = modifierBits(event->modifiers());
    if (key == Qt::Key_Escape && mods == 0) {
        stopRecording();
        return;
    }
    const auto code = keyCodeFor(key, event->nativeScanCode(), m_layout);
    if (!code) {
        Q_EMIT refused(tr("This key cannot be used in a shortcut."));
        return;
    }
    if ((mods & ~keys::ModShift) == 0 && !keys::isFunctionKey(*code)) {
        Q_EMIT refused(trigger::HotkeyCenter::message(trigger::HotkeyError::Reason::NeedsModifier));
        return;
    }
    m_shortcut = Shortcut{*code, mods};
    stopRecording();
    Q_EMIT recorded(*m_shortcut);
}

void HotkeyRecorder::focusOutEvent(QFocusEvent* event) {
    // Focus moving elsewhere (a click on another control, the window going away) ends recording.
    if (m_recording && event->reason() != Qt::PopupFocusReason)
        stopRecording();
    QPushButton::focusOutEvent(event);
}

void HotkeyRecorder::updateText(Qt::KeyboardModifiers held) {
    if (m_recording) {
        const qint64 bits = modifierBits(held);
        QString prefix;
        const struct {
            qint64 bit;
            const char* name;
        } order[] = {{keys::ModControl, "Ctrl+"}, {keys::ModOption, "Alt+"}, {keys::ModShift, "Shift+"},
                     {keys::ModCommand, "Super+"}};
        for (const auto& m : order)
            if (bits & m.bit)
                prefix += QLatin1String(m.name);
        setText(prefix.isEmpty() ? tr("Type a shortcut…") : prefix + QStringLiteral("…"));
        setToolTip(tr("Press the new combination, or Esc to cancel."));
        return;
    }
    setToolTip(tr("Click to record a new shortcut."));
    if (m_shortcut)
        setText(trigger::HotkeyDescription::string(m_shortcut->keyCode, m_shortcut->modifiers, m_layout));
    else
        setText(trigger::HotkeyDescription::string(std::nullopt, std::nullopt, m_layout));
}

} // namespace corvane::settings
