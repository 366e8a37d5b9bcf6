#include "StoresFixture.h"
#include "platform/fake/MemorySystemLog.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/OptimizationLogger.h"
#include "stores/StorageWatch.h"
#include <QSignalSpy>

using namespace corvane;
using namespace corvane::stores;

namespace {

class SaveFailureTest : public test::StoresTest {
protected:
    void SetUp() override { DiagLog::configure(&systemLog, &clock, QString()); }
    void TearDown() override { DiagLog::configure(nullptr, nullptr, QString()); }
    qsizetype diagLines(const QString& fragment) const { return systemLog.lines().filter(fragment).size(); }
    QByteArray onDisk(const char* key) const {
        return prefs.storedValues().value(QString::fromLatin1(key)).toByteArray();
    }

    platform::fake::MemorySystemLog systemLog;
    const QString folder = QStringLiteral("/home/ada/.config/corvane");
};

// The folder refuses writes while the user works: runs and a remembered rule stay in memory, the
// user is told once with the folder and the reason, and everything lands at the first retry after
// the folder takes writes again. Breaking again later is told again.
TEST_F(SaveFailureTest, RefusedWritesAreToldOnceKeptAndStoredOnceTheFolderTakesThemAgain) {
    StorageWatch watch(prefs, clock);
    QSignalSpy failed(&watch, &StorageWatch::saveFailed);
    QSignalSpy recovered(&watch, &StorageWatch::saveRecovered);
    OptimizationLogger log(prefs, clock);
    AppProfileStore rules(prefs, clock, {});
    const QByteArray rulesBefore = onDisk(AppProfileStore::storageKey);

    prefs.failPushes(platform::SaveFailure{folder, QStringLiteral("Read-only file system")});
    log.log(OptimizationLog::LogStatus::Triggered, QStringLiteral("first text"));
    log.flush();
    rules.setMapping(QStringLiteral("org.gnome.TextEditor"), QStringLiteral("Text Editor"), QStringLiteral("brief"));
    log.log(OptimizationLog::LogStatus::Completed, QStringLiteral("second text"));
    log.flush();
    clock.advance(3 * StorageWatch::retryMs);

    ASSERT_EQ(failed.size(), 1);
    const QString told = failed.first().at(1).toString();
    EXPECT_TRUE(told.contains(folder) && told.contains(QStringLiteral("Read-only file system"))) << told.toStdString();
    EXPECT_EQ(diagLines(QStringLiteral("cannot be saved in ") + folder + QStringLiteral(": Read-only file system")), 1);
    EXPECT_FALSE(rules.isSaved());
    EXPECT_EQ(log.entries().size(), 2);
    EXPECT_TRUE(onDisk(OptimizationLogger::storageKey).isEmpty());
    EXPECT_EQ(onDisk(AppProfileStore::storageKey), rulesBefore);

    prefs.failPushes(std::nullopt);
    clock.advance(StorageWatch::retryMs);
    EXPECT_EQ(recovered.size(), 1);
    EXPECT_TRUE(rules.isSaved());
    EXPECT_EQ(array(onDisk(OptimizationLogger::storageKey)).size(), 2);
    EXPECT_TRUE(onDisk(AppProfileStore::storageKey).contains("org.gnome.TextEditor"));
    EXPECT_EQ(diagLines(QStringLiteral("saved again in ") + folder), 1);

    prefs.failPushes(platform::SaveFailure{folder, QStringLiteral("No space left on device")});
    log.log(OptimizationLog::LogStatus::Triggered, QStringLiteral("third text"));
    log.flush();
    ASSERT_EQ(failed.size(), 2);
    EXPECT_TRUE(failed.last().at(1).toString().contains(QStringLiteral("No space left on device")));
    EXPECT_EQ(array(onDisk(OptimizationLogger::storageKey)).size(), 2);
}

// A second damage while the folder is too full to keep a copy of the first is logged and told as
// well; the copy made later is only logged.
TEST_F(SaveFailureTest, EachDamageFoundWhileRunningIsToldOnceCopyOrNot) {
    StorageWatch watch(prefs, clock);
    QSignalSpy told(&watch, &StorageWatch::damagedFound);
    const QString file = folder + QStringLiteral("/corvane.conf");
    prefs.failPushes(platform::SaveFailure{folder, QStringLiteral("No space left on device")});
    const auto damageAndPush = [&](const char* reason, const QString& keptAs, int count) {
        prefs.damage(platform::DamagedFile{file, QString::fromLatin1(reason), keptAs, true, count});
        prefs.setValue(QStringLiteral("apiModel"), QString::number(count) + keptAs);
        prefs.sync();
    };
    damageAndPush("it holds NUL bytes", {}, 1);
    damageAndPush("it lacks settings Corvane holds", {}, 2);
    damageAndPush("it lacks settings Corvane holds", file + QStringLiteral(".damaged-1"), 2);
    ASSERT_EQ(told.size(), 2);
    EXPECT_TRUE(told.last().at(1).toString().contains(QStringLiteral("it lacks settings Corvane holds")));
    EXPECT_EQ(diagLines(QStringLiteral("was changed on disk and cannot be read as settings")), 2);
    EXPECT_EQ(diagLines(QStringLiteral("was kept as ") + file + QStringLiteral(".damaged-1")), 1);
}

} // namespace
