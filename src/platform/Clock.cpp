#include "platform/Clock.h"
#include "platform/SystemClock.h"

namespace corvane::platform {

namespace {
Clock* g_shared = nullptr;

struct SleepAwaiter {
    Clock* clock;
    qint64 delayMs;
    QObject* guard;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
        clock->schedule(delayMs, guard, [h]() mutable { h.resume(); });
    }
    void await_resume() const noexcept {}
};

// Timers need a living context object; this one lives for the whole process.
QObject* processGuard() {
    static QObject guard;
    return &guard;
}
} // namespace

QCoro::Task<> Clock::sleep(qint64 delayMs) {
    co_await SleepAwaiter{this, delayMs < 0 ? 0 : delayMs, processGuard()};
}

Clock& Clock::shared() {
    if (!g_shared) {
        static SystemClock fallback;
        g_shared = &fallback;
    }
    return *g_shared;
}

void Clock::setShared(Clock* clock) { g_shared = clock; }

} // namespace corvane::platform
