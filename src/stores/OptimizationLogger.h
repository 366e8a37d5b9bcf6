#pragma once
// The user-visible activity log: newest first, at most 200 records, stored under "optimization_logs".
// Each change sets the stored value at once (only the new record is encoded); the preferences are
// pushed to storage once at the end of the event-loop turn, however many records it logged, and
// whenever flush() is called.
#include "stores/OptimizationLog.h"
#include "stores/StoredJson.h"
#include <QObject>

namespace corvane::platform {
class Preferences;
class Clock;
} // namespace corvane::platform

namespace corvane::stores {

class OptimizationLogger : public QObject {
    Q_OBJECT
public:
    static constexpr const char* storageKey = "optimization_logs";
    static constexpr int maxEntries = 200;

    // Loads the stored list (as stored: order kept, no cap applied).
    OptimizationLogger(platform::Preferences& preferences, platform::Clock& clock, QObject* parent = nullptr);

    static OptimizationLogger& shared();
    static void setShared(OptimizationLogger* logger);

    const QList<OptimizationLog>& entries() const { return m_entries; }

    // Puts a new record at the front (previews cut to 80 characters), keeps the newest 200, stores.
    void log(OptimizationLog::LogStatus status, const QString& original, std::optional<QString> optimized = {},
             std::optional<QString> detail = {}, std::optional<QString> recipe = {},
             std::optional<QString> context = {});
    // Removes every record and stores "[]".
    void clearAll();
    // Pushes the stored list to storage now, if a change is still pending.
    void flush();
    ~OptimizationLogger() override;

Q_SIGNALS:
    void entriesChanged();

private:
    void save();

    platform::Preferences& m_prefs;
    platform::Clock& m_clock;
    QList<OptimizationLog> m_entries;
    QList<QByteArray> m_encoded;  // each entry's stored JSON, in the same order
    bool m_flushPending = false;
    StoredJson m_slot;
};

} // namespace corvane::stores
