// The owner-only secrets file that stands in for the keyring: round trips, rights, failed writes
// and undecodable files.
#include "DiagFiles.h"
#include "platform/fake/FakeClock.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/linux/SettingsPreferences.h"
#include "stores/DiagLog.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

using corvane::platform::linux_::FileSecretStore;
using namespace corvane::diagtest;
using corvane::stores::DiagLog;

namespace {

const QString kService = QStringLiteral("com.corvane.app");

class FileSecretStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("data/corvane/secrets.json"));
    }
    FileSecretStore makeStore() {
        return FileSecretStore(path, [this](const QString& line) { notices << line; });
    }
    QStringList asideFiles() const {
        return QDir(QFileInfo(path).absolutePath())
            .entryList({QStringLiteral("secrets.json.unreadable-*")}, QDir::Files);
    }

    QTemporaryDir dir;
    QString path;
    QStringList notices;
};

TEST_F(FileSecretStoreTest, SaveReplaceLoadRemoveLeavesOtherItemsAlone) {
    FileSecretStore store = makeStore();
    EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), std::nullopt);

    ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.openai"), QStringLiteral("sk-first")).ok);
    ASSERT_TRUE(store.save(QStringLiteral("org.example.other"), QStringLiteral("apiKey.openai"), QStringLiteral("theirs")).ok);
    ASSERT_TRUE(store.save(kService, QStringLiteral("deviceID"), QStringLiteral("0E1A7C2B-6F4D-4C11-9A58-3D2B1F0E9C77")).ok);
    ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.openai"), QStringLiteral("sk-second")).ok);
    EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), QStringLiteral("sk-second"));

    ASSERT_TRUE(store.remove(kService, QStringLiteral("apiKey.openai")).ok);
    EXPECT_TRUE(store.remove(kService, QStringLiteral("apiKey.openai")).ok) << "removing a missing item is fine";
    EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), std::nullopt);
    EXPECT_EQ(store.load(QStringLiteral("org.example.other"), QStringLiteral("apiKey.openai")), QStringLiteral("theirs"));

    // A new instance (the next start) reads the same file.
    FileSecretStore again = makeStore();
    EXPECT_EQ(again.load(kService, QStringLiteral("deviceID")), QStringLiteral("0E1A7C2B-6F4D-4C11-9A58-3D2B1F0E9C77"));
    EXPECT_TRUE(notices.isEmpty());
}

TEST_F(FileSecretStoreTest, SecretsRoundTripExactly) {
    FileSecretStore store = makeStore();
    const QStringList secrets = {
        QStringLiteral("sk-ünïcødé-🔑-中文"), QString(), QStringLiteral("line\nbreak\t\"quoted\" \\ backslash"),
        QString(4096, QLatin1Char('k')), QStringLiteral("  padded  "),
    };
    for (const QString& secret : secrets) {
        ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.custom"), secret).ok);
        EXPECT_EQ(makeStore().load(kService, QStringLiteral("apiKey.custom")), secret);
    }
}

TEST_F(FileSecretStoreTest, FileAndFolderAreOwnerOnly) {
    FileSecretStore store = makeStore();
    ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.openai"), QStringLiteral("sk")).ok);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(path).absolutePath()), 0700u);

    // A copy with looser rights is tightened on the next read and keeps them after a write.
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0644), 0);
    EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), QStringLiteral("sk"));
    EXPECT_EQ(modeOf(path), 0600u);
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0664), 0);
    ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.openai"), QStringLiteral("sk2")).ok);
    EXPECT_EQ(modeOf(path), 0600u);
}

// Every file that holds the user's data, new or left wider by an earlier version, ends up 0600 in a
// 0700 folder under the usual umask 022.
TEST(UserDataFiles, AreOwnerOnlyWhateverTheUmask) {
    const std::pair<QString, std::function<void(const QString&)>> backends[] = {
        {QStringLiteral("config/corvane/corvane.conf"),
         [](const QString& path) {
             corvane::platform::linux_::SettingsPreferences prefs(path);
             prefs.setValue(QStringLiteral("optimization_logs"), QByteArray("[]"));
             prefs.sync();
         }},
        {QStringLiteral("state/corvane/corvane-diag.log"),
         [](const QString& path) {
             corvane::platform::fake::FakeClock clock;
             DiagLog::configure(nullptr, &clock, path);
             DiagLog::event(QStringLiteral("trigger AX read: OK len=12"));
             DiagLog::flush();
             DiagLog::configure(nullptr, nullptr, QString());
         }},
        {QStringLiteral("data/corvane/secrets.json"),
         [](const QString& path) { EXPECT_TRUE(FileSecretStore(path).save(kService, QStringLiteral("k"), QStringLiteral("s")).ok); }},
    };
    const mode_t previous = umask(022);
    for (const auto& [relative, write] : backends) {
        for (const bool leftWide : {false, true}) {
            SCOPED_TRACE(relative.toStdString() + (leftWide ? ", left 0644 in a 0755 folder" : ", new"));
            QTemporaryDir dir;
            const QString path = dir.filePath(relative);
            const QString folder = QFileInfo(path).absolutePath();
            if (leftWide) {
                writeAll(path, {});
                ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0644) | chmod(QFile::encodeName(folder).constData(), 0755), 0);
            }
            write(path);
            EXPECT_EQ(modeOf(path), 0600u);
            EXPECT_EQ(modeOf(folder), 0700u);
        }
    }
    umask(previous);
}

