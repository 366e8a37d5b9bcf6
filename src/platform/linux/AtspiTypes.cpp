#include "platform/linux/AtspiTypes.h"
#include <QGuiApplication>
#include <QScreen>
#include <array>

namespace corvane::platform::linux_::atspi {

namespace {
// In bit order, as the bus numbers them.
constexpr std::array<const char*, 44> kStateNames = {
    "invalid",     "active",       "armed",        "busy",           "checked",       "collapsed",
    "defunct",     "editable",     "enabled",      "expandable",     "expanded",      "focusable",
    "focused",     "has-tooltip",  "horizontal",   "iconified",      "modal",         "multi-line",
    "multiselectable", "opaque",   "pressed",      "resizable",      "selectable",    "selected",
    "sensitive",   "showing",      "single-line",  "stale",          "transient",     "vertical",
    "visible",     "manages-descendants", "indeterminate", "required", "truncated",   "animated",
    "invalid-entry", "supports-autocompletion", "selectable-text", "is-default", "visited", "checkable",
    "has-popup",   "read-only",
};
} // namespace

bool hasState(const QList<uint>& words, int bit) {
    const int word = bit / 32;
    if (bit < 0 || word >= words.size())
        return false;
    return (words.at(word) >> (bit % 32)) & 1u;
}

QStringList stateNames(const QList<uint>& words) {
    QStringList names;
    for (int bit = 1; bit < int(kStateNames.size()); ++bit)
        if (hasState(words, bit))
            names << QString::fromLatin1(kStateNames[std::size_t(bit)]);
    return names;
}

QRectF toLogical(const QRect& native, const QList<ScreenGeometry>& screens) {
    if (screens.isEmpty())
        return QRectF(native);
    const ScreenGeometry* holder = &screens.constFirst();
    for (const auto& screen : screens) {
        const qreal dpr = screen.devicePixelRatio > 0 ? screen.devicePixelRatio : 1;
        const QRectF nativeArea(screen.logical.topLeft(), QSizeF(screen.logical.size()) * dpr);
        if (nativeArea.contains(native.topLeft())) {
            holder = &screen;
            break;
        }
    }
    const qreal dpr = holder->devicePixelRatio > 0 ? holder->devicePixelRatio : 1;
    const QPointF origin = holder->logical.topLeft();
    const QPointF topLeft = origin + (QPointF(native.topLeft()) - origin) / dpr;
    return QRectF(topLeft, QSizeF(native.size()) / dpr);
}

QList<ScreenGeometry> screenGeometries() {
    QList<ScreenGeometry> out;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return out;
    for (QScreen* screen : QGuiApplication::screens())
        out.append({screen->geometry(), screen->devicePixelRatio()});
    return out;
}

void FocusHistory::remove(const QString& service, const QString& path) {
    m_candidates.removeIf([&](const FocusCandidate& c) { return c.service == service && c.path == path; });
}

void FocusHistory::trim() {
    while (m_candidates.size() > kMaxRemembered)
        m_candidates.removeLast();
}

void FocusHistory::focusChanged(const QString& service, const QString& path, bool focused) {
    if (service.isEmpty() || path.isEmpty())
        return;
    m_seenAny = true;
    // Keep what an earlier active-descendant event said about the element's container.
    QString container;
    for (const FocusCandidate& c : std::as_const(m_candidates))
        if (c.service == service && c.path == path)
            container = c.container;
    remove(service, path);
    if (focused)
        m_candidates.prepend({service, path, container});
    else
        m_candidates.append({service, path, container});
    trim();
    if (focused)
        m_lastFocused.insert(service, path);
}

std::optional<QString> FocusHistory::lastFocused(const QString& service) const {
    const auto it = m_lastFocused.constFind(service);
    return it == m_lastFocused.constEnd() ? std::nullopt : std::optional<QString>(*it);
}

void FocusHistory::activeDescendantChanged(const QString& service, const QString& container,
                                           const QString& descendantService, const QString& descendantPath) {
    // A descendant always lives in its container's application.
    if (service.isEmpty() || container.isEmpty() || descendantService != service || descendantPath.isEmpty())
        return;
    m_seenAny = true;
    m_candidates.removeIf([&](const FocusCandidate& c) { return c.service == service && c.container == container; });
    remove(descendantService, descendantPath);
    m_candidates.prepend({descendantService, descendantPath, container});
    trim();
    m_lastFocused.insert(service, descendantPath);
}

void FocusHistory::forgetApp(const QString& service) {
    m_candidates.removeIf([&](const FocusCandidate& c) { return c.service == service; });
    m_lastFocused.remove(service);
}

} // namespace corvane::platform::linux_::atspi
