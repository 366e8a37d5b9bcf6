#pragma once
// The diagnostics log: free-form English lines to a file and to the system log.
// Each file line is the local time as "MM-dd HH:mm:ss.SSS", a blank, the message and a line feed;
// the system log receives the bare message. Safe to call from any thread.
#include <QString>

namespace corvane::platform {
class SystemLog;
class Clock;
} // namespace corvane::platform

namespace corvane::stores {

class DiagLog {
public:
    DiagLog() = delete;

    static constexpr const char* subsystem = "com.corvane.app";
    static constexpr const char* category = "diag";

    // Mirrors the message to the system log on the caller's thread and queues the file append on
    // the log's own writer thread; never touches the file on the caller's thread.
    static void event(const QString& message);
    // Passes the message on unless the same key let a line through less than windowSeconds ago
    // (measured on the clock's uptime). Dropped lines do not extend the window.
    static void throttled(const QString& key, double windowSeconds, const QString& message);
    // The last maxBytes bytes of the file (fewer when the cut falls inside a character); "" when
    // there is no file. Reads only the end of the file.
    static QString tail(qint64 maxBytes);

    // Wires the system log, the clock and the file; before this, lines go nowhere (never a crash).
    // Also forgets the throttle times, which belong to the previous clock.
    static void configure(platform::SystemLog* systemLog, platform::Clock* clock, const QString& filePath);

    // $XDG_STATE_HOME/corvane/corvane-diag.log ($HOME/.local/state when XDG_STATE_HOME is unset).
    static QString defaultFilePath();
    // The configured file, or "" when lines go to no file.
    static QString filePath();

    // Blocks until every line queued so far has been written (or given up on).
    static void flush();
};

} // namespace corvane::stores
