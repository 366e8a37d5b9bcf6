#pragma once
#include "platform/Clock.h"
#include <QElapsedTimer>

namespace corvane::platform {

// The real clock: QDateTime for wall time, the monotonic clock for uptime, QTimer for delays.
class SystemClock final : public Clock {
public:
    SystemClock();
    QDateTime now() const override;
    qint64 uptimeMs() const override;
    void schedule(qint64 delayMs, QObject* context, std::function<void()> fn) override;

private:
    QElapsedTimer m_monotonic;
};

} // namespace corvane::platform
