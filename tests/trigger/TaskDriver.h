#pragma once
// Drives coroutines to their end on the virtual clock, so tests read their results without
// waiting on real time.
#include "platform/fake/FakeClock.h"
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::testkit {

template <typename T>
QCoro::Task<> storeResult(QCoro::Task<T> task, std::shared_ptr<std::optional<T>> out) {
    *out = co_await std::move(task);
}

inline QCoro::Task<> markDone(QCoro::Task<> task, std::shared_ptr<bool> done) {
    co_await std::move(task);
    *done = true;
}

// Runs the task and every timer it leads to; returns its result (nothing if it never finished).
template <typename T>
std::optional<T> finish(QCoro::Task<T> task, platform::fake::FakeClock& clock) {
    auto out = std::make_shared<std::optional<T>>();
    auto running = storeResult(std::move(task), out);
    clock.runAll();
    return *out;
}

inline bool finish(QCoro::Task<> task, platform::fake::FakeClock& clock) {
    auto done = std::make_shared<bool>(false);
    auto running = markDone(std::move(task), done);
    clock.runAll();
    return *done;
}

} // namespace corvane::testkit
