#pragma once
// The menu-bar activity: whether the space-tap monitor runs and what the engine is doing.
// Done and error return to idle by themselves (2.0 s and 3.0 s), so reporters never clear a mark.
#include "trigger/AppActivity.h"
#include <QObject>

namespace corvane::platform {
class Clock;
}

namespace corvane::app {

class AppState final : public QObject, public trigger::ActivitySink {
    Q_OBJECT
public:
    explicit AppState(platform::Clock& clock, QObject* parent = nullptr);
    static AppState& shared();
    static void setShared(AppState* state);

    trigger::AppActivity activity() const { return m_activity; }
    bool isMonitorRunning() const { return m_monitorRunning; }
    void setMonitorRunning(bool running);

    void setActivity(trigger::AppActivity activity) override;

Q_SIGNALS:
    // Emitted on every assignment, the same value included.
    void activityChanged(corvane::trigger::AppActivity activity);
    void monitorRunningChanged(bool running);

private:
    void assign(trigger::AppActivity activity);

    platform::Clock& m_clock;
    trigger::AppActivity m_activity = trigger::AppActivity::Idle;
    bool m_monitorRunning = false;
    quint64 m_resetTicket = 0;  // a pending return to idle is valid only for its own ticket
};

} // namespace corvane::app
