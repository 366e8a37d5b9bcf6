#include "platform/fake/MemoryPreferences.h"
#include "platform/linux/SettingsPreferences.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <limits>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane::platform;

namespace {
QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}
bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
} // namespace

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

    // A named pipe in the file's place, while running and at start, refuses as such a folder does and
    // is never waited on.
    ASSERT_TRUE(file.remove() && ::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600) == 0);
    const SaveFailure pipe{folder, QStringLiteral("corvane.conf is a named pipe, not a file")};
    prefs.setValue(QStringLiteral("apiModel"), QStringLiteral("model-c"));
    prefs.sync();
    EXPECT_EQ(prefs.saveFailure(), pipe);
    EXPECT_EQ(linux_::SettingsPreferences(file.fileName()).saveFailure(), pipe);
    ASSERT_TRUE(file.remove());
    prefs.sync();
    EXPECT_TRUE(!prefs.saveFailure() && readAll(file.fileName()).contains("apiModel=model-c"));
}

// The new file cannot be written once the damaged one is copied aside: the copy took the folder's
// last inode, or the folder turned read-only after a copy of the same bytes was made. The file keeps
// the bytes it had, the copy is there, and the push says why.
TEST(Preferences, ARewriteThatFailsHalfWayLeavesThePreviousBytes) {
    static const bool privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                                      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!privateMounts)
        GTEST_SKIP() << "mounting a small tmpfs needs root and a private mount namespace (unshare)";
    const QByteArray damaged = "[General]\napiModel=m\n"; // lacks the endpoint the file held
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only" : "no inode");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("corvane")), path = folder + QStringLiteral("/corvane.conf");
        const QByteArray at = QFile::encodeName(folder);
        ASSERT_TRUE(QDir().mkpath(folder) && ::mount("tmpfs", at, "tmpfs", 0, "nr_inodes=16") == 0);
        const auto unmount = qScopeGuard([&] { ::umount2(at, MNT_DETACH); });
        linux_::SettingsPreferences prefs(path);
        prefs.setValue(QStringLiteral("apiEndpoint"), QStringLiteral("http://127.0.0.1:9/v1"));
        prefs.sync();
        const QString made = path + QStringLiteral(".damaged-2026-01-01T000000");
        ASSERT_TRUE(writeAll(path, damaged) && (!readOnly || writeAll(made, damaged)));
        int n = 0;
        while (!readOnly && writeAll(folder + QStringLiteral("/filler%1").arg(n), {}))
            ++n;
        ASSERT_TRUE(readOnly ? ::mount("tmpfs", at, "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0
                             : QFile::remove(folder + QStringLiteral("/filler%1").arg(n - 1)));
        prefs.setValue(QStringLiteral("apiModel"), QStringLiteral("model-b"));
        prefs.sync();
        EXPECT_EQ(readAll(path), damaged);
        EXPECT_EQ(prefs.saveFailure(),
                  (SaveFailure{folder, readOnly ? QStringLiteral("Read-only file system") : QStringLiteral("No space left on device")}));
        const QString kept = prefs.damagedFile().value_or(DamagedFile{}).keptAs;
        EXPECT_TRUE(readOnly ? kept == made : !kept.isEmpty()) << kept.toStdString();
        EXPECT_EQ(readAll(kept), damaged);
    }
}

// A file that cannot be read as settings, at start or written over the file later, is copied aside,
// owner-only and byte for byte, before anything is written over it, and gives the file written then
// only, at start, the known keys whose values are whole text within their size and read back the
// same. A whole file is left alone; an empty one or one of blanks, which Corvane never leaves, is
// damaged too. Changed while running, a file that lacks a setting it held or holds keys Corvane
// neither holds nor knows is damaged; one that changes held values or adds known ones is taken in.
// No temporary folder is needed to judge a file.
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
        const char* kept = ""; // whole: the file's settings after the push
        int times = 1;         // written over the file this often, a push after each
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
        {"a text the file cannot carry, then zeros", "[General]\napiVendor=\\xd800x\napiFormat=f\n" + QByteArray(8, '\0'),
         "it holds NUL bytes", false, "apiFormat=f\n"},
        {"zeros while running", QByteArray(4096, '\0'), "it holds NUL bytes", true},
        {"random while running", random, "it holds bytes that are no text", true},
        {"the same random twice while running", random, "it holds bytes that are no text", true, "", 2},
        {"cut at a line while running", "[General]\napiModel=m\n", "it lacks settings Corvane holds", true},
        {"foreign lines while running", "[General]\napiEndpoint=http://127.0.0.1:9/v1\nnote=hello\n",
         "it holds lines that are not Corvane's settings", true},
        {"held and known values changed while running", "[General]\napiEndpoint=http://127.0.0.1:7/v1\napiVendor=v\n", "",
         true, "apiEndpoint=http://127.0.0.1:7/v1\napiModel=model-b\napiVendor=v\n"},
    };
    const auto known = [](const QString& key) -> qsizetype { return key.startsWith(QLatin1String("api")) ? 64 : 0; };
    QTemporaryDir dir;
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("no-such-folder"))));
    const auto restore = qScopeGuard([&] { qputenv("TMPDIR", tmp); });
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
        for (int time = 0; time < c.times; ++time) {
            ASSERT_TRUE(writeAll(path, c.content));
            if (!running)
                running.emplace(path, known);
            running->setValue(QStringLiteral("apiModel"), QStringLiteral("model-b"));
            running->sync();
        }
        auto& prefs = *running;
        EXPECT_FALSE(prefs.saveFailure());
        const QStringList copies = QDir(folder).entryList({QStringLiteral("corvane.conf.damaged-*")}, QDir::Files);
        if (!*c.reason) {
            EXPECT_FALSE(prefs.damagedFile());
            EXPECT_TRUE(copies.isEmpty());
            EXPECT_EQ(readAll(path), QByteArray("[General]\n") + (*c.kept ? c.kept : "apiModel=model-b\n"));
            continue;
        }
        ASSERT_EQ(copies.size(), 1) << "an identical damage keeps the copy made before";
        const QString copy = folder + QLatin1Char('/') + copies[0];
        EXPECT_EQ(prefs.damagedFile(), (DamagedFile{path, QString::fromLatin1(c.reason), copy, c.whileRunning, c.times}));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^corvane\\.conf\\.damaged-\\d{4}-\\d\\d-\\d\\dT\\d{6}$"))
                        .match(copies[0]).hasMatch()) << copies[0].toStdString();
        EXPECT_EQ(readAll(path), QByteArray("[General]\n") + c.kept +
                                     (c.whileRunning ? "apiEndpoint=http://127.0.0.1:9/v1\n" : "") + "apiModel=model-b\n");
        EXPECT_EQ(readAll(copy), c.content);
        QFile kept(copy);
        EXPECT_EQ(kept.permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser), 0);
    }
    // With nothing kept and nothing written since, the damaged file stays until a setting is
    // written: an empty file in its place would be found damaged at the next start.
    const QString untouched = dir.filePath(QStringLiteral("nothing held/corvane.conf"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(untouched).path()) && writeAll(untouched, random));
    linux_::SettingsPreferences(untouched, known).sync();
    EXPECT_EQ(readAll(untouched), random);
}
