#include "platform/fake/FakeDesktop.h"

namespace corvane::platform::fake {

namespace {

class FakeElement final : public AccessibleElement {
public:
    FakeElement(std::weak_ptr<FakeField> f, qint64 p, quint64 w) : field(std::move(f)), pid(p), window(w) {}
    bool sameAs(const AccessibleElement& other) const override {
        const auto* e = dynamic_cast<const FakeElement*>(&other);
        return e && !field.expired() && e->window == window && e->field.lock() == field.lock();
    }
    std::weak_ptr<FakeField> field;
    qint64 pid;
    quint64 window;
};

std::shared_ptr<FakeField> fieldOfElement(const ElementRef& element) {
    auto* e = dynamic_cast<FakeElement*>(element.get());
    return e ? e->field.lock() : nullptr;
}

// Selections count characters (code points), as the accessibility bus does.
QList<uint> codePoints(const QString& s) { return s.toUcs4(); }
QString fromCodePoints(const QList<uint>& cps) {
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData()), cps.size());
}

// What the application copies of a part of the field: each embedded object's own text in its place.
QString shownText(const FakeField& f, int from, int length) {
    const auto cps = codePoints(f.text);
    const int start = std::clamp(from, 0, int(cps.size()));
    const int len = std::clamp(length, 0, int(cps.size()) - start);
    if (f.embedded.empty())
        return fromCodePoints(cps.mid(start, len));
    std::size_t object = std::size_t(std::count(cps.begin(), cps.begin() + start, 0xFFFCu));
    QString out;
    for (int i = start; i < start + len; ++i) {
        if (cps[i] == 0xFFFC && object < f.embedded.size()) {
            const FakeField& inner = *f.embedded[object++];
            out += shownText(inner, 0, int(inner.text.size())); // the whole of it
        } else {
            out += fromCodePoints({cps[i]});
        }
    }
    return out;
}

QString selectedText(const FakeField& f) { return shownText(f, f.selection.start, f.selection.length); }

QString currentLine(const FakeField& f) {
    const auto cps = codePoints(f.text);
    const int caret = std::clamp(f.selection.start, 0, int(cps.size()));
    int begin = caret;
    while (begin > 0 && cps[begin - 1] != '\n')
        --begin;
    int end = caret;
    while (end < cps.size() && cps[end] != '\n')
        ++end;
    return fromCodePoints(cps.mid(begin, end - begin)) + QLatin1Char('\n');
}

} // namespace

FakeDesktop::FakeDesktop(FakeClock& clock) : m_clock(clock) {
    QObject::connect(&m_clipboard, &Clipboard::changed, &m_timerContext, [this] {
        if (!m_managerDelay || m_managerOwning)
            return;
        const quint64 change = m_clipboard.changeCount();
        m_clock.schedule(*m_managerDelay, &m_timerContext, [this, change] {
            // Only what is still on the clipboard is taken over, every format of it.
            if (m_clipboard.changeCount() != change || m_clipboard.snapshot().isEmpty())
                return;
            m_managerOwning = true;
            m_clipboard.userCopies(m_clipboard.snapshot());
            m_managerOwning = false;
        });
    });
}

FakeDesktop::~FakeDesktop() = default;

FakeWindow& FakeDesktop::openWindow(quint64 id, const QString& appId, const QString& displayName, qint64 pid) {
    auto w = std::make_unique<FakeWindow>();
    w->id = id;
    w->appId = appId;
    w->displayName = displayName;
    w->pid = pid;
    auto& ref = *w;
    m_windows[id] = std::move(w);
    m_active = id;
    return ref;
}

std::shared_ptr<FakeField> FakeDesktop::addField(FakeWindow& window, FakeField field) {
    auto f = std::make_shared<FakeField>(std::move(field));
    window.fields.push_back(f);
    window.focused = f;
    return f;
}

void FakeDesktop::focus(FakeWindow& window, const std::shared_ptr<FakeField>& field) { window.focused = field; }

void FakeDesktop::activate(quint64 windowId) { m_active = windowId; }

void FakeDesktop::closeWindow(quint64 windowId) {
    m_windows.erase(windowId);
    if (m_active == windowId)
        m_active = 0;
}

FakeWindow* FakeDesktop::window(quint64 windowId) {
    auto it = m_windows.find(windowId);
    return it == m_windows.end() ? nullptr : it->second.get();
}

FakeWindow* FakeDesktop::activeWindow() { return m_active ? window(m_active) : nullptr; }

void FakeDesktop::holdModifiersFor(qint64 ms) { m_modifiersReleasedAt = m_clock.uptimeMs() + ms; }

// --- Accessibility ---

std::shared_ptr<FakeField> FakeDesktop::fieldOf(const ElementRef& element) {
    auto* e = dynamic_cast<FakeElement*>(element.get());
    // A call into an app that is blocked fetching our clipboard would hang both sides.
    if (e && m_fetchingWindow && e->window == m_fetchingWindow)
        ++m_callsDuringFetch;
    return fieldOfElement(element);
}

