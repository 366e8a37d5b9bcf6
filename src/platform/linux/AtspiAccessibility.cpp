#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AtspiNames.h"
#include "platform/linux/AtspiTypes.h"
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QSet>

namespace corvane::platform::linux_ {

namespace {
using namespace atspi;
const auto kEventObject = QStringLiteral("org.a11y.atspi.Event.Object");
const auto kRegistryPath = QStringLiteral("/org/a11y/atspi/registry");
const auto kRegistryIface = QStringLiteral("org.a11y.atspi.Registry");

QElapsedTimer& monotonic() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

// The answers to GetState and GetInterfaces; nothing for an error or an empty reply.
std::optional<QList<uint>> stateWordsFrom(const QDBusMessage& reply) {
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant v = reply.arguments().constFirst();
    if (v.canConvert<QDBusArgument>())
        return qdbus_cast<QList<uint>>(v.value<QDBusArgument>());
    return v.value<QList<uint>>();
}

std::optional<QStringList> interfacesFrom(const QDBusMessage& reply) {
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant v = reply.arguments().constFirst();
    return v.canConvert<QDBusArgument>() ? qdbus_cast<QStringList>(v.value<QDBusArgument>()) : v.toStringList();
}

std::optional<QRectF> extentsFrom(const QDBusMessage& reply) {
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    const auto arg = reply.arguments().constFirst().value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("(iiii)"))
        return std::nullopt;
    int x = 0, y = 0, w = 0, h = 0;
    arg.beginStructure();
    arg >> x >> y >> w >> h;
    arg.endStructure();
    if (w < 0 || h < 0)
        return std::nullopt;
    return atspi::toLogical(QRect(x, y, w, h), atspi::screenGeometries());
}

} // namespace

// Receives the bus's focus signals on the main loop and hands them to the history.
class AtspiFocusEvents final : public QObject {
    Q_OBJECT
public:
    explicit AtspiFocusEvents(atspi::FocusHistory& history) : m_history(history) {}

public Q_SLOTS:
    void stateChanged(const QDBusMessage& message) {
        const QVariantList args = message.arguments();
        if (args.size() < 2 || args.at(0).toString() != QLatin1String("focused"))
            return;
        m_history.focusChanged(message.service(), message.path(), args.at(1).toInt() != 0);
    }
    void activeDescendantChanged(const QDBusMessage& message) {
        const QVariantList args = message.arguments();
        if (args.size() < 4)
            return;
        const QVariant any = args.at(3).value<QDBusVariant>().variant();
        if (!any.canConvert<QDBusArgument>())
            return;
        const auto arg = any.value<QDBusArgument>();
        if (arg.currentSignature() != QLatin1String("(so)"))
            return;
        if (const auto descendant = objectIn(arg))
            m_history.activeDescendantChanged(message.service(), message.path(), descendant->first, descendant->second);
    }
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner) {
        if (!oldOwner.isEmpty() && newOwner.isEmpty())
            m_history.forgetApp(name);
    }

private:
    atspi::FocusHistory& m_history;
};

ElementRef AtspiAccessibility::makeElement(const Node& node) const {
    return std::make_shared<Element>(node.service, node.path, m_bus.generation());
}

AtspiAccessibility::Element* AtspiAccessibility::live(const ElementRef& element) const {
    auto* e = dynamic_cast<Element*>(element.get());
    // An element of an earlier bus is gone; its name may belong to another application now.
    return e && e->generation == m_bus.generation() ? e : nullptr;
}

AtspiAccessibility::AtspiAccessibility(ActiveApp* activeApp) : AtspiAccessibility(activeApp, Limits{}) {}

AtspiAccessibility::AtspiAccessibility(ActiveApp* activeApp, Limits limits)
    : m_limits(limits), m_activeApp(activeApp), m_bus(limits.callTimeoutMs),
      m_events(std::make_unique<AtspiFocusEvents>(m_history)) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::available() {
    if (!m_bus.ensureConnected())
        return false;
    followFocus();
    return true;
}

bool AtspiAccessibility::recoverConnection() {
    if (!m_bus.connectionLost())
        return false;
    return available();
}

