#include "trigger/EventMonitor.h"
#include "platform/Clock.h"
#include "platform/RunTrace.h"
#include "platform/VirtualKeys.h"
#include "stores/DiagLog.h"
#include "stores/SettingsStore.h"
#include <QPointer>
#include <algorithm>
#include <cmath>

namespace corvane::trigger {

using stores::DiagLog;

namespace {
class StoreTapSettings final : public TapSettings {
public:
    qint64 triggerSpaceCount() const override { return stores::SettingsStore::shared().triggerSpaceCount(); }
    double triggerIntervalMs() const override { return stores::SettingsStore::shared().triggerIntervalMs(); }
    double cooldownSeconds() const override { return stores::SettingsStore::shared().cooldownSeconds(); }
};
} // namespace

TapSettings& TapSettings::fromSettingsStore() {
    static StoreTapSettings settings;
    return settings;
}

qint64 EventMonitor::sanitizedSpaceCount(qint64 count) { return std::clamp(count, kMinSpaceCount, kMaxSpaceCount); }

double EventMonitor::sanitizedIntervalMs(double ms) {
    return std::isfinite(ms) ? std::clamp(ms, kMinIntervalMs, kMaxIntervalMs) : kDefaultIntervalMs;
}

double EventMonitor::sanitizedCooldownSeconds(double seconds) {
    return std::isfinite(seconds) ? std::clamp(seconds, kMinCooldownSeconds, kMaxCooldownSeconds)
                                  : kDefaultCooldownSeconds;
}

EventMonitor::EventMonitor(platform::KeyTap& tap, platform::Clock& clock, TapSettings& settings,
                           std::function<bool()> trusted, QObject* parent)
    : QObject(parent), m_tap(tap), m_clock(clock), m_settings(settings), m_trusted(std::move(trusted)) {}

EventMonitor::~EventMonitor() { stop(); }

bool EventMonitor::start() {
    const bool trusted = !m_trusted || m_trusted();
    DiagLog::event(QStringLiteral("EventMonitor.start accessibilityTrusted=") +
                   (trusted ? QStringLiteral("true") : QStringLiteral("false")));
    if (!trusted)
        return false;
    if (!m_tap.start([this](const platform::KeyEvent& e) { handleEvent(e); })) {
        DiagLog::event(QStringLiteral("EventMonitor.start tapCreate FAILED (%1)").arg(m_tap.lastError()));
        return false;
    }
    DiagLog::event(QStringLiteral("EventMonitor.start tap created OK"));
    m_running = true;
    return true;
}

void EventMonitor::stop() {
    if (!m_running)
        return;
    m_tap.stop();
    m_running = false;
}

void EventMonitor::handleEvent(const platform::KeyEvent& event) {
    // Modifier keys are state, not typing: Shift held for a space neither counts nor resets.
    if (!event.pressed || event.isModifier)
        return;
    const int64_t receivedUs = platform::runtrace::enabled() ? platform::runtrace::nowUs() : -1;
    // Never the key itself: the log must not become a record of what the user types.
    DiagLog::throttled(QStringLiteral("keydown"), 30, QStringLiteral("EventMonitor keyDown arriving"));
    if (event.keyCode != platform::keys::Space) {
        m_spaceRecord.reset();
        return;
    }
    if (event.autoRepeat)
        return;
    if (!m_spaceRecord.recordSpace(double(m_clock.uptimeMs()), m_settings))
        return;
    DiagLog::event(QStringLiteral("EventMonitor triple-space FIRED"));
    platform::runtrace::mark("key", receivedUs);
    platform::runtrace::mark("fired");
    m_clock.schedule(0, this, [self = QPointer<EventMonitor>(this)] {
        if (self && self->onTrigger)
            self->onTrigger();
    });
}

bool EventMonitor::SpaceRecord::recordSpace(double now, const TapSettings& settings) {
    if (now < cooldownUntil)
        return false;
    const double interval = sanitizedIntervalMs(settings.triggerIntervalMs());
    const auto count = size_t(sanitizedSpaceCount(settings.triggerSpaceCount()));
    if (!timestamps.empty() && now - timestamps.back() > interval)
        timestamps.clear();
    timestamps.push_back(now);
    if (timestamps.size() > count)
        timestamps.erase(timestamps.begin(), timestamps.end() - std::ptrdiff_t(count));
    if (timestamps.size() != count)
        return false;
    cooldownUntil = now + sanitizedCooldownSeconds(settings.cooldownSeconds()) * 1000.0;
    timestamps.clear();
    return true;
}

} // namespace corvane::trigger
