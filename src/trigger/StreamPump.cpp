#include "trigger/StreamPump.h"

namespace corvane::trigger {

StreamPump::StreamPump(llm::ModelStream& stream) : m_stream(stream) {
    connect(&stream, &llm::ModelStream::event, this, &StreamPump::push, Qt::DirectConnection);
}

StreamPump::~StreamPump() { QObject::disconnect(&m_stream, nullptr, this, nullptr); }

void StreamPump::push(const llm::StreamEvent& event) {
    if (m_closed)
        return;
    m_queue.push_back(event);
    if (auto waiter = std::exchange(m_waiter, {}))
        waiter.resume();  // last statement: the reader may end and destroy this pump
}

std::optional<llm::StreamEvent> StreamPump::take() {
    if (m_closed || m_queue.empty())
        return std::nullopt;
    auto event = std::move(m_queue.front());
    m_queue.pop_front();
    return event;
}

void StreamPump::close() {
    if (m_closed)
        return;
    m_closed = true;
    m_queue.clear();
    QObject::disconnect(&m_stream, nullptr, this, nullptr);
    m_stream.stop();
    if (auto waiter = std::exchange(m_waiter, {}))
        waiter.resume();  // last statement, as in push()
}

} // namespace corvane::trigger
