#include "trigger/AccessibilityService.h"
#include "platform/RunTrace.h"
#include "trigger/FieldText.h"
#include <QLocale>
#include <algorithm>

namespace corvane::trigger {

namespace {

bool inside(const QRectF& outer, const QRectF& inner) {
    return inner.left() >= outer.left() && inner.top() >= outer.top() && inner.right() <= outer.right() &&
           inner.bottom() <= outer.bottom();
}

} // namespace

AccessibilityService::AccessibilityService(platform::Accessibility& accessibility, platform::ActiveApp* activeApp)
    : m_a11y(accessibility), m_activeApp(activeApp) {}

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
        return has("read-only") && !has("editable") ? FieldKind::Other : FieldKind::TextField;
    // Text views, an office suite's paragraph, a rich editor's region or document; each takes
    // text only while editable (every text object of a page offers its text too).
    static const QStringList textRoles = {
        QStringLiteral("text"),         QStringLiteral("document text"), QStringLiteral("paragraph"),
        QStringLiteral("section"),      QStringLiteral("document web"),  QStringLiteral("document frame"),
        QStringLiteral("document email"),
    };
    if (has("editable") && textRoles.contains(r))
        return has("single-line") ? FieldKind::TextField : FieldKind::TextArea;
    return FieldKind::Other;
}

bool AccessibilityService::isField(const std::optional<QString>& role, const QStringList& states) {
    const FieldKind kind = classify(role, states);
    if (kind == FieldKind::Password)
        return false;
    // A terminal takes what is typed too; a run treats it by the rules for terminals.
    return kind != FieldKind::Other || states.contains(QLatin1String("editable"));
}

platform::ElementRef AccessibilityService::focusedElement() {
    if (!m_a11y.available())
        return nullptr;
    return m_a11y.focusedElement();
}

bool AccessibilityService::isPassword(const platform::ElementRef& element) {
    return classify(m_a11y.role(element), m_a11y.states(element)) == FieldKind::Password;
}

std::optional<QString> AccessibilityService::textOf(const platform::ElementRef& element) {
    const auto value = m_a11y.value(element);
    if (!value)
        return std::nullopt;
    // A number reads as its shortest decimal text: 42 gives "42", 0.5 gives "0.5".
    if (value->kind == platform::AccessibleValue::Kind::Number)
        return QLocale::c().toString(value->number, 'g', QLocale::FloatingPointShortest);
    QString text = fieldtext::expanded(m_a11y, element, value->text);
    if (fieldtext::mayHoldFillers(text) && fieldtext::padsAstralCharacters(m_a11y.toolkit(element)))
        text = fieldtext::withoutFillers(text);
    return text;
}

template <class Read>
auto AccessibilityService::reconnecting(Read read) {
    auto result = read();
    if (!result && m_a11y.recoverConnection())
        result = read();
    return result;
}

std::optional<AccessibilityService::ElementInfo> AccessibilityService::getFocusedElementInfo(Miss* miss, bool place) {
    Miss why = Miss::None;
    auto info = reconnecting([&] { return readFocusedElementInfo(why, place); });
    if (miss)
        *miss = info ? Miss::None : why;
    return info;
}

std::optional<AccessibilityService::FocusedProbe> AccessibilityService::probeFocusedElement(bool withLine) {
    return reconnecting([&] { return readFocusedProbe(withLine); });
}

std::optional<QString> AccessibilityService::focusedElementValue() {
    auto info = getFocusedElementInfo(nullptr, false);
    return info ? std::optional<QString>(std::move(info->text)) : std::nullopt;
}

std::optional<AccessibilityService::ElementInfo> AccessibilityService::readFocusedElementInfo(Miss& miss, bool place) {
    auto element = focusedElement();
    platform::runtrace::mark("found");
    if (!element) {
        miss = Miss::NoElement;
        return std::nullopt;
    }
    const platform::ElementFacts facts = m_a11y.facts(element);
    const auto kind = classify(facts.role, facts.states);
    platform::runtrace::mark("facts");
    if (kind == FieldKind::Password) {
        miss = Miss::Password;
        return std::nullopt;
    }
    // Every text object offers its text, editable or not: only a field is ever read.
    if (!isField(facts.role, facts.states)) {
        miss = Miss::NotAField;
        return std::nullopt;
    }
    auto text = textOf(element);
    platform::runtrace::mark("text");
    if (!text) {
        miss = Miss::Unreadable;
        return std::nullopt;
    }
    // A text with an object that could not be read is not the field's text: it is never sent.
    if (text->contains(QChar(fieldtext::kPlaceholder))) {
        miss = Miss::Placeholders;
        return std::nullopt;
    }
    ElementInfo info{element, std::move(*text), {}, {}, kind, std::nullopt};
    if (place && facts.extents) {
        const QRectF rect = onScreen(element, facts);
        info.position = rect.topLeft();
        info.size = rect.size();
        info.line = lineOf(element, facts, rect);
    }
    return info;
}

