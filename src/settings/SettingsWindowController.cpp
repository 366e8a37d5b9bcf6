#include "settings/SettingsWindowController.h"
#include "settings/SettingsView.h"

namespace corvane::settings {

namespace {
SettingsWindowController* g_shared = nullptr;
}

SettingsWindowController::SettingsWindowController(SettingsDependencies deps, QObject* parent)
    : QObject(parent), m_deps(std::move(deps)) {}

SettingsWindowController::~SettingsWindowController() { delete m_view; }

SettingsWindowController& SettingsWindowController::shared() {
    if (!g_shared)
        qFatal("SettingsWindowController::shared() used before the application wired it");
    return *g_shared;
}

void SettingsWindowController::setShared(SettingsWindowController* controller) { g_shared = controller; }

void SettingsWindowController::show() {
    const bool opening = !m_view || !m_view->isVisible();
    if (!m_view)
        m_view = new SettingsView(m_deps);
    else if (opening)
        m_view->reload();
    else
        m_view->refreshStatus();
    m_view->show();
    m_view->raise();
    m_view->activateWindow();
    if (opening)
        m_view->focusFirstControl();
}

} // namespace corvane::settings
