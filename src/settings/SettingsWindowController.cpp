#include "settings/SettingsWindowController.h"

namespace corvane::settings {

namespace {
SettingsWindowController* g_shared = nullptr;
}

SettingsWindowController::SettingsWindowController(QObject* parent) : QObject(parent) {}
SettingsWindowController::~SettingsWindowController() = default;

SettingsWindowController& SettingsWindowController::shared() {
    if (!g_shared)
        qFatal("SettingsWindowController::shared() used before the application wired it");
    return *g_shared;
}

void SettingsWindowController::setShared(SettingsWindowController* controller) { g_shared = controller; }

void SettingsWindowController::show() {}

} // namespace corvane::settings
