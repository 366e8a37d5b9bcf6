#pragma once
// A timeline of each run for measuring where its time goes, off unless CORVANE_RUN_TRACE is set
// in the environment. Each mark is one line on standard error, "run-trace <step> <µs>", stamped
// with the system's monotonic clock so that another process can line it up with its own. Steps
// are fixed names: no text of the user's ever goes there.
#include <cstdint>

namespace corvane::platform::runtrace {

// The monotonic clock (CLOCK_MONOTONIC), in microseconds.
int64_t nowUs();
bool enabled();
// Marks a step now, or at a time taken earlier with nowUs(). Costs one branch when off.
void mark(const char* step, int64_t atUs = -1);

} // namespace corvane::platform::runtrace