ElementRef FakeDesktop::focusedElement() {
    auto* w = activeWindow();
    if (!m_a11yAvailable || !w || !w->accessible || !w->focused)
        return nullptr;
    if (w->id == m_fetchingWindow)
        ++m_callsDuringFetch;
    return std::make_shared<FakeElement>(w->focused, w->pid, w->id);
}

std::optional<AccessibleValue> FakeDesktop::value(const ElementRef& element) {
    auto f = fieldOf(element);
    if (!m_a11yAvailable || !f)
        return std::nullopt;
    ++f->valueReads;
    if (!f->readable)
        return std::nullopt;
    if (f->number)
        return AccessibleValue{AccessibleValue::Kind::Number, {}, *f->number};
    return AccessibleValue{AccessibleValue::Kind::Text, exposed(element, f->text), 0};
}

QString FakeDesktop::exposed(const ElementRef& element, const QString& text) {
    const auto kit = toolkit(element);
    if (!kit || kit->name != QLatin1String("Gecko"))
        return text;
    QString out;
    out.reserve(text.size() + text.size() / 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        out.append(text.at(i));
        if (text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate())
            out.append(QChar(0xFEFF));
    }
    return out;
}

std::optional<QList<EmbeddedObject>> FakeDesktop::embeddedObjects(const ElementRef& element) {
    auto f = fieldOf(element);
    if (!m_a11yAvailable || !f || !f->readable || f->embedded.empty())
        return std::nullopt;
    auto* e = dynamic_cast<FakeElement*>(element.get());
    QList<EmbeddedObject> out;
    const auto cps = codePoints(exposed(element, f->text));
    std::size_t next = 0;
    for (int offset = 0; offset < int(cps.size()) && next < f->embedded.size(); ++offset) {
        if (cps[offset] != 0xFFFC)
            continue;
        const auto& child = f->embedded[next++];
        EmbeddedObject object;
        object.offset = offset;
        object.element = std::make_shared<FakeElement>(child, e->pid, e->window);
        if (child->roleReadable)
            object.role = child->role;
        if (child->readable)
            object.text = exposed(element, child->text);
        out.append(object);
    }
    return out;
}

std::optional<Toolkit> FakeDesktop::toolkit(const ElementRef& element) {
    auto* e = dynamic_cast<FakeElement*>(element.get());
    const FakeWindow* w = e ? window(e->window) : nullptr;
    return (m_a11yAvailable && w) ? w->toolkit : std::nullopt;
}

ElementFacts FakeDesktop::facts(const ElementRef& element) {
    ElementFacts out = Accessibility::facts(element);
    if (auto f = fieldOf(element); m_a11yAvailable && f)
        out.windowExtents = f->windowExtents;
    return out;
}

std::optional<QRectF> FakeDesktop::extents(const ElementRef& element) {
    auto f = fieldOf(element);
    if (!m_a11yAvailable || !f)
        return std::nullopt;
    return f->extents;
}

std::optional<QString> FakeDesktop::role(const ElementRef& element) {
    auto f = fieldOf(element);
    if (!m_a11yAvailable || !f || !f->roleReadable)
        return std::nullopt;
    return f->role;
}

QStringList FakeDesktop::states(const ElementRef& element) {
    auto f = fieldOf(element);
    return (m_a11yAvailable && f) ? f->states : QStringList{};
}

std::optional<TextRange> FakeDesktop::selection(const ElementRef& element) {
    auto f = fieldOf(element);
    if (!m_a11yAvailable || !f || !f->selectionReadable)
        return std::nullopt;
    return f->selection;
}

std::optional<QRectF> FakeDesktop::textExtents(const ElementRef& element, const TextRange&) {
    auto f = fieldOf(element);
    return (m_a11yAvailable && f) ? f->caretExtents : std::nullopt;
}

qint64 FakeDesktop::processId(const ElementRef& element) {
    auto* e = dynamic_cast<FakeElement*>(element.get());
    return e ? e->pid : 0;
}

int FakeDesktop::setValue(const ElementRef& element, const QString& text) {
    auto f = fieldOf(element);
    if (!m_a11yAvailable || !f)
        return -25202;
    ++f->writes;
    if (!f->writable)
        return f->refusedStatus;
    if (f->writeWithoutEffect)
        return 0;
    if (auto other = f->writeLandsIn.lock()) {
        for (auto& [id, w] : m_windows)
            for (auto& candidate : w->fields)
                if (candidate == other)
                    w->focused = other;
        other->text = text;
        return 0;
    }
    f->text = f->transformWrite ? f->transformWrite(text) : text;
    f->number.reset();
    f->selection = {int(codePoints(f->text).size()), 0};
    return 0;
}

