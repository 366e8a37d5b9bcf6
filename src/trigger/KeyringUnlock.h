#pragma once
// One request to the desktop to unlock the keyring that holds the API key: the desktop shows its
// own password prompt and the request ends when the user answers it (or the store gives up).
//
// A run waits for the answer through wait(), and can stop waiting at once through dropWaiter()
// (the run was cancelled) without ending the request: the prompt stays until the user answers it,
// the answer then reaches nobody, and a later run that still finds the keyring locked waits for
// that same answer instead of opening a second prompt. The request's task and the waiter share
// only a small state, so either may end first.
#include <coroutine>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::trigger {

class KeyringUnlock {
    struct State {
        std::optional<bool> answer;      // true: the keyring is unlocked now
        std::coroutine_handle<> waiter;  // the one run waiting, if any
        bool dropped = false;            // set while a waiter is let go before the answer
    };

public:
    // Starts waiting for the request at once; it may have finished already.
    explicit KeyringUnlock(QCoro::Task<bool> request);

    bool finished() const { return m_state->answer.has_value(); }

    struct Wait {
        std::shared_ptr<State> state;
        bool await_ready() const noexcept { return state->answer.has_value(); }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { state->waiter = waiter; }
        // The answer, or nothing when the wait was dropped first.
        std::optional<bool> await_resume() const noexcept {
            return state->dropped ? std::nullopt : state->answer;
        }
    };
    // co_await: one waiter at a time.
    Wait wait() const { return Wait{m_state}; }
    // Resumes the waiter now, with no answer; the request goes on.
    void dropWaiter();

private:
    static QCoro::Task<> forward(QCoro::Task<bool> request, std::shared_ptr<State> state);

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace corvane::trigger
