#pragma once
// The diagnostics log: free-form English lines to a file and to the system log.
#include <QString>

namespace corvane::platform {
class SystemLog;
class Clock;
} // namespace corvane::platform

namespace corvane::stores {

class DiagLog {
public:
    DiagLog() = delete;

    static void event(const QString& message);
    static void throttled(const QString& key, double windowSeconds, const QString& message);
    static QString tail(qint64 maxBytes);

    // Wires the system log, the clock and the file; before this, lines go nowhere (never a crash).
    static void configure(platform::SystemLog* systemLog, platform::Clock* clock, const QString& filePath);
};

} // namespace corvane::stores
