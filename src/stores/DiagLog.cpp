// Placeholder until the file-backed log lands: forwards to the system log only.
#include "stores/DiagLog.h"
#include "platform/SystemLog.h"

namespace corvane::stores {

namespace {
platform::SystemLog* g_log = nullptr;
}

void DiagLog::configure(platform::SystemLog* systemLog, platform::Clock*, const QString&) { g_log = systemLog; }

void DiagLog::event(const QString& message) {
    if (g_log)
        g_log->info(QStringLiteral("diag"), message);
}

void DiagLog::throttled(const QString&, double, const QString& message) { event(message); }

QString DiagLog::tail(qint64) { return {}; }

} // namespace corvane::stores
