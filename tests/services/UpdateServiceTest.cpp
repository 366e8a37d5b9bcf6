#include "UpdateFixture.h"
#include "app/UpdateWindows.h"
#include "stores/DiagLog.h"
#include "support/DarkPalette.h"
#include "support/TextContrast.h"
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QPushButton>
#include <sys/stat.h>

using namespace corvane;
using namespace corvane::test;
using Kind = services::UpdateService::Status::Kind;

using UpdateCheck = UpdateFixture;
using UpdateInstall = UpdateFixture;

TEST_F(UpdateCheck, ManifestOutcomesSetTheStatusAndAlertOnlyWhenAsked) {
    KeyPair stranger;
    const QByteArray placeholder = "(the built-in placeholder address)";
    const struct {
        const char* name;
        QByteArray body;         // empty: the server is unreachable
        const KeyPair* signer;   // null: the app's own key
        bool manual;
        bool installable;
        Kind kind;
        const char* alert;       // "" for silence
        bool asked, toldHow;
        QNetworkProxy::ProxyType proxy = QNetworkProxy::DefaultProxy; // else a pool's proxy question answers it
    } cases[] = {
        {"newer, asked", manifest("1.3", QString(64, 'a')), nullptr, true, true, Kind::Available, "", true, false},
        {"newer, automatic", manifest("1.3", QString(64, 'a')), nullptr, false, true, Kind::Available, "", false, false},
        {"newer, not an install", manifest("2.0", QString(64, 'a')), nullptr, true, false, Kind::Available, "", false, true},
        {"equal, asked", manifest("1.2", QString(64, 'a')), nullptr, true, true, Kind::UpToDate,
         "You're up to date | Current version v1.2.0 — no updates available.", false, false},
        {"older, automatic", manifest("1.1.9", QString(64, 'a')), nullptr, false, true, Kind::UpToDate, "", false, false},
        {"not JSON, asked", "<html>oops</html>", nullptr, true, true, Kind::Failed,
         "Update check failed | The update manifest is not valid JSON.", false, false},
        {"not JSON, automatic", "{\"version\":", nullptr, false, true, Kind::Failed, "", false, false},
        {"no package address", manifest("1.3", QString(64, 'a'), {}, {}), nullptr, true, true, Kind::Failed,
         "Update check failed | The update manifest has no valid \"zip\".", false, false},
        {"forged signature", manifest("1.3", QString(64, 'a')), &stranger, true, true, Kind::Failed,
         "Update check failed | The update manifest's signature is not valid.", false, false},
        {"unreachable, asked", {}, nullptr, true, true, Kind::Failed, "Update check failed | Couldn't reach", false, false},
        {"unreachable, automatic", {}, nullptr, false, true, Kind::Failed, "", false, false},
        {"no server yet, asked", placeholder, nullptr, true, true, Kind::Idle,
         "No Update Server | No update server is set up for this build of Corvane yet.", false, false},
        {"no server yet, automatic", placeholder, nullptr, false, true, Kind::Idle, "", false, false},
        {"newer, no proxy answered", manifest("1.3", QString(64, 'a')), nullptr, true, true, Kind::Available, "", true,
         false, QNetworkProxy::NoProxy},
        {"newer, a closed proxy answered", manifest("1.3", QString(64, 'a')), nullptr, true, true, Kind::Failed,
         "Update check failed | Couldn't reach", false, false, QNetworkProxy::HttpProxy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.clear();
        presenter = RecordingPresenter();
        if (c.body.isEmpty())
            prefs.setValue(QStringLiteral("updateDebugHost"), QStringLiteral("http://127.0.0.1:1"));
        else if (c.body == placeholder)
            prefs.setValue(QStringLiteral("updateDebugHost"), QStringLiteral("https://updates.corvane.invalid"));
        else
            serveManifest(c.body, c.signer);
        std::atomic<int> asked{0}; // a question on this thread counts 1000
        std::optional<llm::HttpConnectionPool> pool;
        if (c.proxy != QNetworkProxy::DefaultProxy)
            pool.emplace(nullptr, [&](const QUrl&) {
                asked += QThread::currentThread() == qApp->thread() ? 1000 : 1;
                return QNetworkProxy(c.proxy, QStringLiteral("127.0.0.1"), 1); // a port nothing listens on
            });
        auto service = makeService(c.installable, pool ? &*pool : nullptr);
        ASSERT_TRUE(run(*service, c.manual));
        EXPECT_TRUE(pool ? asked > 0 && asked < 1000 : asked == 0) << asked;
        EXPECT_EQ(service->status().kind, c.kind);
        const QString alert = presenter.alerts.value(0);
        if (*c.alert) {
            EXPECT_TRUE(alert.startsWith(QString::fromUtf8(c.alert))) << alert.toStdString();
        } else {
            EXPECT_TRUE(presenter.alerts.isEmpty()) << alert.toStdString();
        }
        EXPECT_EQ(!presenter.asked.isEmpty(), c.asked);
        EXPECT_EQ(!presenter.manual.isEmpty(), c.toldHow);
        EXPECT_EQ(lastError().isEmpty(), c.kind != Kind::Failed) << lastError().toStdString();
        if (c.kind == Kind::Available) {
            EXPECT_EQ(service->status().notes, QStringLiteral("Fixes."));
        }
    }
    EXPECT_EQ(server.requestCount("/pkg.tar.gz"), 0) << "nothing is downloaded without a yes";
}

TEST_F(UpdateCheck, MinimumVersionComesOnlyFromVerifiedNewerManifestsAndIsNeverLiftedByAReplay) {
    stores::DiagLog::configure(nullptr, &clock, tmp.filePath(QStringLiteral("diag.log")));
    KeyPair stranger;
    auto service = makeService();
    prefs.setValue(QStringLiteral("updateMinVersion"), QStringLiteral("2.0"));
    const struct {
        QByteArray body;
        const KeyPair* signer;
        const char* minimum; // stored afterwards; "" for none
        const char* diag;    // a line the check writes; "" for none
        bool offered;
    } steps[] = {
        // An install updated from a version that stored the minimum but no newest manifest: an
        // older manifest than that minimum is no update, whatever version runs.
        {manifest("1.9", QString(64, 'a')), nullptr, "2.0", "", false},
        {manifest("2.0", QString(64, 'a'), QStringLiteral("2.0")), nullptr, "2.0", "", true},
        {manifest("2.0", QString(64, 'a'), QStringLiteral("0.1")), &stranger, "2.0", "signature is not valid", false},
        {manifest("1.9", QString(64, 'a')), nullptr, "2.0", "offered v1.9, older than the v2.0", false},
        {manifest("2.0", QString(64, 'a')), nullptr, "2.0", "", true}, // the same version cannot lift it...
        {manifest("2.0", QString(64, 'a'), QStringLiteral("1.0")), nullptr, "2.0", "", true}, // ...nor lower it...
        {manifest("2.0", QString(64, 'a'), QStringLiteral("2.5")), nullptr, "2.5", "", true}, // ...but may raise it
        {manifest("2.1", QString(64, 'a'), QStringLiteral("1.0")), nullptr, "1.0", "", true},
        {manifest("2.2", QString(64, 'a'), QStringLiteral("3.0")), nullptr, "3.0", "", true},
        {manifest("2.3", QString(64, 'a')), nullptr, "", "", true},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.body.constData());
        serveManifest(s.body, s.signer);
        ASSERT_TRUE(run(*service, false));
        EXPECT_EQ(prefs.string(QStringLiteral("updateMinVersion")).value_or(QString()), QLatin1String(s.minimum));
        EXPECT_EQ(service->isUpdateRequired(), *s.minimum && *s.minimum != '1');
        EXPECT_EQ(service->status().kind == Kind::Available, s.offered);
        stores::DiagLog::flush();
        const QString diag = stores::DiagLog::tail(4096);
        EXPECT_TRUE(diag.contains(QLatin1String(s.diag))) << diag.toStdString();
    }
    stores::DiagLog::configure(nullptr, nullptr, QString());
    serveManifest(manifest("2.4", QString(64, 'a'), QStringLiteral("3.0")));
    ASSERT_TRUE(run(*service, false));
    service->showForcedUpdateWindow();
    ASSERT_EQ(presenter.forced.size(), 1);
    EXPECT_TRUE(presenter.forced[0].contains(QStringLiteral("v3.0"))) << presenter.forced[0].toStdString();
}

