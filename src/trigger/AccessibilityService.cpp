#include "trigger/AccessibilityService.h"
#include "platform/RunTrace.h"
#include <QLocale>

namespace corvane::trigger {

AccessibilityService::AccessibilityService(platform::Accessibility& accessibility) : m_a11y(accessibility) {}

FieldKind AccessibilityService::classify(const std::optional<QString>& role, const QStringList& states) {
    const auto has = [&](const char* state) { return states.contains(QLatin1String(state)); };
    if (has("password") || (role && *role == QLatin1String("password text")))
        return FieldKind::Password;
    if (!role)
        return FieldKind::Other;
    const QString& r = *role;
    if (r == QLatin1String("terminal"))
        return FieldKind::Terminal;
    if (r == QLatin1String("entry") || r == QLatin1String("spin button") || r == QLatin1String("editbar"))
        return FieldKind::TextField;
    if (r == QLatin1String("text") || r == QLatin1String("document text") || r == QLatin1String("paragraph"))
        return has("single-line") ? FieldKind::TextField : FieldKind::TextArea;
    return FieldKind::Other;
}

platform::ElementRef AccessibilityService::focusedElement() {
    if (!m_a11y.available())
        return nullptr;
    return m_a11y.focusedElement();
}

bool AccessibilityService::isPassword(const platform::ElementRef& element) {
    return classify(m_a11y.role(element), m_a11y.states(element)) == FieldKind::Password;
}

std::optional<QString> AccessibilityService::getText(const platform::ElementRef& element) {
    const auto value = m_a11y.value(element);
    if (!value)
        return std::nullopt;
    if (value->kind == platform::AccessibleValue::Kind::Text)
        return value->text;
    // A number reads as its shortest decimal text: 42 gives "42", 0.5 gives "0.5".
    return QLocale::c().toString(value->number, 'g', QLocale::FloatingPointShortest);
}

template <class Read>
auto AccessibilityService::reconnecting(Read read) {
    auto result = read();
    if (!result && m_a11y.recoverConnection())
        result = read();
    return result;
}

std::optional<AccessibilityService::ElementInfo> AccessibilityService::getFocusedElementInfo() {
    return reconnecting([this] { return readFocusedElementInfo(); });
}

std::optional<AccessibilityService::FocusedProbe> AccessibilityService::probeFocusedElement() {
    return reconnecting([this] { return readFocusedProbe(); });
}

std::optional<QString> AccessibilityService::focusedElementValue() {
    return reconnecting([this] { return readFocusedElementValue(); });
}

std::optional<AccessibilityService::ElementInfo> AccessibilityService::readFocusedElementInfo() {
    auto element = focusedElement();
    platform::runtrace::mark("found");
    if (!element)
        return std::nullopt;
    const platform::ElementFacts facts = m_a11y.facts(element);
    const auto kind = classify(facts.role, facts.states);
    platform::runtrace::mark("facts");
    if (kind == FieldKind::Password)
        return std::nullopt;
    auto text = getText(element);
    platform::runtrace::mark("text");
    if (!text)
        return std::nullopt;
    ElementInfo info{element, std::move(*text), {}, {}, kind};
    if (const auto& rect = facts.extents) {
        info.position = rect->topLeft();
        info.size = rect->size();
    }
    return info;
}

std::optional<AccessibilityService::FocusedProbe> AccessibilityService::readFocusedProbe() {
    auto element = focusedElement();
    if (!element)
        return std::nullopt;
    FocusedProbe probe;
    probe.role = m_a11y.role(element);
    probe.kind = classify(probe.role, m_a11y.states(element));
    if (const auto range = m_a11y.selection(element)) {
        probe.selectionKnown = true;
        probe.hasSelection = range->length > 0;
    }
    return probe;
}

int AccessibilityService::replaceText(const platform::ElementRef& element, const QString& text) {
    if (!element || !m_a11y.available())
        return kWriteHadNoEffect;
    const int status = m_a11y.setValue(element, text);
    if (status != kSuccess)
        return status;
    if (getText(element) == text)
        return kSuccess;
    // Some fields hand the focus to an inner element that takes the text.
    if (auto now = focusedElement(); now && !isPassword(now) && getText(now) == text)
        return kSuccess;
    return kWriteHadNoEffect;
}

std::optional<QString> AccessibilityService::readFocusedElementValue() {
    auto element = focusedElement();
    if (!element || isPassword(element))
        return std::nullopt;
    return getText(element);
}

bool AccessibilityService::focusMovedFrom(const platform::ElementRef& element) {
    if (!element)
        return false;
    const auto now = focusedElement();
    return now && !now->sameAs(*element);
}

void AccessibilityService::selectAll(const platform::ElementRef& element) {
    if (!element)
        return;
    const auto text = getText(element);
    if (!text)
        return;
    m_a11y.setSelection(element, {0, int(text->toUcs4().size())});
}

} // namespace corvane::trigger
