#include "trigger/AccessibilityPermission.h"
#include <QCoreApplication>

namespace corvane::trigger {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("AccessibilityPermission", text); }

// Stands in until main wires the real status: nothing is reachable.
class UnwiredStatus final : public platform::AccessibilityStatus {
public:
    platform::AccessibilityFacts facts() override {
        platform::AccessibilityFacts f;
        f.busError = QStringLiteral("no desktop connection was set up");
        return f;
    }
    bool enable() override { return false; }
    bool openSettings() override { return false; }
};

AccessibilityPermission* g_shared = nullptr;

QString reasonFor(const platform::AccessibilityFacts& f) {
    if (f.waylandSession)
        return tr("Corvane needs an X11 session; Wayland sessions are not supported yet.");
    if (!f.x11Display)
        return tr("No X11 display answers, so Corvane cannot watch keys or send them.");
    if (!f.xinput2)
        return tr("The X server lacks the XInput2 extension, so the space-tap trigger cannot see keys.");
    if (!f.xtest)
        return tr("The X server lacks the XTest extension, so Corvane cannot send copy and paste keys.");
    if (!f.busReachable) {
        QString text = tr("The accessibility bus (AT-SPI) does not answer; install and start at-spi2-core.");
        if (!f.busError.isEmpty())
            text += QLatin1Char(' ') + tr("Details: %1").arg(f.busError);
        return text;
    }
    if (!f.enabled)
        return tr("Accessibility is switched off for this session.");
    return {};
}

} // namespace

AccessibilityPermission::AccessibilityPermission(platform::AccessibilityStatus& status, QObject* parent)
    : QObject(parent), m_status(status) {
    connect(&m_status, &platform::AccessibilityStatus::changed, this, &AccessibilityPermission::changed);
}

AccessibilityPermission& AccessibilityPermission::shared() {
    if (g_shared)
        return *g_shared;
    static UnwiredStatus unwired;
    static AccessibilityPermission fallback(unwired);
    return fallback;
}

void AccessibilityPermission::setShared(AccessibilityPermission* instance) { g_shared = instance; }

bool AccessibilityPermission::isTrusted() const { return reasonFor(m_status.facts()).isEmpty(); }

QString AccessibilityPermission::reason() const { return reasonFor(m_status.facts()); }

bool AccessibilityPermission::prompt() {
    if (isTrusted())
        return true;
    Q_EMIT promptRequested();
    return isTrusted();
}

bool AccessibilityPermission::canSwitchOn() const {
    const auto f = m_status.facts();
    return !f.waylandSession && f.x11Display && f.xinput2 && f.xtest && f.busReachable && !f.enabled;
}

bool AccessibilityPermission::switchOn() {
    const auto before = m_status.facts();
    if (reasonFor(before).isEmpty())
        return true;
    if (before.waylandSession || !before.x11Display || !before.xinput2 || !before.xtest)
        return false;
    m_status.enable();
    return isTrusted();
}

std::optional<QString> AccessibilityPermission::openSettingsPane() {
    if (m_status.openSettings())
        return std::nullopt;
    return tr("No accessibility settings tool is known for this desktop. Turn on assistive technologies "
              "in your desktop's settings, or run: gsettings set org.gnome.desktop.interface "
              "toolkit-accessibility true");
}

AccessibilityPermission::ResetResult AccessibilityPermission::resetOwnRecords() {
    return {false, tr("This desktop keeps no per-app accessibility grants, so there is nothing to reset.")};
}

std::optional<QString> AccessibilityPermission::runCleanupFlow() {
    return tr("This desktop keeps no per-app accessibility grants, so there are no stale entries to clean up. "
              "Accessibility is one switch for the whole session, and Corvane offers to switch it on while it is off.");
}

} // namespace corvane::trigger
