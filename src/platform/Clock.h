#pragma once
// Time sources and timers. Everything in the core that waits or measures goes through a Clock,
// so tests can run every wait instantly on a virtual clock.
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <coroutine>
#include <functional>
#include <qcoro/qcorotask.h>

namespace corvane::platform {

class Clock {
public:
    virtual ~Clock() = default;

    // Wall-clock time (UTC), used for stored timestamps and log lines.
    virtual QDateTime now() const = 0;
    // Monotonic milliseconds since an arbitrary origin (system uptime); never goes back.
    virtual qint64 uptimeMs() const = 0;
    // Runs fn once on the main loop after delayMs. Dropped when context is destroyed first.
    virtual void schedule(qint64 delayMs, QObject* context, std::function<void()> fn) = 0;

    // co_await clock.sleep(ms): suspends the coroutine without blocking the loop.
    QCoro::Task<> sleep(qint64 delayMs);

    // The process clock installed by the composition root (a SystemClock unless a test installs another).
    static Clock& shared();
    static void setShared(Clock* clock);
};

} // namespace corvane::platform
