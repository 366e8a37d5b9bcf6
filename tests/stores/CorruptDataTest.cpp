// Stored JSON that cannot be read is never silently overwritten: the first write sets the raw bytes
// aside under "<key>.corrupt-<seconds since 2001>" and the store carries on from a clean state.
#include "StoresFixture.h"
#include "platform/fake/MemorySystemLog.h"
#include "platform/linux/SettingsPreferences.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

using namespace corvane::stores;

namespace {

struct Damage {
    const char* name;
    QByteArray bytes;
};

// Kinds of damage every JSON key is tried with; the record-level ones are valid JSON.
QList<Damage> damages(const QByteArray& recordMissingAKey) {
    return {{"not json", "[{\"id\":"},
            {"binary", QByteArray("\xff\xfe\x00\x01garbage", 11)},
            {"wrong shape", "{\"rules\":[]}"},
            {"array of numbers", "[1,2,3]"},
            {"one bad record", recordMissingAKey}};
}

// Starts the store under test, reports what it reads, and makes it write.
struct Subject {
    const char* key;
    QByteArray recordMissingAKey;
    std::function<QString(corvane::platform::Preferences&)> startAndRead; // what the fresh store shows
    std::function<void()> write;                            // makes the store save
    std::function<QString()> readAfterWrite;
    QString expectedRead;
    bool writesAtStart;
};

class CorruptDataTest : public test::StoresTest {
protected:
    std::unique_ptr<RecipeStore> recipes;
    std::unique_ptr<AppProfileStore> rules;
    std::unique_ptr<OptimizationLogger> logger;

    QList<Subject> subjects() {
        const QStringList langs{QStringLiteral("en")};
        return {
            {"recipes_user", R"([{"id":"user-1","name":"Kept"}])",
             [this, langs](corvane::platform::Preferences& p) {
                 recipes = std::make_unique<RecipeStore>(p, clock, langs);
                 return QString::number(recipes->userRecipes().size());
             },
             [this] { recipes->addUserRecipe(QStringLiteral("New"), QStringLiteral("p")); },
             [this] { return QString::number(recipes->userRecipes().size()); }, QStringLiteral("0"), false},
            {"recipes_builtin_overrides", R"({"optimize":"mine","brief":7})",
             [this, langs](corvane::platform::Preferences& p) {
                 recipes = std::make_unique<RecipeStore>(p, clock, langs);
                 return QString::number(recipes->overrides().size());
             },
             [this] { recipes->updateSystemPrompt(QStringLiteral("brief"), QStringLiteral("b")); },
             [this] { return QString::number(recipes->overrides().size()); }, QStringLiteral("0"), false},
            {"app_recipe_rules", R"([{"bundleID":"org.kde.kate","appName":"Kate"}])",
             [this, langs](corvane::platform::Preferences& p) {
                 rules = std::make_unique<AppProfileStore>(p, clock, langs);
                 return QString::number(rules->rules().size());
             },
             [this] { rules->remove(QStringLiteral("code")); },
             [this] { return QString::number(rules->rules().size()); }, QStringLiteral("17"), true},
            {"optimization_logs", R"([{"id":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","timestamp":1,"status":"完成"}])",
             [this](corvane::platform::Preferences& p) {
                 logger = std::make_unique<OptimizationLogger>(p, clock);
                 return QString::number(logger->entries().size());
             },
             [this] { logger->log(OptimizationLog::LogStatus::Triggered, QStringLiteral("x")); },
             [this] { return QString::number(logger->entries().size()); }, QStringLiteral("0"), false},
        };
    }
};

TEST_F(CorruptDataTest, UnreadableDataIsSetAsideBeforeTheFirstWrite) {
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0, 0, 900), Qt::UTC);
    const QString stamp = QString::number(qint64(now.toSecsSinceEpoch() - 978307200));
    for (const Subject& subject : subjects()) {
        for (const Damage& damage : damages(subject.recordMissingAKey)) {
            SCOPED_TRACE(std::string(subject.key) + " / " + damage.name);
            prefs.clear();
            clock.setNow(now);
            store(subject.key, damage.bytes);

            EXPECT_EQ(subject.startAndRead(prefs), subject.expectedRead);
            if (!subject.writesAtStart) {
                EXPECT_EQ(stored(subject.key), damage.bytes) << "nothing is written until the store must save";
                EXPECT_TRUE(keptAside(subject.key).isEmpty());
                subject.write();
            }
            const QString aside = QString::fromLatin1(subject.key) + QStringLiteral(".corrupt-") + stamp;
            ASSERT_EQ(keptAside(subject.key), QStringList{aside});
            EXPECT_EQ(prefs.bytes(aside), damage.bytes) << "the raw bytes are kept exactly";
            EXPECT_NE(stored(subject.key), damage.bytes);

            // Later writes leave the kept copy alone and make no more copies.
            clock.advance(5000);
            subject.write();
            subject.write();
            EXPECT_EQ(keptAside(subject.key), QStringList{aside});
            EXPECT_EQ(prefs.bytes(aside), damage.bytes);

            // The new data reads back after a restart, and nothing more is set aside.
            const QString afterWrite = subject.readAfterWrite();
            EXPECT_EQ(subject.startAndRead(prefs), afterWrite);
            EXPECT_EQ(keptAside(subject.key).size(), 1);
        }
    }
}