TEST_F(UpdateCheck, OneCheckAtATimeAndNoneWhileADownloadRuns) {
    const QByteArray package = tarGz(goodEntries());
    serveManifest(manifest("2.0", sha256Hex(package)));
    ScriptedResponse stalled;
    stalled.keepOpen = true; // a download that never ends
    stalled.then(package.left(100));
    server.route("/pkg.tar.gz", stalled);
    prefs.setValue(QStringLiteral("updateAutoInstall"), true);
    auto service = makeService();

    auto first = start(*service, false);
    auto second = start(*service, true);
    EXPECT_TRUE(*second) << "a second check returns at once";
    spinUntil([&] { return service->status().kind == Kind::Downloading && server.requestCount("/pkg.tar.gz") == 1; });
    ASSERT_EQ(service->status().kind, Kind::Downloading);
    auto during = start(*service, true);
    EXPECT_TRUE(*during);
    EXPECT_EQ(server.requestCount("/latest.json"), 1);
    server.close();
    spinUntil([&] { return *first; });
    EXPECT_EQ(service->status().kind, Kind::Failed);
    EXPECT_EQ(snapshotTree(install), before);
}

TEST_F(UpdateCheck, AManualRequestBringsAnOpenQuestionToTheFront) {
    presenter.holdOn = &clock;
    serveManifest(manifest("2.0", QString(64, 'a')));
    auto asking = makeService();
    auto answered = start(*asking, true);
    spinUntil([&] { return !presenter.asked.isEmpty(); });
    ASSERT_EQ(presenter.asked.size(), 1);
    EXPECT_TRUE(*start(*asking, false));
    EXPECT_EQ(presenter.raised, 0) << "an automatic check raises nothing";
    EXPECT_TRUE(*start(*asking, true));
    EXPECT_EQ(presenter.raised, 1);
    clock.advance(1000);
    spinUntil([&] { return *answered; });
}

