#include "trigger/KeyringUnlock.h"
#include <utility>

namespace corvane::trigger {

KeyringUnlock::KeyringUnlock(QCoro::Task<bool> request) {
    // Runs on by itself once this returns; it holds the state for as long as it runs.
    auto forwarding = forward(std::move(request), m_state);
}

QCoro::Task<> KeyringUnlock::forward(QCoro::Task<bool> request, std::shared_ptr<State> state) {
    const bool unlocked = co_await std::move(request);
    state->answer = unlocked;
    if (const auto waiter = std::exchange(state->waiter, {}))
        waiter.resume();
}

void KeyringUnlock::dropWaiter() {
    const std::shared_ptr<State> state = m_state; // whatever the waiter does next
    if (const auto waiter = std::exchange(state->waiter, {})) {
        // Only for this resumption: the waiter reads it before resume() returns.
        state->dropped = true;
        waiter.resume();
        state->dropped = false;
    }
}

} // namespace corvane::trigger
