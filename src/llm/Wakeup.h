#pragma once
// A one-shot event a coroutine can wait for: co_await wakeup.wait(). fire() resumes the waiting
// coroutine from the event loop, never from inside fire(), so whoever fires may keep using its own
// state afterwards. The waiter holds a pointer to the event, so the event itself is never copied.
// A coroutine frame that is destroyed while a resume is already queued (its task was dropped) is
// never resumed: the event lives in that frame, and its destruction cancels the queued resume.
#include <QCoreApplication>
#include <QMetaObject>
#include <coroutine>
#include <memory>
#include <utility>

namespace corvane::llm {

class Wakeup {
public:
    Wakeup() = default;
    ~Wakeup() { *m_alive = false; }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void fire() {
        if (m_fired)
            return;
        m_fired = true;
        if (std::coroutine_handle<> waiter = std::exchange(m_waiter, {}))
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [waiter, alive = m_alive] {
                    if (*alive)
                        waiter.resume();
                },
                Qt::QueuedConnection);
    }
    bool fired() const { return m_fired; }

    struct Awaiter {
        Wakeup* event;
        bool await_ready() const noexcept { return event->m_fired; }
        void await_suspend(std::coroutine_handle<> waiter) const noexcept { event->m_waiter = waiter; }
        void await_resume() const noexcept {}
    };
    Awaiter wait() { return Awaiter{this}; }

private:
    bool m_fired = false;
    std::coroutine_handle<> m_waiter;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace corvane::llm