void AtspiAccessibility::followFocus() {
    if (!m_bus.ensureConnected() || m_followedGeneration == m_bus.generation())
        return;
    m_followedGeneration = m_bus.generation();
    // A new bus (after a restart) hands out its names again, to other applications: nothing
    // learnt about the names of the old one holds.
    m_pids.clear();
    m_toolkits.clear();
    m_history.clear();
    QDBusConnection conn(m_bus.connectionName());
    // Only "focused" state changes travel to us, not every state change of the desktop.
    conn.connect(QString(), QString(), kEventObject, QStringLiteral("StateChanged"), {QStringLiteral("focused")},
                 QString(), m_events.get(), SLOT(stateChanged(QDBusMessage)));
    conn.connect(QString(), QString(), kEventObject, QStringLiteral("ActiveDescendantChanged"), m_events.get(),
                 SLOT(activeDescendantChanged(QDBusMessage)));
    conn.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), m_events.get(),
                 SLOT(nameOwnerChanged(QString, QString, QString)));
    // Most toolkits send events only while a listener is registered for them. Nothing waits for
    // the answers: the registry tells the applications by itself.
    for (const QString& event : {QStringLiteral("object:state-changed:focused"),
                                 QStringLiteral("object:active-descendant-changed")}) {
        auto msg = QDBusMessage::createMethodCall(kRegistry, kRegistryPath, kRegistryIface,
                                                  QStringLiteral("RegisterEvent"));
        msg.setArguments({event, QStringList{}, QString()});
        conn.asyncCall(msg, m_limits.callTimeoutMs);
    }
}

QList<AtspiAccessibility::Node> AtspiAccessibility::children(const Node& node, bool* ok) {
    QList<Node> out;
    QDBusMessage reply = m_bus.call(node.service, node.path, kAccessible, QStringLiteral("GetChildren"));
    if (ok)
        *ok = isReply(reply) && !reply.arguments().isEmpty();
    if (!isReply(reply) || reply.arguments().isEmpty())
        return out;
    const auto arg = reply.arguments().constFirst().value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a(so)"))
        return out;
    arg.beginArray();
    while (!arg.atEnd())
        if (const auto child = objectIn(arg))
            out.append({child->first, child->second});
    arg.endArray();
    return out;
}

std::optional<QList<uint>> AtspiAccessibility::stateWords(const Node& node) {
    return stateWordsFrom(m_bus.call(node.service, node.path, kAccessible, QStringLiteral("GetState")));
}

qint64 AtspiAccessibility::pidOf(const QString& service) {
    auto it = m_pids.constFind(service);
    if (it != m_pids.constEnd())
        return *it;
    QDBusMessage reply =
        m_bus.call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                   QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), {service});
    if (!isReply(reply) || reply.arguments().isEmpty())
        return 0;
    const qint64 pid = reply.arguments().constFirst().toLongLong();
    m_pids.insert(service, pid);
    return pid;
}

ElementRef AtspiAccessibility::focusedElement() { return lookUpFocus(true); }

ElementRef AtspiAccessibility::searchFocusedElement() { return lookUpFocus(false); }

