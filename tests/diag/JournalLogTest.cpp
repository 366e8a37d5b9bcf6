// The system log backend: what one journal entry carries, and that hostile text is only ever data.
#include "platform/linux/JournalLog.h"

#include <QLocalServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using corvane::platform::linux_::JournalLog;

namespace {

TEST(JournalLog, EntryCarriesIdentifierSubsystemCategoryPriorityAndTheBareMessage) {
    struct Case {
        QString message;
        QByteArray expected;
    };
    const Case cases[] = {
        {QStringLiteral("App launching, AXIsProcessTrusted=true"), "MESSAGE=App launching, AXIsProcessTrusted=true"},
        {QStringLiteral("%s%n%s%n"), "MESSAGE=%s%n%s%n"},
        {QStringLiteral("first\nsecond"), "MESSAGE=first\nsecond"},
        {QStringLiteral("中文 🙂"), "MESSAGE=\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x99\x82"},
        {QString(), "MESSAGE="},
    };
    for (const Case& c : cases) {
        const QList<QByteArray> fields = JournalLog::journalFields(QStringLiteral("diag"), c.message);
        EXPECT_EQ(fields, (QList<QByteArray>{c.expected, "PRIORITY=6", "SYSLOG_IDENTIFIER=corvane",
                                              "SUBSYSTEM=com.corvane.app", "CATEGORY=diag"}));
    }
}

TEST(JournalLog, PicksSyslogWhenNoJournalListens) {
    QTemporaryDir dir;
    EXPECT_FALSE(JournalLog(dir.filePath(QStringLiteral("missing.socket")).toUtf8().constData()).usesJournal());
    EXPECT_FALSE(JournalLog(dir.path().toUtf8().constData()).usesJournal()) << "a folder is no journal";

    QLocalServer server;
    const QString socket = dir.filePath(QStringLiteral("journal.socket"));
    ASSERT_TRUE(server.listen(socket));
    EXPECT_TRUE(JournalLog(socket.toUtf8().constData()).usesJournal());
}

TEST(JournalLog, FormatDirectivesInMessagesAreNeverInterpreted) {
    // Were a message used as a format, "%n" would write through a garbage pointer and "%s" read one.
    QTemporaryDir dir;
    QLocalServer server;
    const QString socket = dir.filePath(QStringLiteral("journal.socket"));
    ASSERT_TRUE(server.listen(socket));
    JournalLog journal(socket.toUtf8().constData());
    JournalLog syslogOnly(dir.filePath(QStringLiteral("none")).toUtf8().constData());
    for (const QString& hostile : {QStringLiteral("%s%n%s%n"), QStringLiteral("%99999999s%p%x%@"), QStringLiteral("%")}) {
        journal.info(QStringLiteral("diag"), hostile);
        syslogOnly.info(QStringLiteral("diag"), hostile);
    }
    SUCCEED();
}

} // namespace
