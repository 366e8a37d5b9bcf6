#pragma once
// A signed update server on 127.0.0.1, a temporary install folder, and packages built by the test.
#include "llm/HttpConnectionPool.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "services/UpdatePackage.h"
#include "services/UpdatePresenter.h"
#include "services/UpdateService.h"
#include "support/TestHttpServer.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sodium.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane::test {

inline void spinUntil(const std::function<bool()>& done, int boundMs = 30000) {
    QDeadlineTimer deadline(boundMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

struct KeyPair {
    QByteArray publicKey, secretKey;
    KeyPair() : publicKey(crypto_sign_PUBLICKEYBYTES, '\0'), secretKey(crypto_sign_SECRETKEYBYTES, '\0') {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                            reinterpret_cast<unsigned char*>(secretKey.data()));
    }
    QByteArray sign(const QByteArray& data) const { return services::updatepkg::signBytes(data, secretKey); }
};

// One archive entry as the test wants it, escaping or not.
struct TarEntry {
    enum Type { File, Dir, Link };
    QByteArray path;
    Type type = File;
    QByteArray data; // file content, or the link target
    int mode = 0644;
};

inline QByteArray makeTarGz(const QList<TarEntry>& entries) {
    archive* a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
    qsizetype room = 1 << 20;
    for (const TarEntry& e : entries)
        room += e.data.size() + 1024;
    QByteArray out(room, '\0');
    size_t used = 0;
    archive_write_open_memory(a, out.data(), size_t(out.size()), &used);
    for (const TarEntry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.path.constData());
        archive_entry_set_perm(entry, e.mode);
        archive_entry_set_filetype(entry, e.type == TarEntry::File ? AE_IFREG : e.type == TarEntry::Dir ? AE_IFDIR : AE_IFLNK);
        archive_entry_set_size(entry, e.type == TarEntry::File ? e.data.size() : 0);
        if (e.type == TarEntry::Link)
            archive_entry_set_symlink(entry, e.data.constData());
        archive_write_header(a, entry);
        archive_write_data(a, e.data.constData(), e.type == TarEntry::File ? size_t(e.data.size()) : 0);
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    out.truncate(qsizetype(used));
    return out;
}

inline QString sha256Hex(const QByteArray& data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

// Every file, folder and link under root with its content, link target and permissions.
inline QMap<QString, QString> snapshotTree(const QString& root) {
    QMap<QString, QString> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile f(info.filePath());
        const QByteArray content = info.isSymLink() ? QFile::encodeName(info.symLinkTarget())
                                   : f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("dir");
        tree.insert(QDir(root).relativeFilePath(info.filePath()),
                    QString::number(int(info.permissions()), 16) + QLatin1Char(' ') + sha256Hex(content));
    }
    return tree;
}

inline void writeFile(const QString& path, const QByteArray& data, int mode) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
}

// A chain of count folders "d" below path, each made from a handle on the one before (the whole
// path soon grows past what the system takes in one call), and its removal from the deepest up,
// each through a handle on ".." (GNU rm takes seconds over a deep chain).
inline void nestFolders(const QString& path, int count) {
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < count && fd >= 0; ++i) {
        const int next = ::mkdirat(fd, "d", 0755) == 0 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    ::close(fd);
}
inline void removeNested(const QString& path) {
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), depth = 0;
    for (int next; fd >= 0 && (next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) >= 0; ++depth) {
        ::close(fd);
        fd = next;
    }
    for (int up; fd >= 0 && depth-- > 0; fd = up) {
        up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ::unlinkat(up, "d", AT_REMOVEDIR);
    }
    ::close(fd);
}

// Mounts for the clean-up rows, made in a mount namespace of this thread's own whose mounts are
// private: nothing of them shows outside the test. A tmpfs at target, or the folder source bound
// there; false when this process may not (not root, or a container that refuses it).
inline bool mountForTest(const QString& target, const QString& source = {}) {
    static const bool own = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const QByteArray to = QFile::encodeName(target), from = QFile::encodeName(source);
    return own && (source.isEmpty() ? ::mount("tmpfs", to.constData(), "tmpfs", 0, nullptr)
                                    : ::mount(from.constData(), to.constData(), nullptr, MS_BIND, nullptr)) == 0;
}
inline const char* const kNoMounts = "mounting needs root and a private mount namespace (unshare); not permitted here";

// Root reads and enters any folder whatever its mode; for the scope, this thread does not, so a
// folder its owner may not read (0311) is as closed to the updater as it is for any other user.
struct OwnerBitsOnly {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{}, narrowed[2]{};
    const bool read = ::syscall(SYS_capget, &header, saved) == 0;
    OwnerBitsOnly() {
        std::copy(saved, saved + 2, narrowed);
        narrowed[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        if (read)
            ::syscall(SYS_capset, &header, narrowed);
    }
    ~OwnerBitsOnly() {
        if (read)
            ::syscall(SYS_capset, &header, saved);
    }
};

class RecordingPresenter : public services::UpdatePresenter {
public:
    void showForcedUpdate(const QString& detail) override { forced << detail; }
    void showAlert(const QString& title, const QString& text) override { alerts << title + QStringLiteral(" | ") + text; }
    QCoro::Task<bool> askToInstall(const QString& version, const QString&) override {
        asked << version;
        if (holdOn)
            co_await holdOn->sleep(1000); // the user takes a second to answer
        co_return answer;
    }
    void raiseQuestion() override { ++raised; }
    void showManualUpdate(const QString& version, const QString&, const QString&) override { manual << version; }