QRectF AccessibilityService::onScreen(const platform::ElementRef& element, const platform::ElementFacts& facts) {
    const QRectF rect = *facts.extents;
    // A toolkit that answers the same for screen and window coordinates gives one of the two for
    // both: GTK 4 its window's, Qt 6.4 the screen's. Window coordinates lie within the window's
    // own size; moved by the window's place, they lie within the window.
    if (!m_activeApp || facts.windowExtents != rect)
        return rect;
    const auto app = m_activeApp->frontmost();
    const auto area = app ? m_activeApp->clientArea(app->windowId) : std::nullopt;
    if (!area || area->topLeft().isNull() || !inside(QRectF(QPointF(), area->size()), rect))
        return rect;
    if (inside(*area, rect)) {
        // Both readings fit: only the toolkit tells.
        const auto kit = m_a11y.toolkit(element);
        if (!kit || kit->name.compare(QLatin1String("GTK"), Qt::CaseInsensitive) != 0 || kit->majorVersion() < 4)
            return rect;
    }
    return rect.translated(area->topLeft());
}

std::optional<QRectF> AccessibilityService::lineOf(const platform::ElementRef& element,
                                                   const platform::ElementFacts& facts, const QRectF& field) {
    if (!facts.selection || !facts.extents)
        return std::nullopt;
    const auto raw = m_a11y.textExtents(element, *facts.selection);
    // An empty or zero rectangle (a caret in an empty field, a toolkit that measures nothing), or
    // one off the field (a caret scrolled out of sight): neither is the user's line.
    if (!raw || raw->height() <= 0)
        return std::nullopt;
    const QRectF line = raw->translated(field.topLeft() - facts.extents->topLeft());
    const double top = std::max(line.top(), field.top());
    const double bottom = std::min(line.bottom(), field.bottom());
    if (bottom <= top)
        return std::nullopt;
    return QRectF(line.left(), top, line.width(), bottom - top);
}

std::optional<AccessibilityService::FocusedProbe> AccessibilityService::readFocusedProbe(bool withLine) {
    auto element = focusedElement();
    if (!element)
        return std::nullopt;
    const platform::ElementFacts facts = m_a11y.facts(element);
    FocusedProbe probe;
    probe.role = facts.role;
    probe.kind = classify(probe.role, facts.states);
    probe.field = isField(probe.role, facts.states);
    if (facts.selection) {
        probe.selectionKnown = true;
        probe.hasSelection = facts.selection->length > 0;
    }
    // Only a field's line is measured: focus on anything else (a page being scrolled) ends the run,
    // or is copied from in an app whose bus says too little to place a line by.
    if (withLine && probe.field && facts.extents)
        probe.line = lineOf(element, facts, onScreen(element, facts));
    return probe;
}

int AccessibilityService::replaceText(const platform::ElementRef& element, const QString& text) {
    if (!element || !m_a11y.available())
        return kWriteHadNoEffect;
    const int status = m_a11y.setValue(element, text);
    if (status != kSuccess)
        return status;
    if (textOf(element) == text)
        return kSuccess;
    // Some fields hand the focus to an inner element that takes the text.
    if (auto now = focusedElement(); now && !isPassword(now) && textOf(now) == text)
        return kSuccess;
    return kWriteHadNoEffect;
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
    // The whole value in the characters the interface counts (placeholders and fillers included).
    const auto value = m_a11y.value(element);
    if (!value)
        return;
    const QString raw = value->kind == platform::AccessibleValue::Kind::Text
                            ? value->text
                            : QLocale::c().toString(value->number, 'g', QLocale::FloatingPointShortest);
    m_a11y.setSelection(element, {0, fieldtext::characterCount(raw)});
}

} // namespace corvane::trigger
