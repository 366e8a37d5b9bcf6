#pragma once
#include "platform/SystemLog.h"
#include <QByteArray>
#include <QList>
#include <atomic>

namespace corvane::platform::linux_ {

// The system log on the systemd journal: each message becomes one entry with SYSLOG_IDENTIFIER
// "corvane", SUBSYSTEM "com.corvane.app", CATEGORY (e.g. "diag") and priority info. Where no journal
// listens, messages go to syslog under the identifier "corvane". The message is always passed as
// data, never as a format string.
class JournalLog final : public SystemLog {
public:
    static constexpr const char* identifier = "corvane";
    static constexpr const char* subsystem = "com.corvane.app";

    // Uses the journal when its socket exists at socketPath, else syslog from the start.
    explicit JournalLog(const char* socketPath = "/run/systemd/journal/socket");

    void info(const QString& category, const QString& message) override;

    // The journal fields of one entry, each "NAME=value" (the value's bytes exactly, UTF-8).
    static QList<QByteArray> journalFields(const QString& category, const QString& message);
    // False once the journal refused a message and syslog took over.
    bool usesJournal() const { return m_journal.load(); }

private:
    std::atomic<bool> m_journal;
};

} // namespace corvane::platform::linux_