TEST_F(UpdateCheck, AutomaticChecksFollowTheScheduleAndTheSwitch) {
    serveManifest(manifest("1.0", QString(64, 'a')));
    auto service = makeService();
    service->startAutoChecks();
    service->startAutoChecks(); // replaces the first schedule: still one check at 15 s
    clock.advance(14'999);
    EXPECT_EQ(service->status().kind, Kind::Idle);
    clock.advance(1);
    EXPECT_EQ(service->status().kind, Kind::Checking);
    spinUntil([&] { return service->status().kind != Kind::Checking; });
    EXPECT_EQ(server.requestCount("/latest.json"), 1);

    prefs.setValue(QStringLiteral("updateAutoCheck"), QStringLiteral("false"));
    clock.advance(21'600'000);
    EXPECT_EQ(service->status().kind, Kind::UpToDate) << "switched off: no check";
    prefs.setValue(QStringLiteral("updateAutoCheck"), true);
    clock.advance(21'600'000);
    EXPECT_EQ(service->status().kind, Kind::Checking);
    spinUntil([&] { return service->status().kind != Kind::Checking; });
    EXPECT_EQ(server.requestCount("/latest.json"), 2);
}

TEST_F(UpdateInstall, RefusedPackagesLeaveTheInstallUntouched) {
    KeyPair stranger;
    const QByteArray good = tarGz(goodEntries());
    QByteArray tampered = good;
    tampered[tampered.size() / 2] = char(tampered[tampered.size() / 2] ^ 0x55);
    auto withExtra = [&](TarEntry extra) {
        QList<TarEntry> entries = goodEntries();
        entries.insert(2, extra);
        return tarGz(entries);
    };
    auto withExtras = [&](const QList<TarEntry>& extras) {
        QList<TarEntry> entries = goodEntries();
        entries.append(extras);
        return tarGz(entries);
    };
    QList<TarEntry> noBinary = goodEntries();
    noBinary.removeAt(2);

    ScriptedResponse truncated;
    truncated.framing = ScriptedResponse::Framing::UntilClose;
    truncated.header("Content-Length", QByteArray::number(good.size()));
    truncated.then(good.left(good.size() / 2));
    ScriptedResponse endless;
    endless.endless = QByteArray(4096, 'x');

    const struct {
        const char* name;
        QByteArray served;        // the package bytes served and signed
        std::optional<ScriptedResponse> response; // instead of serving the bytes
        QString sha;              // the manifest's checksum; empty: that of served
        const KeyPair* signer;    // null: the app's key
        const char* error;
    } cases[] = {
        {"truncated", good, truncated, {}, nullptr, "broke off"},
        {"oversized", good, endless, {}, nullptr, "larger than"},
        {"tampered", tampered, std::nullopt, sha256Hex(good), nullptr, "does not match its published checksum"},
        {"wrong hash", good, std::nullopt, sha256Hex("other"), nullptr, "does not match its published checksum"},
        {"wrong signature", good, std::nullopt, {}, &stranger, "signature is not valid"},
        {"dot-dot entry", withExtra({"./../escaped", TarEntry::File, "x"}), std::nullopt, {}, nullptr, "points outside"},
        {"absolute entry", withExtra({"/tmp/cv-absolute", TarEntry::File, "x"}), std::nullopt, {}, nullptr,
         "points outside"},
        {"link out", withExtra({"./bin/out", TarEntry::Link, "../../.."}), std::nullopt, {}, nullptr, "points outside"},
        {"absolute link", withExtra({"./bin/etc", TarEntry::Link, "/etc"}), std::nullopt, {}, nullptr, "points outside"},
        {"link through a link packed later", withExtras({{"./t", TarEntry::Link, "s/.."}, {"./s", TarEntry::Link, "."}}),
         std::nullopt, {}, nullptr, "points outside"},
        {"chain of links out", withExtras({{"./s", TarEntry::Link, "."}, {"./f", TarEntry::Link, "s/s/../../etc/passwd"}}),
         std::nullopt, {}, nullptr, "points outside"},
        {"read-only folder, entry twice",
         withExtras({{"./ro/", TarEntry::Dir, {}, 0555}, {"./ro/x", TarEntry::File, "1"}, {"./ro/x", TarEntry::File, "2"}}),
         std::nullopt, {}, nullptr, "could not be unpacked"},
        {"not an install", tarGz(noBinary), std::nullopt, {}, nullptr, "holds no Corvane install"},
        {"nested too deep", withExtra({"./" + QByteArray("d/").repeated(128) + "x", TarEntry::File, "x"}), std::nullopt,
         {}, nullptr, "lies more than 128 folders deep"},
        {"garbage", QByteArray(3000, 'g'), std::nullopt, {}, nullptr, "damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.clear();
        presenter = RecordingPresenter();
        presenter.answer = true;
        snapshots = quits = 0;
        serveManifest(manifest("2.0", c.sha.isEmpty() ? sha256Hex(c.served) : c.sha));
        server.route("/pkg.tar.gz", c.response ? *c.response : ScriptedResponse::text(200, "application/gzip", c.served));
        server.route("/pkg.tar.gz.sig",
                     ScriptedResponse::text(200, "text/plain", (c.signer ? *c.signer : keys).sign(c.served)));
        auto service = makeService();
        ASSERT_TRUE(run(*service, true));
        EXPECT_EQ(service->status().kind, Kind::Failed);
        EXPECT_TRUE(lastError().contains(QLatin1String(c.error))) << lastError().toStdString();
        EXPECT_TRUE(presenter.alerts.value(0).startsWith(QStringLiteral("Update failed | "))) << presenter.alerts.value(0).toStdString();
        EXPECT_EQ(snapshotTree(install), before);
        EXPECT_FALSE(QFileInfo::exists(install + QStringLiteral(".cv-new")));
        EXPECT_EQ(snapshots + quits, 0);
    }
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/cv-absolute")));
}

TEST_F(UpdateInstall, AVerifiedPackageIsStagedFromTheSecondAddressWhenTheFirstFails) {
    // A umask that lets the group write: the folders made on the way (the staging folder, share/
    // which the package only implies) must not take it.
    const mode_t umaskBefore = ::umask(002);
    const auto restoreUmask = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
    QList<TarEntry> entries = goodEntries();
    entries[1].mode = 0777; // bin/
    entries[4].mode = 0666; // share/data.txt
    // A folder its owner may not read, above a folder the package only implies.
    entries << TarEntry{"./closed/", TarEntry::Dir, {}, 0311} << TarEntry{"./closed/implied/x", TarEntry::File, "x", 0644};
    const QByteArray good = tarGz(entries);
    serveManifest(manifest("2.0", sha256Hex(good), {}, QStringLiteral("/missing.tar.gz"),
                           server.baseUrl() + QStringLiteral("/mirror/pkg.tar.gz")));
    server.route("/mirror/pkg.tar.gz", ScriptedResponse::text(200, "application/gzip", good));
    server.route("/mirror/pkg.tar.gz.sig", ScriptedResponse::text(200, "text/plain", keys.sign(good)));
    presenter.answer = true;
    auto service = makeService();
    {
        const OwnerBitsOnly asAnyUser;
        ASSERT_TRUE(run(*service, true));
    }
    const auto removeStaged = qScopeGuard([&] { services::updatepkg::removeStaging(install + QStringLiteral(".cv-new")); });
    EXPECT_EQ(server.requestCount("/missing.tar.gz"), 1);
    EXPECT_EQ(snapshots, 1);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(snapshotTree(install), before) << "the install changes only in the swap";
    QFile staged(install + QStringLiteral(".cv-new/share/data.txt"));
    ASSERT_TRUE(staged.open(QIODevice::ReadOnly));
    EXPECT_EQ(staged.readAll(), "new data\n");
    EXPECT_TRUE(QFileInfo(install + QStringLiteral(".cv-new/bin/corvane")).isExecutable());
    for (const auto& [path, mode] : {std::pair{"", 0755}, {"/bin", 0755}, {"/bin/corvane", 0755}, {"/share", 0755},
                                     {"/share/data.txt", 0644}, {"/closed", 0311}, {"/closed/implied", 0755}}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(install + QStringLiteral(".cv-new") + QLatin1String(path)).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode_t(mode)) << path << ": nobody else may change the program";
    }
}

TEST_F(UpdateInstall, AutomaticInstallOnlyWhenSwitchedOnWithAnIdleEngineAndNoPanel) {
    const QByteArray good = tarGz(goodEntries());
    serveManifest(manifest("2.0", sha256Hex(good)));
    server.route("/pkg.tar.gz", ScriptedResponse::text(200, "application/gzip", good));
    server.route("/pkg.tar.gz.sig", ScriptedResponse::text(200, "text/plain", keys.sign(good)));
    const struct {
        const char* autoInstall;
        bool idle, panel, installable, installs;
    } cases[] = {
        {nullptr, true, false, true, false}, {"false", true, false, true, false}, {"true", false, false, true, false},
        {"true", true, true, true, false},   {"true", true, false, false, false}, {"true", true, false, true, true},
    };
    for (const auto& c : cases) {
        prefs.clear();
        if (c.autoInstall)
            prefs.setValue(QStringLiteral("updateAutoInstall"), QString::fromLatin1(c.autoInstall));
        engineIdle = c.idle;
        panelVisible = c.panel;
        quits = 0;
        QDir(install + QStringLiteral(".cv-new")).removeRecursively();
        auto service = makeService(c.installable);
        ASSERT_TRUE(run(*service, false));
        EXPECT_EQ(quits, c.installs ? 1 : 0) << (c.autoInstall ? c.autoInstall : "unset") << c.idle << c.panel;
        EXPECT_TRUE(presenter.alerts.isEmpty() && presenter.asked.isEmpty());
    }
}

TEST(UpdateStaging, CleanupRemovesOnlyLeftoversBesideTheInstall) {
    QTemporaryDir tmp;
    for (const char* dir : {"app/bin", "app.cv-old/bin", "app.other"})
        QDir().mkpath(tmp.filePath(QString::fromLatin1(dir)));
    // A leftover holding a read-only folder and a link out; a link named like a leftover.
    writeFile(tmp.filePath(QStringLiteral("app.cv-old/ro/x")), "x", 0644);
    ::chmod(QFile::encodeName(tmp.filePath(QStringLiteral("app.cv-old/ro"))).constData(), 0555);
    writeFile(tmp.filePath(QStringLiteral("documents/letter.txt")), "keep me", 0644);
    QFile::link(QStringLiteral("../documents"), tmp.filePath(QStringLiteral("app.cv-old/bin/docs")));
    QFile::link(tmp.filePath(QStringLiteral("documents")), tmp.filePath(QStringLiteral("app.cv-new")));
    const auto documents = snapshotTree(tmp.filePath(QStringLiteral("documents")));
    platform::fake::MemoryPreferences prefs;
    platform::fake::FakeClock clock;
    services::UpdateService::Config config;
    config.installDir = tmp.filePath(QStringLiteral("app"));
    services::UpdateService(prefs, clock, QStringLiteral("1.0"), config).cleanupStaleStaging();
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("app"), QStringLiteral("app.other"), QStringLiteral("documents")}));
    EXPECT_EQ(snapshotTree(tmp.filePath(QStringLiteral("documents"))), documents);
    EXPECT_TRUE(QFileInfo::exists(tmp.filePath(QStringLiteral("app/bin"))));

    // Only a marked install in a folder the user can change updates itself.
    QDir().mkpath(tmp.filePath(QStringLiteral("unmarked/bin")));
    QFile(tmp.filePath(QStringLiteral("app/.corvane-install"))).open(QIODevice::WriteOnly);
    EXPECT_EQ(services::UpdateService::Config::locateInstall(tmp.filePath(QStringLiteral("app/bin"))),
              QDir(tmp.filePath(QStringLiteral("app"))).canonicalPath());
    EXPECT_EQ(services::UpdateService::Config::locateInstall(tmp.filePath(QStringLiteral("unmarked/bin"))), QString());
    EXPECT_EQ(services::UpdateService::Config::locateInstall(tmp.filePath(QStringLiteral("app"))), QString());
}

