#include "platform/SystemClock.h"
#include <QTimer>
#include <ctime>

namespace corvane::platform {

SystemClock::SystemClock() { m_monotonic.start(); }

QDateTime SystemClock::now() const { return QDateTime::currentDateTimeUtc(); }

qint64 SystemClock::uptimeMs() const {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) == 0)
        return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    return m_monotonic.elapsed();
}

void SystemClock::schedule(qint64 delayMs, QObject* context, std::function<void()> fn) {
    QTimer::singleShot(std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs), context,
                       [fn = std::move(fn)]() { fn(); });
}

} // namespace corvane::platform
