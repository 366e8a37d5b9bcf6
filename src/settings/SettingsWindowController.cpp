#include "settings/SettingsWindowController.h"
#include "settings/SettingsView.h"
#include "panel/OwnWindows.h"

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
    else if (opening) {
        m_view->reload();
        m_view->growToFit(); // what the tabs say now may need more room than when it was built
    } else {
        m_view->refreshStatus();
    }
    panel::bringToFront(m_view);
    if (opening)
        m_view->focusFirstControl();
}

} // namespace corvane::settings
