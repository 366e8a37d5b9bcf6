#include "platform/fake/MemoryPreferences.h"
#include "platform/linux/SettingsPreferences.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <limits>
#include <gtest/gtest.h>

using namespace corvane::platform;

// The INI backend hands numbers and booleans back as text; the typed readers must parse them the
// same way whatever the backend.
TEST(Preferences, IniValuesParseOnReadAfterReopen) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/corvane.conf"));
    {
        linux_::SettingsPreferences prefs(path);
        prefs.setValue(QStringLiteral("triggerSpaceCount"), 4);
        prefs.setValue(QStringLiteral("triggerIntervalMs"), 612.5);
        prefs.setValue(QStringLiteral("hotkeyEnabled"), false);
        prefs.setValue(QStringLiteral("apiModel"), QStringLiteral("gpt-4o"));
        prefs.setValue(QStringLiteral("json"), QByteArray("[{\"id\":\"x\"}]"));
        prefs.sync();
    }
    linux_::SettingsPreferences prefs(path);
    EXPECT_EQ(prefs.integer(QStringLiteral("triggerSpaceCount")), 4);
    EXPECT_EQ(prefs.number(QStringLiteral("triggerIntervalMs")), 612.5);
    EXPECT_EQ(prefs.boolean(QStringLiteral("hotkeyEnabled")), false);
    EXPECT_EQ(prefs.string(QStringLiteral("apiModel")), QStringLiteral("gpt-4o"));
    EXPECT_EQ(prefs.bytes(QStringLiteral("json")), QByteArray("[{\"id\":\"x\"}]"));
    EXPECT_FALSE(prefs.integer(QStringLiteral("missing")).has_value());
}

TEST(Preferences, UnparsableValuesReadAsAbsent) {
    fake::MemoryPreferences prefs;
    prefs.setValue(QStringLiteral("n"), QStringLiteral("twelve"));
    prefs.setValue(QStringLiteral("b"), QStringLiteral("maybe"));
    EXPECT_FALSE(prefs.integer(QStringLiteral("n")).has_value());
    EXPECT_FALSE(prefs.number(QStringLiteral("n")).has_value());
    EXPECT_FALSE(prefs.boolean(QStringLiteral("b")).has_value());
    prefs.setValue(QStringLiteral("n"), QStringLiteral(" 7 "));
    EXPECT_EQ(prefs.integer(QStringLiteral("n")), 7);
}

// Hand-edited numbers that do not fit in 64 bits read as absent (their cast would be undefined).
TEST(Preferences, NumbersOutsideTheIntegerRangeReadAsAbsent) {
    const std::pair<const char*, std::optional<qint64>> cases[] = {
        {"9.3e18", std::nullopt}, {"-1e300", std::nullopt}, {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt}, {"nan", std::nullopt}, {"12.7", 12}, {"-9.2e18", qint64(-92e17)}};
    QTemporaryDir dir;
    for (const auto& [line, integer] : cases) {
        const QString path = dir.filePath(QString::fromLatin1(line) + QStringLiteral(".conf")); // the reader caches files
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[General]\nminTextLength=") + line + '\n');
        file.close();
        EXPECT_EQ(linux_::SettingsPreferences(path).integer(QStringLiteral("minTextLength")), integer) << line;
    }
    fake::MemoryPreferences memory;
    for (const QVariant& v : {QVariant(1e300), QVariant(std::numeric_limits<quint64>::max())}) {
        memory.setValue(QStringLiteral("n"), v);
        EXPECT_FALSE(memory.integer(QStringLiteral("n")).has_value());
    }
}

// A folder that takes no file: the push keeps the value in memory and names the reason; once the
// folder is usable the next push stores it, although QSettings still reports its first error.
TEST(Preferences, APushThatCannotLandSaysWhyAndTheNextOneThatCanStoresEverything) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("corvane"));
    QFile blocker(folder); // a file where the folder belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    linux_::SettingsPreferences prefs(folder + QStringLiteral("/corvane.conf"));
    int pushes = 0;
    prefs.setPushObserver([&] { ++pushes; });

    prefs.setValue(QStringLiteral("apiModel"), QStringLiteral("model-a"));
    prefs.sync();
    EXPECT_EQ(prefs.saveFailure(), (SaveFailure{folder, QStringLiteral("Not a directory")}));
    EXPECT_TRUE(prefs.isUnsaved(QStringLiteral("apiModel")));
    EXPECT_EQ(prefs.string(QStringLiteral("apiModel")), QStringLiteral("model-a"));

    ASSERT_TRUE(QFile::remove(folder) && QDir().mkdir(folder));
    prefs.setValue(QStringLiteral("apiTimeout"), 12);
    prefs.sync();
    EXPECT_FALSE(prefs.saveFailure());
    EXPECT_FALSE(prefs.isUnsaved(QStringLiteral("apiModel")));
    QFile file(folder + QStringLiteral("/corvane.conf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("apiModel=model-a") && text.contains("apiTimeout=12")) << text.toStdString();
    EXPECT_EQ(pushes, 2);
}