// The walks of the clean-up, and the narrowing of an unpacked update, leave whole another mount
// where a leftover would be, or inside one: a tmpfs, or a folder of the same file system bound
// there (its device number is the same). A leftover nested deeper than any install is refused
// whole: walking it would exhaust the stack and the handles, and stall the start.
TEST(UpdateStaging, CleanupNeverEntersAnotherMount) {
    QTemporaryDir tmp;
    // Group-writable: a narrowing that entered the bound folder would change it.
    writeFile(tmp.filePath(QStringLiteral("documents/letter.txt")), "keep me", 0664);
    const auto documents = snapshotTree(tmp.filePath(QStringLiteral("documents")));
    platform::fake::MemoryPreferences prefs;
    platform::fake::FakeClock clock;
    services::UpdateService::Config config;
    config.installDir = tmp.filePath(QStringLiteral("app"));
    {
        // 19,000 folders, in memory where there is one: a disk under load takes many seconds over them.
        QTemporaryDir memory(QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm/cv-XXXXXX")
                                                                               : tmp.filePath(QStringLiteral("XXXXXX")));
        const QString deep = memory.path();
        nestFolders(deep, 19000);
        EXPECT_TRUE(services::updatepkg::removeStaging(deep).contains(
            deep + QStringLiteral(" (its folders nest more than 128 levels deep). Remove it by hand.")));
        EXPECT_TRUE(QFileInfo(deep + QStringLiteral("/d/d/d")).isDir());
        removeNested(deep);
    }
    enum What { Tmpfs, Bind, BindFile }; // a tmpfs, the documents or the letter bound there
    const struct {
        const char* at;
        What what;
        bool narrowed = false; // the narrowing of an unpacked update walks there rather than the clean-up
    } rows[] = {{"app.cv-old", Tmpfs}, {"app.cv-old/bin/mnt", Bind}, {"app.cv-new", Bind},
                {"app.cv-new/bin/mnt", Bind, true}, {"app.cv-new/bin/letter.txt", BindFile, true}};
    for (const auto& m : rows) {
        SCOPED_TRACE(m.at);
        const QString at = tmp.filePath(QString::fromLatin1(m.at));
        if (m.what == BindFile)
            writeFile(at, "", 0644);
        else
            QDir().mkpath(at);
        if (!mountForTest(at, m.what == Tmpfs ? QString()
                                              : tmp.filePath(QLatin1String(m.what == Bind ? "documents" : "documents/letter.txt"))))
            GTEST_SKIP() << kNoMounts;
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(at).constData(), MNT_DETACH); });
        const QString theirs = m.what == BindFile ? at : at + QLatin1String(m.what == Bind ? "/letter.txt" : "/theirs.txt");
        if (m.what == Tmpfs)
            writeFile(theirs, "keep me", 0644);
        if (m.narrowed) {
            EXPECT_FALSE(services::updatepkg::narrowModes(tmp.filePath(QStringLiteral("app.cv-new"))).isEmpty());
        } else {
            services::UpdateService(prefs, clock, QStringLiteral("1.0"), config).cleanupStaleStaging();
        }
        EXPECT_TRUE(QFileInfo::exists(theirs));
        EXPECT_EQ(snapshotTree(tmp.filePath(QStringLiteral("documents"))), documents);
    }
}

