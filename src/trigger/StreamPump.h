#pragma once
// Hands a model stream's events to one coroutine, one at a time, in arrival order.
#include "llm/ModelClient.h"
#include <QObject>
#include <coroutine>
#include <deque>
#include <optional>

namespace corvane::trigger {

class StreamPump final : public QObject {
    Q_OBJECT
public:
    explicit StreamPump(llm::ModelStream& stream);
    ~StreamPump() override;

    // co_await pump.next(): the next event, or nothing once the pump is closed.
    auto next() {
        struct Awaiter {
            StreamPump& pump;
            bool await_ready() const noexcept { return pump.m_closed || !pump.m_queue.empty(); }
            void await_suspend(std::coroutine_handle<> h) noexcept { pump.m_waiter = h; }
            std::optional<llm::StreamEvent> await_resume() { return pump.take(); }
        };
        return Awaiter{*this};
    }

    // Stops the stream (its request is aborted) and wakes the reader with nothing. The reader may
    // destroy the pump before close() returns; close() touches nothing of it afterwards.
    void close();

private:
    void push(const llm::StreamEvent& event);
    std::optional<llm::StreamEvent> take();

    llm::ModelStream& m_stream;
    std::deque<llm::StreamEvent> m_queue;
    std::coroutine_handle<> m_waiter;
    bool m_closed = false;
};

} // namespace corvane::trigger
