#pragma once
// The system's unified log (journal or syslog): receives the bare diagnostics message.
#include <QString>

namespace corvane::platform {

class SystemLog {
public:
    virtual ~SystemLog() = default;
    // subsystem "com.corvane.app", category e.g. "diag", level info. Must never block for long.
    virtual void info(const QString& category, const QString& message) = 0;
};

} // namespace corvane::platform
