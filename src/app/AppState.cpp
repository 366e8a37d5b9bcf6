#include "app/AppState.h"
#include "platform/Clock.h"
#include <QPointer>

namespace corvane::app {

namespace {
AppState* g_shared = nullptr;
}

AppState::AppState(platform::Clock& clock, QObject* parent) : QObject(parent), m_clock(clock) {}

AppState& AppState::shared() {
    if (!g_shared)
        qFatal("AppState::shared() used before the application wired it");
    return *g_shared;
}

void AppState::setShared(AppState* state) { g_shared = state; }

void AppState::setMonitorRunning(bool running) {
    m_monitorRunning = running;
    Q_EMIT monitorRunningChanged(running);
}

void AppState::assign(trigger::AppActivity activity) {
    m_activity = activity;
    Q_EMIT activityChanged(activity);
}

void AppState::setActivity(trigger::AppActivity activity) {
    const quint64 ticket = ++m_resetTicket;  // cancels any pending reset
    assign(activity);
    if (activity != trigger::AppActivity::Done && activity != trigger::AppActivity::Error)
        return;
    const qint64 delayMs = activity == trigger::AppActivity::Done ? 2000 : 3000;
    m_clock.schedule(delayMs, this, [this, ticket] {
        if (ticket == m_resetTicket)
            assign(trigger::AppActivity::Idle);
    });
}

} // namespace corvane::app