ElementRef AtspiAccessibility::lookUpFocus(bool fromEvents) {
    if (!available())
        return {};
    const qint64 deadline = monotonic().elapsed() + m_limits.searchBudgetMs;
    const qint64 ownPid = QCoreApplication::applicationPid();
    qint64 activePid = 0;
    if (m_activeApp)
        if (auto app = m_activeApp->frontmost())
            activePid = app->pid;

    if (fromEvents)
        if (auto remembered = rememberedFocus(ownPid, activePid, deadline))
            return makeElement(*remembered);

    // Our own process never holds the target field, and calling into it would only wait on us.
    QList<Node> apps;
    QList<Node> owners;
    for (const Node& app : children({kRegistry, kRootPath})) {
        const qint64 pid = pidOf(app.service);
        if (pid == ownPid)
            continue;
        apps.append(app);
        if (activePid > 0 && pid == activePid)
            owners.append(app);
    }
    // Sandboxed apps reach the bus through a proxy with another process id: when nothing owns
    // the active window's pid, every app with an active window is a candidate.
    const QList<Node>& candidates = owners.isEmpty() ? apps : owners;

    for (const Node& app : candidates) {
        if (monotonic().elapsed() > deadline)
            break;
        bool ok = false;
        const QList<Node> windows = children(app, &ok);
        if (!ok)
            continue; // not answering: leave this app alone for the rest of the search
        QList<Node> active, showing, others;
        bool answered = true;
        for (const Node& window : windows) {
            if (monotonic().elapsed() > deadline)
                break;
            auto words = stateWords(window);
            if (!words) {
                answered = false;
                break;
            }
            if (atspi::hasState(*words, atspi::Active))
                active.append(window);
            else if (atspi::hasState(*words, atspi::Showing))
                showing.append(window);
            else
                others.append(window);
        }
        for (const Node& window : std::as_const(active))
            if (auto found = searchWindow(window, deadline))
                return makeElement(*found);
        if (!active.isEmpty() || owners.isEmpty() || !answered)
            continue;
        // Some toolkits never mark a window active, and GTK 4 gives every window after the first
        // neither the active nor the showing state (it exposes it as a "filler"): the owner of the
        // active window is searched through all its windows, the showing ones first. The field
        // that takes text wins over another focused element of an inactive window.
        std::optional<Node> otherFocus;
        for (const Node& window : showing + others) {
            bool editable = false;
            if (auto found = searchWindow(window, deadline, &editable)) {
                if (editable)
                    return makeElement(*found);
                if (!otherFocus)
                    otherFocus = found;
            }
        }
        if (otherFocus)
            return makeElement(*otherFocus);
    }
    return {};
}

std::optional<AtspiAccessibility::Node> AtspiAccessibility::rememberedFocus(qint64 ownPid, qint64 activePid,
                                                                            qint64 deadline) {
    // A copy: every call below runs the event loop, which may bring new events.
    const QList<atspi::FocusCandidate> candidates = m_history.candidates();
    // Toolkits mark a window or document focused together with the field inside it, and tell in
    // either order: a focused element that takes text wins over one that does not.
    std::optional<Node> firstFocused;
    std::optional<Node> lastFocusedField;
    for (const atspi::FocusCandidate& c : candidates) {
        if (monotonic().elapsed() > deadline)
            break;
        const qint64 pid = pidOf(c.service);
        if (pid <= 0 || pid == ownPid || (activePid > 0 && pid != activePid))
            continue;
        // The event may be old: the element must still be alive and focused now (some toolkits
        // drop focus without an event). The active descendant of a focused container counts when
        // it takes text.
        const Node node{c.service, c.path};
        auto words = stateWords(node);
        if (!words || atspi::hasState(*words, atspi::Defunct))
            continue;
        const bool editable = atspi::hasState(*words, atspi::Editable);
        bool focused = atspi::hasState(*words, atspi::Focused);
        if (!focused && editable && !c.container.isEmpty()) {
            auto containerWords = stateWords({c.service, c.container});
            focused = containerWords && atspi::hasState(*containerWords, atspi::Focused);
        }
        // The field of the active window that last had the focus, when nothing else of its
        // application took it since, is still the one typed in: a hotkey's grab takes the focus
        // away, and the toolkit may not have given it back yet (searching the window then finds
        // nothing focused, and takes long in a big one).
        if (!focused && editable && activePid > 0 && !lastFocusedField && atspi::hasState(*words, atspi::Showing) &&
            m_history.lastFocused(c.service) == c.path)
            lastFocusedField = node;
        if (!focused)
            continue;
        if (editable)
            return node;
        if (!firstFocused)
            firstFocused = node;
    }
    return lastFocusedField ? lastFocusedField : firstFocused;
}