TEST_F(FileSecretStoreTest, FailedWriteKeepsThePreviousSecret) {
    FileSecretStore store = makeStore();
    ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.openai"), QStringLiteral("sk-old")).ok);
    const QByteArray before = readAll(path);

    // Files may not grow past a few bytes: the new content cannot be written (even for root).
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const auto result = store.save(kService, QStringLiteral("apiKey.openai"), QString(200, QLatin1Char('n')));
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains(path) && result.error.contains(QStringLiteral("File too large")))
        << result.error.toStdString();
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), QStringLiteral("sk-old"));
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList{QStringLiteral("secrets.json")})
        << "no temporary file is left behind";
}

TEST_F(FileSecretStoreTest, UndecodableFileIsKeptAsideBeforeItIsReplaced) {
    struct Case {
        const char* name;
        QByteArray content;
    };
    const Case cases[] = {
        {"truncated JSON", "{\"com.corvane.app\": {\"apiKey.openai\": \"sk-"},
        {"array", "[\"sk-1\"]"},
        {"service entry not an object", "{\"com.corvane.app\": \"sk-1\"}"},
        {"binary", QByteArray("\x00\xFF\x10garbage", 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dir.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir.path()));
        notices.clear();
        writeAll(path, c.content);
        FileSecretStore store = makeStore();

        EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), std::nullopt);
        EXPECT_EQ(store.load(kService, QStringLiteral("deviceID")), std::nullopt);
        ASSERT_EQ(notices.size(), 1) << "reported once, not on every read";
        EXPECT_TRUE(notices[0].startsWith(QStringLiteral("Keychain: ") + path + QStringLiteral(" cannot be read (")));

        ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.openai"), QStringLiteral("sk-new")).ok);
        const QStringList aside = asideFiles();
        ASSERT_EQ(aside.size(), 1);
        const QString asidePath = QFileInfo(path).absolutePath() + QLatin1Char('/') + aside[0];
        EXPECT_EQ(readAll(asidePath), c.content);
        EXPECT_EQ(modeOf(asidePath), 0600u);
        EXPECT_TRUE(notices.last().contains(asidePath)) << notices.last().toStdString();
        EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), QStringLiteral("sk-new"));

        // The fresh file decodes: a second save sets nothing else aside.
        ASSERT_TRUE(store.save(kService, QStringLiteral("deviceID"), QStringLiteral("ID")).ok);
        EXPECT_EQ(asideFiles().size(), 1);
    }
}

TEST_F(FileSecretStoreTest, ForeignValuesReadAsMissingAndSurviveWrites) {
    writeAll(path, R"({"com.corvane.app": {"apiKey.openai": 42, "apiKey.groq": "gsk"}, "other": {}})");
    FileSecretStore store = makeStore();
    EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.openai")), std::nullopt);
    ASSERT_TRUE(store.save(kService, QStringLiteral("deviceID"), QStringLiteral("ID")).ok);

    const QJsonObject root = QJsonDocument::fromJson(readAll(path)).object();
    EXPECT_EQ(root.value(kService).toObject().value(QStringLiteral("apiKey.openai")).toInt(), 42);
    EXPECT_EQ(root.value(kService).toObject().value(QStringLiteral("apiKey.groq")).toString(), QStringLiteral("gsk"));
    EXPECT_TRUE(root.contains(QStringLiteral("other")));
    EXPECT_TRUE(asideFiles().isEmpty());
}

TEST_F(FileSecretStoreTest, EmptyFileHoldsNoSecretsAndAcceptsOne) {
    writeAll(path, "");
    FileSecretStore store = makeStore();
    EXPECT_EQ(store.load(kService, QStringLiteral("deviceID")), std::nullopt);
    ASSERT_TRUE(store.save(kService, QStringLiteral("deviceID"), QStringLiteral("ID")).ok);
    EXPECT_EQ(store.load(kService, QStringLiteral("deviceID")), QStringLiteral("ID"));
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_TRUE(asideFiles().isEmpty());
}

TEST_F(FileSecretStoreTest, UnreadablePathFailsClearlyAndChangesNothing) {
    ASSERT_TRUE(QDir().mkpath(path)); // a folder where the file belongs
    FileSecretStore store = makeStore();
    EXPECT_EQ(store.load(kService, QStringLiteral("deviceID")), std::nullopt);
    const auto result = store.save(kService, QStringLiteral("deviceID"), QStringLiteral("ID"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains(path)) << result.error.toStdString();
    EXPECT_TRUE(QFileInfo(path).isDir());

    // A file where the folder belongs: the cause is named.
    FileSecretStore blocked(path + QStringLiteral("/secrets.json"));
    ASSERT_TRUE(QDir(path).rmdir(path));
    QFile taken(path);
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    EXPECT_EQ(blocked.save(kService, QStringLiteral("deviceID"), QStringLiteral("ID")).error,
              QStringLiteral("The folder %1 cannot be created (Not a directory).").arg(path));
}

TEST(FileSecretStorePath, FollowsXdgDataHome) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(FileSecretStore::defaultPath(), QStringLiteral("/srv/data/corvane/secrets.json"));
    qputenv("XDG_DATA_HOME", "");
    EXPECT_EQ(FileSecretStore::defaultPath(), QDir::homePath() + QStringLiteral("/.local/share/corvane/secrets.json"));
    qputenv("XDG_DATA_HOME", saved);
}

} // namespace