bool FakeDesktop::setSelection(const ElementRef& element, const TextRange& range) {
    auto f = fieldOf(element);
    if (!m_a11yAvailable || !f)
        return false;
    f->selection = range;
    return true;
}

// --- ActiveApp ---

std::optional<AppInfo> FakeDesktop::frontmost() {
    auto* w = activeWindow();
    if (!w)
        return std::nullopt;
    return AppInfo{w->appId, w->displayName, w->pid, w->id};
}

bool FakeDesktop::isActiveWindow(quint64 windowId) { return windowId != 0 && windowId == m_active && window(windowId); }

std::optional<QRectF> FakeDesktop::windowFrame(quint64 windowId) {
    const FakeWindow* w = window(windowId);
    return w ? w->frame : std::nullopt;
}

// --- KeySynth ---

bool FakeDesktop::modifiersHeld() { return m_clock.uptimeMs() < m_modifiersReleasedAt; }

bool FakeDesktop::send(KeyCommand command, const KeyTarget& target) {
    if (!isActiveWindow(target.windowId)) {
        m_keyLog << QString::number(target.windowId) + QStringLiteral(":refused");
        return false;
    }
    // Terminals copy and paste with Shift and have no select-all. (The X11 backend is stricter: it
    // refuses to copy in any terminal, since Ctrl+Shift+C is Ctrl+C in xterm; these scenarios keep
    // the copy so the engine's terminal read path stays covered.)
    QString keys;
    switch (command) {
    case KeyCommand::SelectAll:
        if (target.terminal)
            return false;
        keys = QStringLiteral("Ctrl+A");
        break;
    case KeyCommand::Copy:
        keys = target.terminal ? QStringLiteral("Ctrl+Shift+C") : QStringLiteral("Ctrl+C");
        break;
    case KeyCommand::Paste:
        keys = target.terminal ? QStringLiteral("Ctrl+Shift+V") : QStringLiteral("Ctrl+V");
        break;
    case KeyCommand::CollapseSelection:
        keys = QStringLiteral("Right");
        break;
    }
    // Synthetic keys combine with what the user still holds.
    if (modifiersHeld())
        keys = keys.startsWith(QLatin1String("Ctrl+")) ? QStringLiteral("Ctrl+Alt+") + keys.mid(5)
                                                         : QStringLiteral("Alt+") + keys;
    auto& w = *activeWindow();
    m_keyLog << QString::number(w.id) + QLatin1Char(':') + keys;
    applyKeys(w, keys);
    return true;
}

void FakeDesktop::applyKeys(FakeWindow& w, const QString& keys) {
    w.keysReceived << keys;
    if (w.terminal && (keys == QLatin1String("Ctrl+C") || keys == QLatin1String("Ctrl+A"))) {
        w.forbiddenKeys << keys;
        return;
    }
    auto f = w.focused;
    if (!f)
        return;
    if (keys == QLatin1String("Ctrl+A")) {
        f->selection = {0, int(codePoints(f->text).size())};
    } else if (keys == QLatin1String("Ctrl+C") || keys == QLatin1String("Ctrl+Shift+C")) {
        copyFrom(f);
    } else if (keys == QLatin1String("Ctrl+V") || keys == QLatin1String("Ctrl+Shift+V")) {
        pasteInto(w.id, f);
    } else if (keys == QLatin1String("Right")) {
        f->selection = {f->selection.start + f->selection.length, 0};
    }
}

void FakeDesktop::copyFrom(const std::shared_ptr<FakeField>& f) {
    QString copied = selectedText(*f);
    if (copied.isEmpty() && f->copiesLineWithoutSelection)
        copied = currentLine(*f);
    if (copied.isEmpty() || !m_copyDelay)
        return;
    m_clock.schedule(*m_copyDelay, &m_timerContext, [this, copied] { m_clipboard.userCopiesText(copied); });
}

void FakeDesktop::pasteInto(quint64 windowId, const std::shared_ptr<FakeField>& f) {
    std::weak_ptr<FakeField> weak = f;
    m_fetchingWindow = windowId;
    m_clock.schedule(m_pasteDelay, &m_timerContext, [this, weak] {
        m_fetchingWindow = 0;
        auto field = weak.lock();
        const QString pasted = m_clipboard.serveText();
        if (!field || !field->acceptsPaste)
            return;
        auto cps = codePoints(field->text);
        const int start = std::clamp(field->selection.start, 0, int(cps.size()));
        const int len = std::clamp(field->selection.length, 0, int(cps.size()) - start);
        const auto inserted = codePoints(pasted);
        cps.remove(start, len);
        for (int i = 0; i < inserted.size(); ++i)
            cps.insert(start + i, inserted[i]);
        field->text = fromCodePoints(cps);
        field->number.reset();
        field->selection = {start + int(inserted.size()), 0};
    });
}

} // namespace corvane::platform::fake
