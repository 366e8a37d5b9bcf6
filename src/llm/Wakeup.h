#pragma once
// A one-shot event a coroutine can co_await. fire() resumes the waiting coroutine from the event
// loop, never from inside fire(), so whoever fires may keep using its own state afterwards.
#include <QCoreApplication>
#include <QMetaObject>
#include <coroutine>
#include <utility>

namespace corvane::llm {

class Wakeup {
public:
    void fire() {
        if (m_fired)
            return;
        m_fired = true;
        if (std::coroutine_handle<> waiter = std::exchange(m_waiter, {}))
            QMetaObject::invokeMethod(QCoreApplication::instance(), [waiter] { waiter.resume(); },
                                      Qt::QueuedConnection);
    }
    bool fired() const { return m_fired; }

    bool await_ready() const noexcept { return m_fired; }
    void await_suspend(std::coroutine_handle<> waiter) noexcept { m_waiter = waiter; }
    void await_resume() const noexcept {}

private:
    bool m_fired = false;
    std::coroutine_handle<> m_waiter;
};

} // namespace corvane::llm