// Hand-edited lines that the INI reader does not hand back as text: lists, typed values, invalid
// variants. They are something stored all the same, and are kept aside in the form the file gives.
TEST_F(CorruptDataTest, ValuesTheIniFileDoesNotReturnAsTextAreSetAsideToo) {
    const QByteArray lines[] = {"@,", "@Rect(0 0 1 1)", "@Size(1 2)", "@Invalid()", "a, b", "[1, 2, 3]",
                                "[{\"id\":\"user-1\", \"name\":\"Kept\"}]", ""};
    QTemporaryDir dir;
    int n = 0;
    for (const Subject& subject : subjects()) {
        for (const QByteArray& line : lines) {
            SCOPED_TRACE(std::string(subject.key) + "=" + line.toStdString());
            // One file each: the INI reader caches files it has read.
            const QString path = dir.filePath(QStringLiteral("corvane/%1.conf").arg(++n));
            {
                QDir().mkpath(dir.filePath(QStringLiteral("corvane")));
                QFile file(path);
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write("[General]\n" + QByteArray(subject.key) + '=' + line + '\n');
            }
            corvane::platform::linux_::SettingsPreferences ini(path);
            const std::optional<QVariant> original = ini.value(QString::fromLatin1(subject.key));
            ASSERT_TRUE(original.has_value());
            EXPECT_EQ(subject.startAndRead(ini), subject.expectedRead);
            if (!subject.writesAtStart)
                subject.write();
            const QStringList aside = ini.keys().filter(QString::fromLatin1(subject.key) + QStringLiteral(".corrupt-"));
            ASSERT_EQ(aside.size(), 1);
            EXPECT_EQ(ini.value(aside.first()), original) << "kept in the form the file gave";
            const QString afterWrite = subject.readAfterWrite();
            EXPECT_EQ(subject.startAndRead(ini), afterWrite) << "the new value reads back";
        }
    }
}

TEST_F(CorruptDataTest, ASecondDamagedValueInTheSameSecondGetsItsOwnKey) {
    store("optimization_logs", "oops-1");
    OptimizationLogger(prefs, clock).log(OptimizationLog::LogStatus::Failed, QStringLiteral("a"));
    store("optimization_logs", "oops-2");
    OptimizationLogger(prefs, clock).log(OptimizationLog::LogStatus::Failed, QStringLiteral("b"));
    QStringList aside = keptAside("optimization_logs");
    aside.sort();
    ASSERT_EQ(aside.size(), 2);
    EXPECT_EQ(prefs.bytes(aside[0]), QByteArray("oops-1"));
    EXPECT_EQ(prefs.bytes(aside[1]), QByteArray("oops-2"));
    EXPECT_EQ(aside[1], aside[0] + QStringLiteral("-2"));
}

TEST_F(CorruptDataTest, AValueThatIsNotEvenTextIsKeptInItsOwnForm) {
    // A hand-edited INI line with commas comes back from the backend as a list of strings.
    const QStringList edited{QStringLiteral("[{\"bundleID\":\"a\""), QStringLiteral("\"appName\":\"A\"}]")};
    prefs.setValue(QStringLiteral("app_recipe_rules"), edited);
    AppProfileStore rulesStore(prefs, clock, {});
    const QStringList aside = keptAside("app_recipe_rules");
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(prefs.value(aside.first()), QVariant(edited));
}

TEST_F(CorruptDataTest, TheMigrationWriteAlsoSetsDamagedOverridesAside) {
    store("recipes_builtin_overrides", "not json");
    prefs.setValue(QStringLiteral("systemPrompt"), QStringLiteral("my old prompt"));
    RecipeStore store(prefs, clock, {});
    EXPECT_EQ(store.overrides().value(QStringLiteral("optimize")), QStringLiteral("my old prompt"));
    const QStringList aside = keptAside("recipes_builtin_overrides");
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(prefs.bytes(aside.first()), QByteArray("not json"));
}

TEST_F(CorruptDataTest, TheDiagnosticsLogNamesTheKeyAndWhereTheBytesWent) {
    corvane::platform::fake::MemorySystemLog systemLog;
    DiagLog::configure(&systemLog, &clock, QString());
    store("app_recipe_rules", "{broken");
    AppProfileStore rulesStore(prefs, clock, {});
    DiagLog::configure(nullptr, nullptr, QString());

    const QString aside = keptAside("app_recipe_rules").value(0);
    ASSERT_FALSE(aside.isEmpty());
    const QString all = systemLog.lines().join(u'\n');
    EXPECT_TRUE(all.contains(QStringLiteral("app_recipe_rules"))) << all.toStdString();
    EXPECT_TRUE(all.contains(aside)) << all.toStdString();
}

} // namespace