TEST(UpdateWindows, ForcedWindowIsBuiltOnceAndNeverTakesTheFocus) {
    int updates = 0;
    app::UpdateWindows windows([&] { ++updates; });
    windows.showForcedUpdate(QStringLiteral("first"));
    QWidget* window = windows.forcedWindow();
    ASSERT_NE(window, nullptr);
    windows.showForcedUpdate(QStringLiteral("second"));
    EXPECT_EQ(windows.forcedWindow(), window);
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("forcedUpdateDetail"))->text(), QStringLiteral("second"));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->text().toStdString();
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    }
    window->findChild<QPushButton*>(QStringLiteral("forcedUpdateNow"))->click();
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(window->isVisible());

    // Texts from the network (notes, error sentences) are shown as written, never as markup.
    windows.showManualUpdate(QStringLiteral("9.9.9"), QStringLiteral("<img src=x><b>Fixes</b>"), QStringLiteral("How."));
    QMessageBox* alert = nullptr;
    for (QWidget* box : QApplication::topLevelWidgets()) {
        if (box->objectName() == QLatin1String("updateAlert"))
            alert = qobject_cast<QMessageBox*>(box);
    }
    ASSERT_NE(alert, nullptr);
    for (QLabel* label : alert->findChildren<QLabel*>()) {
        if (label->text().contains(QLatin1String("<img"))) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        }
    }
    alert->close();
}