std::optional<AtspiAccessibility::Node> AtspiAccessibility::searchWindow(const Node& window, qint64 deadline,
                                                                         bool* editable) {
    QList<Node> stack{window};
    QSet<QString> seen;
    std::optional<Node> focusedContainer;
    int visited = 0;
    while (!stack.isEmpty() && visited < m_limits.maxVisited && monotonic().elapsed() <= deadline) {
        const Node node = stack.takeLast();
        const QString key = node.service + node.path;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        ++visited;
        auto words = stateWords(node);
        if (!words)
            continue;
        if (atspi::hasState(*words, atspi::Focused)) {
            if (atspi::hasState(*words, atspi::Editable)) {
                if (editable)
                    *editable = true;
                return node;
            }
            // Office suites keep a focused pane around the focused document: the field, if any,
            // is inside it. A focused button stays the answer when nothing inside takes text.
            if (!focusedContainer) {
                focusedContainer = node;
                stack.clear();
            }
        }
        // GTK 4 marks its widgets visible but never showing: only what is neither is hidden.
        if (node.path != window.path && !atspi::hasState(*words, atspi::Showing) &&
            !atspi::hasState(*words, atspi::Visible))
            continue;
        // A container that manages its descendants may stand for a huge list; a document that
        // shows only its visible paragraphs as children is walked.
        if (atspi::hasState(*words, atspi::ManagesDescendants)) {
            auto count = m_bus.property(node.service, node.path, kAccessible, QStringLiteral("ChildCount"));
            if (!count || count->toInt() > m_limits.maxManagedChildren)
                continue;
        }
        const QList<Node> kids = children(node);
        for (auto it = kids.crbegin(); it != kids.crend(); ++it)
            stack.append(*it);
    }
    return focusedContainer;
}

QStringList AtspiAccessibility::interfaces(Element& element) {
    if (element.interfaces)
        return *element.interfaces;
    element.interfaces =
        interfacesFrom(m_bus.call(element.node.service, element.node.path, kAccessible, QStringLiteral("GetInterfaces")));
    return element.interfaces.value_or(QStringList{});
}

std::optional<QRectF> AtspiAccessibility::extents(const ElementRef& element) {
    auto* e = live(element);
    if (!e || !interfaces(*e).contains(kComponent))
        return std::nullopt;
    return extentsFrom(
        m_bus.call(e->node.service, e->node.path, kComponent, QStringLiteral("GetExtents"), {kCoordTypeScreen}));
}

ElementFacts AtspiAccessibility::facts(const ElementRef& element) {
    auto* e = live(element);
    if (!e || m_bus.connectionLost())
        return {};
    // All questions leave before the first answer is awaited: the application answers them one
    // after the other, and the whole costs about one round trip.
    const auto message = [&](const QString& iface, const QString& method, const QVariantList& args = {}) {
        return methodCall(e->node.service, e->node.path, iface, method, args);
    };
    QList<QDBusMessage> calls = {message(kAccessible, QStringLiteral("GetRoleName")),
                                 message(kAccessible, QStringLiteral("GetState")),
                                 message(kComponent, QStringLiteral("GetExtents"), {kCoordTypeScreen}),
                                 message(kComponent, QStringLiteral("GetExtents"), {kCoordTypeWindow})};
    calls.append(selectionCalls(e->node.service, e->node.path));
    if (!e->interfaces)
        calls.append(message(kAccessible, QStringLiteral("GetInterfaces")));
    const QList<QDBusMessage> replies = m_bus.callAll(calls);

    ElementFacts out;
    out.role = stringFrom(replies.at(0));
    if (const auto words = stateWordsFrom(replies.at(1)))
        out.states = atspi::stateNames(*words);
    if (replies.size() > 7)
        e->interfaces = interfacesFrom(replies.at(7));
    if (e->interfaces && e->interfaces->contains(kComponent)) {
        out.extents = extentsFrom(replies.at(2));
        out.windowExtents = extentsFrom(replies.at(3));
    }
    if (e->interfaces && e->interfaces->contains(kText))
        out.selection = selectionFrom(replies.mid(4, 3));
    return out;
}

std::optional<QString> AtspiAccessibility::role(const ElementRef& element) {
    auto* e = live(element);
    if (!e)
        return std::nullopt;
    return stringFrom(m_bus.call(e->node.service, e->node.path, kAccessible, QStringLiteral("GetRoleName")));
}

QStringList AtspiAccessibility::states(const ElementRef& element) {
    auto* e = live(element);
    if (!e)
        return {};
    auto words = stateWords(e->node);
    return words ? atspi::stateNames(*words) : QStringList{};
}

qint64 AtspiAccessibility::processId(const ElementRef& element) {
    auto* e = live(element);
    if (!e || !available())
        return 0;
    return pidOf(e->node.service);
}

} // namespace corvane::platform::linux_

#include "AtspiAccessibility.moc"
