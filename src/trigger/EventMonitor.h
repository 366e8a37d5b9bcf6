#pragma once
// The space-tap trigger: counts space-bar presses seen by the session-wide key tap and reports
// the pattern (N taps, each within the interval of the previous one) on the main loop, then
// ignores spaces for the cooldown. It only observes: every key reaches the focused application.
#include "platform/KeyTap.h"
#include <QObject>
#include <QtGlobal>
#include <functional>
#include <vector>

namespace corvane::platform {
class Clock;
}

namespace corvane::trigger {

// Where the monitor reads its three settings, at each tap as it needs them.
class TapSettings {
public:
    virtual ~TapSettings() = default;
    virtual qint64 triggerSpaceCount() const = 0;
    virtual double triggerIntervalMs() const = 0;
    virtual double cooldownSeconds() const = 0;

    // The settings store of the process, read anew on every call.
    static TapSettings& fromSettingsStore();
};

class EventMonitor final : public QObject {
    Q_OBJECT
public:
    // Stored values are kept to these ranges when read: a count of 1 would fire on every space and
    // a non-number or huge interval or cooldown would make the trigger useless or unstoppable.
    static constexpr qint64 kMinSpaceCount = 2, kMaxSpaceCount = 10, kDefaultSpaceCount = 3;
    static constexpr double kMinIntervalMs = 100, kMaxIntervalMs = 2000, kDefaultIntervalMs = 500;
    static constexpr double kMinCooldownSeconds = 0, kMaxCooldownSeconds = 60, kDefaultCooldownSeconds = 2;

    // trusted, when given, is asked at every start; the tap is not started without trust.
    EventMonitor(platform::KeyTap& tap, platform::Clock& clock, TapSettings& settings = TapSettings::fromSettingsStore(),
                 std::function<bool()> trusted = {}, QObject* parent = nullptr);
    ~EventMonitor() override;

    // Starts observing keys. False without trust or when the tap cannot start (retry later).
    // A running tap is not stopped first: the caller stops before it starts again.
    bool start();
    // Stops observing; does nothing when stopped. Keeps onTrigger and the counting state.
    void stop();
    bool isRunning() const { return m_running; }

    // Runs on the main loop, a turn after the space that completed the pattern was passed on.
    std::function<void()> onTrigger;

    static qint64 sanitizedSpaceCount(qint64 count);
    static double sanitizedIntervalMs(double ms);
    static double sanitizedCooldownSeconds(double seconds);

private:
    // The counting state; times are milliseconds of system uptime.
    struct SpaceRecord {
        std::vector<double> timestamps;
        double cooldownUntil = 0;
        bool recordSpace(double now, const TapSettings& settings);
        void reset() { timestamps.clear(); }
    };

    void handleEvent(const platform::KeyEvent& event);

    platform::KeyTap& m_tap;
    platform::Clock& m_clock;
    TapSettings& m_settings;
    std::function<bool()> m_trusted;
    bool m_running = false;
    SpaceRecord m_spaceRecord;
};

} // namespace corvane::trigger