    QStringList forced, alerts, asked, manual;
    bool answer = false;
    platform::fake::FakeClock* holdOn = nullptr;
    int raised = 0;
};

// The running version is 1.2.0, installed in <tmp>/app with bin/corvane and the marker.
class UpdateFixture : public ::testing::Test {
protected:
    void SetUp() override {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        ASSERT_TRUE(server.listen());
        install = tmp.filePath(QStringLiteral("app"));
        QDir().mkpath(install + QStringLiteral("/bin"));
        writeFile(install + QStringLiteral("/bin/corvane"), "#!/bin/sh\necho old\n", 0755);
        writeFile(install + QStringLiteral("/.corvane-install"), "marker\n", 0644);
        writeFile(install + QStringLiteral("/share/data.txt"), "old data\n", 0644);
        before = snapshotTree(install);
    }

    services::UpdateService::Config config(bool installable = true) const {
        services::UpdateService::Config c;
        c.baseUrl = server.baseUrl();
        c.publicKey = keys.publicKey;
        c.installDir = installable ? install : QString();
        c.shell = QStringLiteral("/bin/true"); // the swap itself is tested with the real shell elsewhere
        c.workRoot = tmp.path();
        c.maxPackageBytes = 64 * 1024;
        return c;
    }

    std::unique_ptr<services::UpdateService> makeService(bool installable = true, llm::HttpConnectionPool* pool = {}) {
        auto service = std::make_unique<services::UpdateService>(prefs, clock, QStringLiteral("1.2.0"),
                                                                 config(installable), pool);
        service->setPresenter(&presenter);
        service->setHost({[this] { return engineIdle; }, [this] { return panelVisible; },
                          [this] { ++snapshots; }, [this] { ++quits; }});
        return service;
    }

    // Serves a signed manifest (signed by signer, default the app's key).
    void serveManifest(const QByteArray& body, const KeyPair* signer = nullptr) {
        server.route("/latest.json", ScriptedResponse::json(200, body));
        server.route("/latest.json.sig", ScriptedResponse::text(200, "text/plain", (signer ? *signer : keys).sign(body)));
    }
    static QByteArray manifest(const QString& version, const QString& sha, const QString& minVersion = {},
                               const QString& zip = QStringLiteral("/pkg.tar.gz"), const QString& dmg = {}) {
        QJsonObject o{{QStringLiteral("version"), version}, {QStringLiteral("notes"), QStringLiteral("Fixes.")},
                      {QStringLiteral("sha256"), sha}, {QStringLiteral("zip"), zip}};
        if (!dmg.isEmpty())
            o.insert(QStringLiteral("dmg"), dmg);
        if (!minVersion.isEmpty())
            o.insert(QStringLiteral("minVersion"), minVersion);
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    }
    // A good package of version 2.0: the install's files with new contents.
    QList<TarEntry> goodEntries() const {
        return {{"./", TarEntry::Dir, {}, 0755},
                {"./bin/", TarEntry::Dir, {}, 0755},
                {"./bin/corvane", TarEntry::File, "#!/bin/sh\necho new\n", 0755},
                {"./.corvane-install", TarEntry::File, "marker\n", 0644},
                {"./share/data.txt", TarEntry::File, "new data\n", 0644}};
    }
    static QByteArray tarGz(const QList<TarEntry>& entries) { return makeTarGz(entries); }

    static QCoro::Task<> markDone(QCoro::Task<> task, std::shared_ptr<bool> done) {
        co_await std::move(task);
        *done = true;
    }
    // Starts a check; done turns true when it ended.
    static std::shared_ptr<bool> start(services::UpdateService& service, bool manual) {
        auto done = std::make_shared<bool>(false);
        markDone(service.checkAndInstall(manual), done);
        return done;
    }
    bool run(services::UpdateService& service, bool manual) {
        auto done = start(service, manual);
        spinUntil([done] { return *done; });
        return *done;
    }

    QString lastError() const {
        return prefs.string(QStringLiteral("updateLastError")).value_or(QString());
    }

    QTemporaryDir tmp;
    TestHttpServer server;
    KeyPair keys;
    platform::fake::MemoryPreferences prefs;
    platform::fake::FakeClock clock;
    RecordingPresenter presenter;
    QString install;
    QMap<QString, QString> before;
    bool engineIdle = true, panelVisible = false;
    int snapshots = 0, quits = 0;
};

} // namespace corvane::test
