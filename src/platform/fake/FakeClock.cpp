#include "platform/fake/FakeClock.h"
#include <algorithm>

namespace corvane::platform::fake {

FakeClock::FakeClock(QDateTime start) : m_wallStart(std::move(start)) {}

QDateTime FakeClock::now() const { return m_wallStart.addMSecs(m_elapsed); }

qint64 FakeClock::uptimeMs() const { return m_uptimeBase + m_elapsed; }

void FakeClock::setNow(const QDateTime& wall) { m_wallStart = wall.addMSecs(-m_elapsed); }

void FakeClock::schedule(qint64 delayMs, QObject* context, std::function<void()> fn) {
    m_timers.push_back({m_elapsed + std::max<qint64>(0, delayMs), m_seq++, context, context != nullptr,
                        std::move(fn)});
}

bool FakeClock::fireNext(qint64 limit) {
    auto it = std::min_element(m_timers.begin(), m_timers.end(), [](const Timer& a, const Timer& b) {
        return a.due != b.due ? a.due < b.due : a.seq < b.seq;
    });
    if (it == m_timers.end() || it->due > limit)
        return false;
    Timer t = std::move(*it);
    m_timers.erase(it);
    m_elapsed = std::max(m_elapsed, t.due);
    if (!t.hadContext || t.context)
        t.fn();
    return true;
}

void FakeClock::advance(qint64 ms) {
    const qint64 target = m_elapsed + std::max<qint64>(0, ms);
    while (fireNext(target)) {
    }
    m_elapsed = target;
}

void FakeClock::runAll(qint64 limitMs) {
    const qint64 limit = m_elapsed + limitMs;
    while (fireNext(limit)) {
    }
}

std::size_t FakeClock::pendingTimers() const { return m_timers.size(); }

} // namespace corvane::platform::fake
