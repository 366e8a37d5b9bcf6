#include "platform/RunTrace.h"
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace corvane::platform::runtrace {

int64_t nowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool enabled() {
    static const bool on = [] {
        const char* value = std::getenv("CORVANE_RUN_TRACE");
        return value && *value && *value != '0';
    }();
    return on;
}

void mark(const char* step, int64_t atUs) {
    if (!enabled())
        return;
    char line[96];
    const int n = std::snprintf(line, sizeof line, "run-trace %s %lld\n", step,
                                static_cast<long long>(atUs < 0 ? nowUs() : atUs));
    // One write, unbuffered: lines from a run that crashes are still there.
    if (n > 0)
        (void)!::write(STDERR_FILENO, line, size_t(n < int(sizeof line) ? n : int(sizeof line) - 1));
}

} // namespace corvane::platform::runtrace