// Without an update server a manual check is told so in a notice, not as a failure; pictured in a
// light and a dark palette (build/artifacts/services), its texts read at 4.5:1.
TEST_F(UpdateCheck, NoServerIsANoticeNotAFailure) {
    prefs.setValue(QStringLiteral("updateDebugHost"), QStringLiteral("https://updates.corvane.invalid"));
    const QPalette original = QApplication::palette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? testsupport::darkPalette() : original);
        auto service = makeService();
        app::UpdateWindows windows([] {});
        service->setPresenter(&windows);
        ASSERT_TRUE(run(*service, true));
        QMessageBox* notice = nullptr;
        for (QWidget* box : QApplication::topLevelWidgets())
            if (box->objectName() == QLatin1String("updateAlert") && box->isVisible())
                notice = qobject_cast<QMessageBox*>(box);
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->windowTitle(), QStringLiteral("No Update Server"));
        EXPECT_EQ(notice->icon(), QMessageBox::Information);
        EXPECT_EQ(service->status().kind, Kind::Idle);
        const QImage shot = notice->grab().toImage();
        QDir().mkpath(QStringLiteral(CORVANE_SERVICES_ARTIFACTS));
        EXPECT_TRUE(shot.save(QStringLiteral(CORVANE_SERVICES_ARTIFACTS "/update-no-server-%1.png")
                                  .arg(dark ? QStringLiteral("dark") : QStringLiteral("light"))));
        testsupport::expectReadable(shot, testsupport::shownTexts(notice, notice),
                                    dark ? QStringLiteral("dark no-server") : QStringLiteral("light no-server"));
        notice->close();
    }
    QApplication::setPalette(original);
}

