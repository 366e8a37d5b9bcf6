#pragma once
#include "platform/Accessibility.h"
#include "platform/ActiveApp.h"
#include "platform/KeySynth.h"
#include "platform/fake/FakeClipboard.h"
#include "platform/fake/FakeClock.h"
#include <QObject>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace corvane::platform::fake {

// One scripted text field of a fake application window.
struct FakeField {
    QString text;
    std::optional<double> number;  // the value is exposed as a number instead of text
    TextRange selection;           // in characters; length 0 is a caret
    QString role = QStringLiteral("entry");
    QStringList states = {QStringLiteral("editable"), QStringLiteral("focused"), QStringLiteral("single-line")};
    QRectF extents{100, 200, 300, 40};
    std::optional<QRectF> windowExtents;  // what the toolkit answers for extents relative to the window
    std::optional<QRectF> caretExtents;   // what it answers for where the selection or the caret stands
    // The objects embedded in the text (paragraphs, links of a rich editor), one for each U+FFFC
    // of the text, in order. Empty: the field offers no hypertext.
    std::vector<std::shared_ptr<FakeField>> embedded;

    bool readable = true;          // the value can be read through accessibility
    bool roleReadable = true;
    bool selectionReadable = true;
    bool writable = true;          // a value write is accepted
    int refusedStatus = -25200;    // what a refused write answers
    bool writeWithoutEffect = false;  // a write is accepted and changes nothing
    std::weak_ptr<FakeField> writeLandsIn;  // a write moves the focus there and lands in that field
    std::function<QString(const QString&)> transformWrite;  // what the field makes of a written value
    bool acceptsPaste = true;
    bool copiesLineWithoutSelection = false;  // editors copy the current line when nothing is selected

    int valueReads = 0;
    int writes = 0;
};

// One top-level window of a fake application.
struct FakeWindow {
    quint64 id = 0;
    QString appId;
    QString displayName;
    qint64 pid = 0;
    bool terminal = false;     // a terminal emulator: Ctrl+C interrupts, Ctrl+A jumps to the line start
    bool accessible = true;    // exposes its elements on the accessibility bus
    QStringList keysReceived;  // every key combination that reached the window, in order
    QStringList forbiddenKeys; // keys a terminal must never get
    std::vector<std::shared_ptr<FakeField>> fields;
    std::shared_ptr<FakeField> focused;
    std::optional<QRectF> frame; // where it lies on the screen, when the desktop tells
    // The toolkit its application reports. "Gecko" puts U+FEFF after each character outside the
    // Basic Multilingual Plane in every text it gives, and counts offsets with them.
    std::optional<Toolkit> toolkit;
};

// The desktop that unit tests drive: windows with fields, the focused element on the accessibility
// bus, the active window, synthetic keys with their effects, and a clipboard with several formats.
// Copies and pastes land on the FakeClock, after a chosen delay (copies may also never land).
class FakeDesktop final : public Accessibility, public ActiveApp, public KeySynth {
public:
    explicit FakeDesktop(FakeClock& clock);
    ~FakeDesktop() override;

    FakeClipboard& clipboard() { return m_clipboard; }
    FakeClock& clock() { return m_clock; }

    // --- scripting ---
    FakeWindow& openWindow(quint64 id, const QString& appId, const QString& displayName, qint64 pid = 0);
    // Adds a field to the window and focuses it.
    std::shared_ptr<FakeField> addField(FakeWindow& window, FakeField field = {});
    void focus(FakeWindow& window, const std::shared_ptr<FakeField>& field);
    void activate(quint64 windowId);  // 0: no active window
    void closeWindow(quint64 windowId);
    FakeWindow* window(quint64 windowId);
    void setAccessibilityAvailable(bool available) { m_a11yAvailable = available; }
    // The bus restarts: every call answers nothing until the connection is made again.
    void dropAccessibilityConnection() {
        m_a11yAvailable = false;
        m_connectionLost = true;
    }
    void setCopyDelay(std::optional<qint64> ms) { m_copyDelay = ms; }  // nothing: copies never land
    void setPasteDelay(qint64 ms) { m_pasteDelay = ms; }
    // A clipboard manager: this long after every change it becomes the clipboard's owner with the
    // same content (a new change). Nothing: no manager.
    void setClipboardManager(std::optional<qint64> delayMs) { m_managerDelay = delayMs; }
    // The user holds a modifier (Alt) for this long from now.
    void holdModifiersFor(qint64 ms);
    QStringList keyLog() const { return m_keyLog; }  // "<window id>:<keys>", refused sends included as "refused"
    // Accessibility calls into a window while it was still fetching a paste from our clipboard.
    int callsDuringPasteFetch() const { return m_callsDuringFetch; }

    // --- Accessibility ---
    bool available() override { return m_a11yAvailable; }
    bool recoverConnection() override {
        if (!m_connectionLost)
            return false;
        m_connectionLost = false;
        m_a11yAvailable = true;
        return true;
    }
    ElementRef focusedElement() override;
    std::optional<AccessibleValue> value(const ElementRef& element) override;
    std::optional<QList<EmbeddedObject>> embeddedObjects(const ElementRef& element) override;
    std::optional<Toolkit> toolkit(const ElementRef& element) override;
    std::optional<QRectF> extents(const ElementRef& element) override;
    ElementFacts facts(const ElementRef& element) override;
    std::optional<QString> role(const ElementRef& element) override;
    QStringList states(const ElementRef& element) override;
    std::optional<TextRange> selection(const ElementRef& element) override;
    std::optional<QRectF> textExtents(const ElementRef& element, const TextRange& range) override;
    qint64 processId(const ElementRef& element) override;
    int setValue(const ElementRef& element, const QString& text) override;
    bool setSelection(const ElementRef& element, const TextRange& range) override;

    // --- ActiveApp ---
    std::optional<AppInfo> frontmost() override;
    bool isActiveWindow(quint64 windowId) override;
    std::optional<QRectF> windowFrame(quint64 windowId) override;
    std::optional<QRectF> clientArea(quint64 windowId) override { return windowFrame(windowId); }

    // --- KeySynth ---
    bool modifiersHeld() override;
    bool send(KeyCommand command, const KeyTarget& target) override;

private:
    void applyKeys(FakeWindow& window, const QString& keys);
    void copyFrom(const std::shared_ptr<FakeField>& field);
    void pasteInto(quint64 windowId, const std::shared_ptr<FakeField>& field);
    std::shared_ptr<FakeField> fieldOf(const ElementRef& element);
    // A field's text as the element's toolkit gives it.
    QString exposed(const ElementRef& element, const QString& text);
    FakeWindow* activeWindow();

    FakeClock& m_clock;
    FakeClipboard m_clipboard;
    QObject m_timerContext;
    std::map<quint64, std::unique_ptr<FakeWindow>> m_windows;
    quint64 m_active = 0;
    bool m_a11yAvailable = true;
    bool m_connectionLost = false;
    std::optional<qint64> m_copyDelay = 10;
    qint64 m_pasteDelay = 5;
    std::optional<qint64> m_managerDelay;
    bool m_managerOwning = false;
    qint64 m_modifiersReleasedAt = 0;
    QStringList m_keyLog;
    quint64 m_fetchingWindow = 0;
    int m_callsDuringFetch = 0;
};

} // namespace corvane::platform::fake
