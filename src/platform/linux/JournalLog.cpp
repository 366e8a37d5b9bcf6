#include "platform/linux/JournalLog.h"

#include <QString>
#include <vector>

#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

namespace corvane::platform::linux_ {

namespace {

void openSyslogOnce() {
    static const bool opened = [] {
        openlog(JournalLog::identifier, LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
}

bool isSocket(const char* path) {
    struct stat st {};
    return path && stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

// The journal library drops messages silently when no journal listens, so its socket is checked
// here to know when syslog must take over.
JournalLog::JournalLog(const char* socketPath) : m_journal(isSocket(socketPath)) {}

QList<QByteArray> JournalLog::journalFields(const QString& category, const QString& message) {
    return {
        QByteArrayLiteral("MESSAGE=") + message.toUtf8(),
        QByteArrayLiteral("PRIORITY=") + QByteArray::number(LOG_INFO),
        QByteArrayLiteral("SYSLOG_IDENTIFIER=") + identifier,
        QByteArrayLiteral("SUBSYSTEM=") + subsystem,
        QByteArrayLiteral("CATEGORY=") + category.toUtf8(),
    };
}

void JournalLog::info(const QString& category, const QString& message) {
    if (m_journal.load()) {
        const QList<QByteArray> fields = journalFields(category, message);
        std::vector<iovec> iov;
        iov.reserve(fields.size());
        for (const QByteArray& field : fields)
            iov.push_back({const_cast<char*>(field.constData()), size_t(field.size())});
        // The vector form takes each field as bytes: no formatting, line feeds kept.
        if (sd_journal_sendv(iov.data(), int(iov.size())) >= 0)
            return;
        m_journal.store(false);
    }
    openSyslogOnce();
    const QByteArray bytes = message.toUtf8();
    syslog(LOG_INFO, "%s", bytes.constData());
}

} // namespace corvane::platform::linux_
