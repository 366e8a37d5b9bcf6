#pragma once
#include "platform/Clock.h"
#include <QPointer>
#include <vector>

namespace corvane::platform::fake {

// A virtual clock: time stands still until a test advances it; due timers then fire in order,
// synchronously, inside advance(). No test ever sleeps on real time.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 1, 15), QTime(9, 30), Qt::UTC));

    QDateTime now() const override;
    qint64 uptimeMs() const override;
    void schedule(qint64 delayMs, QObject* context, std::function<void()> fn) override;

    // Moves time forward by ms, firing every timer that falls due, in due order.
    void advance(qint64 ms);
    // Fires timers until none is pending (bounded, to catch timer loops).
    void runAll(qint64 limitMs = 3600 * 1000);
    std::size_t pendingTimers() const;
    void setNow(const QDateTime& wall);

private:
    struct Timer {
        qint64 due;
        quint64 seq;
        QPointer<QObject> context;
        bool hadContext;
        std::function<void()> fn;
    };
    bool fireNext(qint64 limit);

    QDateTime m_wallStart;
    qint64 m_elapsed = 0;
    qint64 m_uptimeBase = 1'000'000;
    quint64 m_seq = 0;
    std::vector<Timer> m_timers;
};

} // namespace corvane::platform::fake
