// The text side of the AT-SPI backend: an element's value, the objects embedded in its text,
// its application's toolkit, selection and caret and where they stand, and writing a whole new text.
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AtspiNames.h"

namespace corvane::platform::linux_ {

using namespace atspi;

std::optional<AccessibleValue> AtspiAccessibility::value(const ElementRef& element) {
    auto* e = live(element);
    if (!e)
        return std::nullopt;
    const QStringList ifaces = interfaces(*e);
    if (ifaces.contains(kText)) {
        auto text = stringFrom(m_bus.call(e->node.service, e->node.path, kText, QStringLiteral("GetText"), {0, -1}));
        if (!text)
            return std::nullopt;
        AccessibleValue v;
        v.text = std::move(*text);
        return v;
    }
    if (ifaces.contains(kValue)) {
        auto current = m_bus.property(e->node.service, e->node.path, kValue, QStringLiteral("CurrentValue"));
        if (!current)
            return std::nullopt;
        bool ok = false;
        const double number = current->toDouble(&ok);
        if (!ok)
            return std::nullopt;
        AccessibleValue v;
        v.kind = AccessibleValue::Kind::Number;
        v.number = number;
        return v;
    }
    return std::nullopt;
}

std::optional<QList<EmbeddedObject>> AtspiAccessibility::embeddedObjects(const ElementRef& element) {
    auto* e = live(element);
    if (!e || !interfaces(*e).contains(kHypertext))
        return std::nullopt;
    const auto count = intCall(e->node, kHypertext, QStringLiteral("GetNLinks"), {});
    if (!count || *count < 0 || *count > m_limits.maxEmbeddedObjects)
        return std::nullopt;
    // Three rounds, each asked at once: the links, then where each stands and what it stands
    // for, then that object's role and text.
    QList<QDBusMessage> calls;
    for (int i = 0; i < *count; ++i)
        calls.append(methodCall(e->node.service, e->node.path, kHypertext, QStringLiteral("GetLink"), {i}));
    QList<Node> links;
    for (const QDBusMessage& reply : m_bus.callAll(calls)) {
        const auto link = objectFrom(reply);
        if (!link)
            return std::nullopt;
        links.append({link->first, link->second});
    }
    calls.clear();
    for (const Node& link : std::as_const(links)) {
        calls.append(propertyCall(link.service, link.path, kHyperlink, QStringLiteral("StartIndex")));
        calls.append(methodCall(link.service, link.path, kHyperlink, QStringLiteral("GetObject"), {0}));
    }
    const QList<QDBusMessage> placed = m_bus.callAll(calls);
    QList<EmbeddedObject> out;
    calls.clear();
    for (qsizetype i = 0; i + 1 < placed.size(); i += 2) {
        const auto start = propertyFrom(placed.at(i));
        const auto object = objectFrom(placed.at(i + 1));
        bool ok = false;
        const int offset = start ? start->toInt(&ok) : -1;
        if (!ok || offset < 0 || !object)
            return std::nullopt;
        EmbeddedObject embedded;
        embedded.offset = offset;
        embedded.element = makeElement({object->first, object->second});
        out.append(embedded);
        calls.append(methodCall(object->first, object->second, kAccessible, QStringLiteral("GetRoleName")));
        calls.append(methodCall(object->first, object->second, kText, QStringLiteral("GetText"), {0, -1}));
    }
    const QList<QDBusMessage> described = m_bus.callAll(calls);
    for (qsizetype i = 0; i < out.size(); ++i) {
        out[i].role = stringFrom(described.at(2 * i));
        out[i].text = stringFrom(described.at(2 * i + 1));
    }
    return out;
}

std::optional<Toolkit> AtspiAccessibility::toolkit(const ElementRef& element) {
    auto* e = live(element);
    if (!e)
        return std::nullopt;
    const auto known = m_toolkits.constFind(e->node.service);
    if (known != m_toolkits.constEnd())
        return *known;
    const QList<QDBusMessage> replies =
        m_bus.callAll(QList<QDBusMessage>{propertyCall(e->node.service, kRootPath, kApplication, QStringLiteral("ToolkitName")),
                       propertyCall(e->node.service, kRootPath, kApplication, QStringLiteral("Version"))});
    const auto name = propertyFrom(replies.at(0));
    if (!name)
        return std::nullopt;
    const Toolkit toolkit{name->toString(), propertyFrom(replies.at(1)).value_or(QVariant()).toString()};
    m_toolkits.insert(e->node.service, toolkit);
    return toolkit;
}

QList<QDBusMessage> AtspiAccessibility::selectionCalls(const QString& service, const QString& path) {
    return {methodCall(service, path, kText, QStringLiteral("GetNSelections")),
            methodCall(service, path, kText, QStringLiteral("GetSelection"), {0}),
            propertyCall(service, path, kText, QStringLiteral("CaretOffset"))};
}

std::optional<TextRange> AtspiAccessibility::selectionFrom(const QList<QDBusMessage>& replies) {
    if (replies.size() < 3 || !isReply(replies.at(0)) || replies.at(0).arguments().isEmpty())
        return std::nullopt;
    if (replies.at(0).arguments().constFirst().toInt() > 0) {
        const QDBusMessage& first = replies.at(1);
        if (!isReply(first) || first.arguments().size() < 2)
            return std::nullopt;
        const int a = first.arguments().at(0).toInt();
        const int b = first.arguments().at(1).toInt();
        return TextRange{qMin(a, b), qAbs(b - a)};
    }
    const auto caret = propertyFrom(replies.at(2));
    if (!caret)
        return std::nullopt;
    return TextRange{qMax(0, caret->toInt()), 0};
}

std::optional<TextRange> AtspiAccessibility::selection(const ElementRef& element) {
    auto* e = live(element);
    if (!e || !interfaces(*e).contains(kText))
        return std::nullopt;
    return selectionFrom(m_bus.callAll(selectionCalls(e->node.service, e->node.path)));
}

std::optional<QRectF> AtspiAccessibility::textExtents(const ElementRef& element, const TextRange& range) {
    auto* e = live(element);
    if (!e || range.start < 0 || range.length < 0 || !interfaces(*e).contains(kText))
        return std::nullopt;
    // The first and the last character, never the range at once: a toolkit may measure a range
    // character by character, and a selection may hold the whole text. For a caret, the character
    // before it too, with its text: Qt gives nothing for a caret after the last character, which
    // stands on that character's line, or on the next one after a line break. GTK 4 refuses
    // screen coordinates for text and measures it within its window (as it answers for its
    // extents on the screen too): its window's coordinates stand in. All in one round trip.
    // (Qt 6.4 measures a plain text edit's characters as if each paragraph were its first, so the
    // line it tells there may be too high: that is its answer all the same.)
    const auto at = [&](int offset, uint coordType) {
        return methodCall(e->node.service, e->node.path, kText, QStringLiteral("GetCharacterExtents"),
                          {offset, coordType});
    };
    const bool caret = range.length == 0;
    const int other = caret ? range.start - 1 : range.start + range.length - 1;
    QList<QDBusMessage> calls{at(range.start, kCoordTypeScreen), at(range.start, kCoordTypeWindow)};
    if (other >= 0 && other != range.start)
        calls << at(other, kCoordTypeScreen) << at(other, kCoordTypeWindow);
    if (caret && other >= 0)
        calls << methodCall(e->node.service, e->node.path, kText, QStringLiteral("GetText"), {other, range.start});
    const QList<QDBusMessage> replies = m_bus.callAll(calls);
    const QList<ScreenGeometry> screens = screenGeometries();
    const auto rectAt = [&](qsizetype i) -> std::optional<QRectF> {
        for (const qsizetype k : {i, i + 1}) {
            const QVariantList a = isReply(replies.value(k)) ? replies.value(k).arguments() : QVariantList();
            if (a.size() >= 4 && a.at(2).toInt() >= 0 && a.at(3).toInt() >= 0)
                return toLogical(QRect(a.at(0).toInt(), a.at(1).toInt(), a.at(2).toInt(), a.at(3).toInt()), screens);
        }
        return std::nullopt;
    };
    const auto first = rectAt(0);
    const auto second = calls.size() > 2 ? rectAt(2) : first;
    if (!caret)
        return first && second ? std::optional(first->united(*second)) : std::nullopt;
    if ((first && first->height() > 0) || !second || second->height() <= 0)
        return first;
    const QString before = stringFrom(replies.value(4)).value_or(QString());
    const bool lineBreak = before.size() == 1 && QStringLiteral("\n\r\u2028\u2029").contains(before);
    return lineBreak ? second->translated(0, second->height()) : *second;
}

int AtspiAccessibility::setValue(const ElementRef& element, const QString& text) {
    auto* e = live(element);
    if (!e || !available())
        return AtspiWriteFailed;
    if (!interfaces(*e).contains(kEditableText))
        return e->interfaces ? AtspiWriteUnsupported : AtspiWriteFailed;
    QDBusMessage reply =
        m_bus.call(e->node.service, e->node.path, kEditableText, QStringLiteral("SetTextContents"), {text});
    if (!isReply(reply) || reply.arguments().isEmpty())
        return AtspiWriteFailed;
    return reply.arguments().constFirst().toBool() ? 0 : AtspiWriteRefused;
}

bool AtspiAccessibility::setSelection(const ElementRef& element, const TextRange& range) {
    auto* e = live(element);
    if (!e || range.start < 0 || range.length < 0 || !interfaces(*e).contains(kText))
        return false;
    auto count = intCall(e->node, kText, QStringLiteral("GetNSelections"), {});
    if (!count)
        return false;
    auto boolCall = [&](const QString& method, const QVariantList& args) {
        QDBusMessage reply = m_bus.call(e->node.service, e->node.path, kText, method, args);
        return isReply(reply) && !reply.arguments().isEmpty() && reply.arguments().constFirst().toBool();
    };
    if (range.length == 0) {
        for (int i = *count - 1; i >= 0; --i)
            boolCall(QStringLiteral("RemoveSelection"), {i});
        return boolCall(QStringLiteral("SetCaretOffset"), {range.start});
    }
    const int end = range.start + range.length;
    if (*count > 0)
        return boolCall(QStringLiteral("SetSelection"), {0, range.start, end});
    return boolCall(QStringLiteral("AddSelection"), {range.start, end});
}

std::optional<int> AtspiAccessibility::intCall(const Node& node, const QString& iface, const QString& method,
                                               const QVariantList& args) {
    QDBusMessage reply = m_bus.call(node.service, node.path, iface, method, args);
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const int v = reply.arguments().constFirst().toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

} // namespace corvane::platform::linux_
