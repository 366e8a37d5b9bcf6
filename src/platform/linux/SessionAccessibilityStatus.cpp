#include "platform/linux/SessionAccessibilityStatus.h"
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace corvane::platform::linux_ {

namespace {
const auto kBusService = QStringLiteral("org.a11y.Bus");
const auto kBusPath = QStringLiteral("/org/a11y/bus");
const auto kStatus = QStringLiteral("org.a11y.Status");
const auto kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kTimeoutMs = 1000;

bool hasExtension(xcb_connection_t* conn, const char* name) {
    auto cookie = xcb_query_extension(conn, uint16_t(qstrlen(name)), name);
    std::unique_ptr<xcb_query_extension_reply_t, decltype(&std::free)> reply(
        xcb_query_extension_reply(conn, cookie, nullptr), &std::free);
    return reply && reply->present;
}
} // namespace

SessionAccessibilityStatus::SessionAccessibilityStatus(QObject* parent)
    : SessionAccessibilityStatus(*new AtspiConnection(kTimeoutMs), parent) {
    m_ownBus.reset(m_bus);
}

SessionAccessibilityStatus::SessionAccessibilityStatus(AtspiConnection& bus, QObject* parent)
    : AccessibilityStatus(parent), m_bus(&bus) {
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected())
        return;
    session.connect(kBusService, kBusPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                    SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    m_watcher = new QDBusServiceWatcher(kBusService, session,
                                        QDBusServiceWatcher::WatchForRegistration |
                                            QDBusServiceWatcher::WatchForUnregistration,
                                        this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, &AccessibilityStatus::changed);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &AccessibilityStatus::changed);
}

SessionAccessibilityStatus::~SessionAccessibilityStatus() = default;

void SessionAccessibilityStatus::onPropertiesChanged(const QString& interface, const QVariantMap& values,
                                                     const QStringList& invalidated) {
    if (interface != kStatus)
        return;
    if (values.contains(QStringLiteral("IsEnabled")) || invalidated.contains(QStringLiteral("IsEnabled")))
        Q_EMIT changed();
}

SessionAccessibilityStatus::XFacts SessionAccessibilityStatus::probeX() {
    XFacts facts;
    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    if (!conn || xcb_connection_has_error(conn)) {
        if (conn)
            xcb_disconnect(conn);
        return facts;
    }
    facts.display = true;
    if (hasExtension(conn, "XInputExtension")) {
        auto cookie = xcb_input_xi_query_version(conn, 2, 0);
        std::unique_ptr<xcb_input_xi_query_version_reply_t, decltype(&std::free)> reply(
            xcb_input_xi_query_version_reply(conn, cookie, nullptr), &std::free);
        facts.xinput2 = reply && reply->major_version >= 2;
    }
    facts.xtest = hasExtension(conn, "XTEST");
    xcb_disconnect(conn);
    return facts;
}

AccessibilityFacts SessionAccessibilityStatus::facts() {
    AccessibilityFacts f;
    f.waylandSession = qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
                       !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    // The display and its extensions do not change during a session.
    if (!m_x || !m_x->display)
        m_x = probeX();
    f.x11Display = m_x->display;
    f.xinput2 = m_x->xinput2;
    f.xtest = m_x->xtest;

    f.busReachable = m_bus->ensureConnected();
    if (!f.busReachable)
        f.busError = m_bus->lastError();

    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        auto msg = QDBusMessage::createMethodCall(kBusService, kBusPath, kProperties, QStringLiteral("Get"));
        msg.setArguments({kStatus, QStringLiteral("IsEnabled")});
        QDBusMessage reply = AtspiConnection::callServing(session, msg, kTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            f.enabled = reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
    }
    return f;
}

bool SessionAccessibilityStatus::enable() {
    bool any = false;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        auto msg = QDBusMessage::createMethodCall(kBusService, kBusPath, kProperties, QStringLiteral("Set"));
        msg.setArguments({kStatus, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true))});
        QDBusMessage reply = AtspiConnection::callServing(session, msg, kTimeoutMs);
        any = reply.type() == QDBusMessage::ReplyMessage;
    }
    // Toolkits started later read this setting to load their accessibility bridge.
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (!gsettings.isEmpty())
        any = QProcess::startDetached(gsettings, {QStringLiteral("set"), QStringLiteral("org.gnome.desktop.interface"),
                                                  QStringLiteral("toolkit-accessibility"), QStringLiteral("true")}) ||
              any;
    return any;
}

std::optional<QStringList> SessionAccessibilityStatus::settingsCommand(
    const QString& currentDesktop, const std::function<bool(const QString&)>& exists) {
    struct Known {
        const char* desktop;
        QStringList command;
    };
    const QList<Known> known = {
        {"gnome", {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")}},
        {"unity", {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")}},
        {"ubuntu", {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")}},
        {"budgie", {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")}},
        {"kde", {QStringLiteral("systemsettings"), QStringLiteral("kcm_access")}},
        {"kde", {QStringLiteral("systemsettings5"), QStringLiteral("kcm_access")}},
        {"xfce", {QStringLiteral("xfce4-accessibility-settings")}},
        {"mate", {QStringLiteral("mate-at-properties")}},
        {"x-cinnamon", {QStringLiteral("cinnamon-settings"), QStringLiteral("accessibility")}},
    };
    for (const QString& desktop : currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        for (const auto& entry : known)
            if (desktop.compare(QLatin1String(entry.desktop), Qt::CaseInsensitive) == 0 &&
                exists(entry.command.constFirst()))
                return entry.command;
    return std::nullopt;
}

bool SessionAccessibilityStatus::openSettings() {
    auto command = settingsCommand(qEnvironmentVariable("XDG_CURRENT_DESKTOP"), [](const QString& program) {
        return !QStandardPaths::findExecutable(program).isEmpty();
    });
    if (!command)
        return false;
    const QString program = command->takeFirst();
    return QProcess::startDetached(program, *command);
}

} // namespace corvane::platform::linux_