TEST(UpdateSwapScript, SwapsTheStagedCopyInOrPutsThePreviousOneBack) {
    const struct {
        bool staged; // false: the second rename fails
        const char* running;
        const char* leftover; // what is found where the previous version goes
        // Another mount in the way (the last rows: they need root): the swap gives up rather than
        // empty it. A tmpfs, or the documents bound there; the documents may be bound on the
        // staged copy too, which a swap that gives up removes.
        const char* mountAt = nullptr;
        bool bind = false;
        bool bindStaged = false;
    } cases[] = {{true, "new", ""}, {false, "old", ""}, {true, "new", "a link to the documents"},
                 {true, "new", "a read-only folder with a link to the documents"},
                 {true, "old", "folders nested 129 deep"},
                 {true, "old", "folders nested to a path of over 4,000 bytes"},
                 {true, "old", "a file system mounted inside", "app.cv-old/bin/mnt"},
                 {true, "old", "a file system mounted on it", "app.cv-old"},
                 {true, "old", "a folder bound inside", "app.cv-old/bin/mnt", true},
                 {true, "old", "a folder bound on it", "app.cv-old", true},
                 {false, "old", "a file system mounted inside, the documents bound on the staged copy",
                  "app.cv-old/bin/mnt", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.leftover);
        QTemporaryDir tmp;
        const QString documents = tmp.filePath(QStringLiteral("documents"));
        writeFile(documents + QStringLiteral("/letter.txt"), "keep me", 0644);
        QStringList mounted;
        const auto unmount = qScopeGuard([&mounted] {
            for (const QString& at : mounted)
                ::umount2(QFile::encodeName(at).constData(), MNT_DETACH);
        });
        for (const auto& [at, source] : {std::pair{c.mountAt, c.bind}, {c.bindStaged ? "app.cv-new" : nullptr, true}}) {
            if (!at)
                continue;
            mounted << tmp.filePath(QString::fromLatin1(at));
            QDir().mkpath(mounted.last());
            if (!mountForTest(mounted.last(), source ? documents : QString()))
                GTEST_SKIP() << kNoMounts;
        }
        if (c.mountAt && !c.bind)
            writeFile(mounted.first() + QStringLiteral("/theirs.txt"), "keep me", 0644);
        const QString app = tmp.filePath(QStringLiteral("app")), work = tmp.filePath(QStringLiteral("work"));
        const QString started = tmp.filePath(QStringLiteral("started"));
        if (QByteArray(c.leftover).startsWith("a link")) {
            QFile::link(tmp.filePath(QStringLiteral("documents")), app + QStringLiteral(".cv-old"));
        } else if (QByteArray(c.leftover).startsWith("folders nested")) {
            QString nested = app + QStringLiteral(".cv-old");
            const bool deep = QByteArray(c.leftover).contains("129");
            while (deep ? nested.count(QLatin1Char('/')) < app.count(QLatin1Char('/')) + 129 : nested.size() <= 4000)
                nested += QLatin1Char('/') + QString(deep ? 1 : 50, QLatin1Char('d'));
            QDir().mkpath(nested);
        } else if (*c.leftover) {
            QDir().mkpath(app + QStringLiteral(".cv-old/bin"));
            QFile::link(tmp.filePath(QStringLiteral("documents")), app + QStringLiteral(".cv-old/bin/docs"));
            ::chmod(QFile::encodeName(app + QStringLiteral(".cv-old/bin")).constData(), 0555);
        }
        for (const QString& root : {app, c.staged ? app + QStringLiteral(".cv-new") : QString()}) {
            if (root.isEmpty())
                continue;
            const QByteArray which = root == app ? "old" : "new";
            writeFile(root + QStringLiteral("/bin/corvane"),
                                     "#!/bin/sh\nprintf " + which + " > '" + started.toUtf8() + ".part' && mv '" +
                                         started.toUtf8() + ".part' '" + started.toUtf8() + "'\n",
                                     0755);
        }
        writeFile(work + QStringLiteral("/cv-update.sh"), services::updatepkg::swapScript(), 0644);
        QProcess script;
        script.start(QStringLiteral("/bin/sh"), {work + QStringLiteral("/cv-update.sh"), QStringLiteral("2147483647"), app,
                                                 app + QStringLiteral(".cv-new"), app + QStringLiteral(".cv-old"),
                                                 QStringLiteral("bin/corvane"), work, tmp.filePath(QStringLiteral("diag.log"))});
        ASSERT_TRUE(script.waitForFinished(30000));
        spinUntil([&] { return QFileInfo::exists(started); });
        QFile report(started);
        ASSERT_TRUE(report.open(QIODevice::ReadOnly)) << c.running;
        EXPECT_EQ(report.readAll(), QByteArray(c.running));
        EXPECT_EQ(QFileInfo::exists(app + QStringLiteral(".cv-old")), c.staged || c.mountAt);
        if (c.mountAt) {
            EXPECT_TRUE(QFileInfo::exists(mounted.first() + QLatin1String(c.bind ? "/letter.txt" : "/theirs.txt")));
        } else if (QByteArray(c.running) == "new") {
            EXPECT_EQ(QDir(app + QStringLiteral(".cv-old")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                      QStringList(QStringLiteral("bin")));
            EXPECT_TRUE(QFileInfo(app + QStringLiteral(".cv-old/bin/corvane")).isFile()) << "the previous version, as it was";
        }
        EXPECT_EQ(QDir(tmp.filePath(QStringLiteral("documents"))).entryList(QDir::Files), QStringList(QStringLiteral("letter.txt")));
        EXPECT_EQ(QFileInfo::exists(app + QStringLiteral(".cv-new")), c.bindStaged);
        EXPECT_FALSE(QFileInfo::exists(work)) << "the work folder goes once the swap is over";
        QFile log(tmp.filePath(QStringLiteral("diag.log")));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(log.readLine());
        EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} cv-update: \S)"))
                        .match(line).hasMatch())
            << "the diagnostics log's line form: " << line.toStdString();
    }
}
