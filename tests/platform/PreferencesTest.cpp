#include "platform/fake/MemoryPreferences.h"
#include "platform/linux/SettingsPreferences.h"
#include <QDir>
#include <QFile>
#include <QRegularExpression>
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

// A file that cannot be read as settings, at start or written over the file later, is copied aside,
// owner-only and byte for byte, before anything is written over it, and gives the file written then
// only, at start, the known keys whose values are whole text within their size. A whole file is left
// alone; an empty one or one of blanks, which Corvane never leaves, is damaged too.
TEST(Preferences, ADamagedFileIsKeptAsideBeforeItIsRewritten) {
    QByteArray random(4096, '\0');
    quint32 seed = 7;
    for (char& byte : random)
        byte = char((seed = seed * 1103515245u + 12345u) >> 23);
    const struct {
        const char* name;
        QByteArray content;
        const char* reason; // "" when the file is whole
        bool whileRunning = false;
        const char* kept = "";
    } cases[] = {
        {"zeros", QByteArray(4096, '\0'), "it holds NUL bytes"},
        {"random", random.replace('\0', '\1'), "it holds bytes that are no text"},
        {"settings then zeros", QByteArray("[General]\napiEndpoint=http://127.0.0.1:8/v1\napiFormat=\"a, b\"\njunk=1\n") +
                                    QByteArray(64, '\0'),
         "it holds NUL bytes", false, "apiEndpoint=http://127.0.0.1:8/v1\napiFormat=\"a, b\"\n"},
        {"random with keys", random + "\napiVendor=\xff\x01\n[General]\napiEndpoint=\x7f\napiFormat=" + QByteArray(65, 'x'),
         "it holds bytes that are no text"},
        {"cut section", "[General\napiModel=m\n", "it is not in the settings format"},
        {"section alone", "[General]\n", "no setting could be read from it"},
        {"whole", "[General]\napiModel=\xe6\xa8\xa1\xe5\x9e\x8b\n", ""},
        {"blanks", "\n \n", "it is empty"},
        {"empty", "", "it is empty"},
        {"zeros while running", QByteArray(4096, '\0'), "it holds NUL bytes", true},
        {"random while running", random, "it holds bytes that are no text", true},
    };
    const auto known = [](const QString& key) -> qsizetype { return key.startsWith(QLatin1String("api")) ? 64 : 0; };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.filePath(QString::fromLatin1(c.name)); // the reader caches files
        const QString path = folder + QStringLiteral("/corvane.conf");
        ASSERT_TRUE(QDir().mkpath(folder));
        std::optional<linux_::SettingsPreferences> running;
        if (c.whileRunning) {
            running.emplace(path, known);
            running->setValue(QStringLiteral("apiEndpoint"), QStringLiteral("http://127.0.0.1:9/v1"));
            running->sync();
        }
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.content) == c.content.size());
        file.close();
        auto& prefs = running ? *running : running.emplace(path, known);
        prefs.setValue(QStringLiteral("apiModel"), QStringLiteral("model-b"));
        prefs.sync();
        EXPECT_FALSE(prefs.saveFailure());
        const QStringList copies = QDir(folder).entryList({QStringLiteral("corvane.conf.damaged-*")}, QDir::Files);
        if (!*c.reason) {
            EXPECT_FALSE(prefs.damagedFile());
            EXPECT_TRUE(copies.isEmpty());
            continue;
        }
        ASSERT_EQ(copies.size(), 1);
        const QString copy = folder + QLatin1Char('/') + copies[0];
        EXPECT_EQ(prefs.damagedFile(), (DamagedFile{path, QString::fromLatin1(c.reason), copy, c.whileRunning}));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^corvane\\.conf\\.damaged-\\d{4}-\\d\\d-\\d\\dT\\d{6}$"))
                        .match(copies[0]).hasMatch()) << copies[0].toStdString();
        QFile rewritten(path);
        ASSERT_TRUE(rewritten.open(QIODevice::ReadOnly));
        EXPECT_EQ(rewritten.readAll(), QByteArray("[General]\n") + c.kept +
                                           (c.whileRunning ? "apiEndpoint=http://127.0.0.1:9/v1\n" : "") +
                                           "apiModel=model-b\n");
        QFile kept(copy);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), c.content);
        EXPECT_EQ(kept.permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser), 0);
    }
}
