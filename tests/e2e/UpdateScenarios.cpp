// The real app updates itself in the private session: the automatic check 15 s after start finds a
// signed newer version, the app stages it and exits 0, the swap script puts it in place and starts
// it, and the new version shows the panel content saved before the swap.
#include "e2e/Desktop.h"
#include "e2e/PanelProbe.h"
#include "services/UpdatePackage.h"
#include "support/TestHttpServer.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <csignal>

using namespace corvane;
using namespace corvane::e2e;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& data, QFile::Permissions permissions) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.setPermissions(permissions);
}

// The process whose executable is path, or 0.
qint64 pidRunning(const QString& path) {
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && QFile::symLinkTarget(QStringLiteral("/proc/") + entry + QStringLiteral("/exe")) == path)
            return pid;
    }
    return 0;
}

// Starts binary with its preferences, data and diagnostics log in home.
bool startIn(QProcess& process, const QTemporaryDir& home, const QString& binary) {
    QProcessEnvironment env = desktopEnvironment();
    for (const char* dir : {"config", "data", "state"})
        env.insert(QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(dir).toUpper()), home.filePath(QString::fromLatin1(dir)));
    process.setProcessEnvironment(env);
    process.start(binary, {});
    return process.waitForStarted(kPatienceMs);
}

} // namespace

TEST(SelfUpdate, TheNewVersionStartsInPlaceAndShowsTheRestoredPanel) {
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QTemporaryDir home;
    const QString app = home.filePath(QStringLiteral("data/corvane/app"));
    const QString binary = app + QStringLiteral("/bin/corvane");
    const QByteArray appBytes = readAll(QStringLiteral(CORVANE_E2E_UPDATE_APP));
    const auto exec = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QString staged = home.filePath(QStringLiteral("package"));
    for (const QString& root : {app, staged}) {
        ASSERT_TRUE(writeAll(root + QStringLiteral("/bin/corvane"), appBytes, exec));
        ASSERT_TRUE(writeAll(root + QStringLiteral("/.corvane-install"), "install\n", QFile::ReadOwner | QFile::WriteOwner));
    }
    const QString packagePath = home.filePath(QStringLiteral("pkg.tar.gz"));
    int status = -1;
    // The whole program, packed: a loaded machine may need a while.
    testsupport::runTool(QStringLiteral("tar"), {QStringLiteral("-C"), staged, QStringLiteral("-czf"), packagePath, QStringLiteral(".")},
                         {}, &status, desktopEnvironment(), 120000);
    ASSERT_EQ(status, 0);
    const QByteArray package = readAll(packagePath);
    const QByteArray secret = QByteArray::fromBase64(readAll(QStringLiteral(CORVANE_E2E_UPDATE_KEY)).trimmed());
    const QByteArray manifest = QJsonDocument(QJsonObject{
        {QStringLiteral("version"), QStringLiteral("99.0")}, {QStringLiteral("notes"), QString()},
        {QStringLiteral("sha256"), QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex())},
        {QStringLiteral("zip"), QStringLiteral("/pkg.tar.gz")}}).toJson();

    const QString ini = home.filePath(QStringLiteral("config/corvane/corvane.conf"));
    test::TestHttpServer server;
    ASSERT_TRUE(server.listen());
    server.route("/latest.json", test::ScriptedResponse::json(200, manifest));
    server.route("/latest.json.sig", test::ScriptedResponse::text(200, "text/plain", services::updatepkg::signBytes(manifest, secret)));
    server.route("/pkg.tar.gz.sig", test::ScriptedResponse::text(200, "text/plain", services::updatepkg::signBytes(package, secret)));
    // The panel's content as a version saves it before its swap, written while the app waits for
    // the package: long after its own start-up consumed whatever it found.
    server.respond([&](const test::RecordedRequest& request) {
        if (request.path() != "/pkg.tar.gz")
            return test::ScriptedResponse::json(404, "{}");
        QSettings prefs(ini, QSettings::IniFormat);
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - 978307200.0;
        prefs.setValue(QStringLiteral("panelRestoreSnapshot"),
                       QJsonDocument(QJsonObject{{QStringLiteral("original"), QStringLiteral("teh cat sat")},
                                                 {QStringLiteral("optimized"), QStringLiteral("The cat sat.")},
                                                 {QStringLiteral("recipeID"), QStringLiteral("none")},
                                                 {QStringLiteral("date"), now}}).toJson(QJsonDocument::Compact));
        prefs.sync();
        return test::ScriptedResponse::text(200, "application/gzip", package);
    });
    {
        QSettings prefs(ini, QSettings::IniFormat);
        prefs.setValue(QStringLiteral("updateDebugHost"), server.baseUrl());
        prefs.setValue(QStringLiteral("updateAutoInstall"), true);
    }

    QProcess old;
    ASSERT_TRUE(startIn(old, home, binary));
    // The first automatic check comes 15 s after start.
    ASSERT_TRUE(waitUntil([&] { return old.state() == QProcess::NotRunning; }, 60000)) << "the old version never ended";
    const QString diag = QString::fromUtf8(readAll(home.filePath(QStringLiteral("state/corvane/corvane-diag.log"))));
    EXPECT_EQ(old.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(old.exitCode(), 0) << diag.toStdString();

    qint64 next = 0;
    ASSERT_TRUE(waitUntil([&] { return (next = pidRunning(binary)) != 0; })) << "the new version never started\n"
                                                                             << diag.toStdString();
    PanelProbe panel(next);
    const bool restored = waitUntil([&] { return panel.shows(QStringLiteral("App updated · previous content restored")); });
    screenshot(QStringLiteral("SelfUpdate-restored"));
    EXPECT_TRUE(restored) << panel.describe().toStdString();
    EXPECT_TRUE(panel.shows(QStringLiteral("The cat sat."))) << panel.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(app + QStringLiteral(".cv-old")); }))
        << "the new start leaves the previous version behind";
    ::kill(pid_t(next), SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return pidRunning(binary) == 0; }));
}

TEST(SelfUpdate, AStartRemovesLinksNamedLikeLeftoversAndKeepsWhatTheyPointAt) {
    QTemporaryDir home;
    const QString app = home.filePath(QStringLiteral("data/corvane/app"));
    const auto owner = QFile::ReadOwner | QFile::WriteOwner;
    ASSERT_TRUE(writeAll(app + QStringLiteral("/bin/corvane"), readAll(QStringLiteral(CORVANE_E2E_UPDATE_APP)),
                         owner | QFile::ExeOwner));
    ASSERT_TRUE(writeAll(app + QStringLiteral("/.corvane-install"), "install\n", owner));
    const QString documents = home.filePath(QStringLiteral("documents"));
    ASSERT_TRUE(writeAll(documents + QStringLiteral("/letter.txt"), "Dear Sam,\n", owner));
    ASSERT_TRUE(writeAll(documents + QStringLiteral("/notes/todo.txt"), "call back\n", owner));
    for (const char* leftover : {".cv-old", ".cv-new"})
        ASSERT_TRUE(QFile::link(documents, app + QLatin1String(leftover)));

    QProcess corvane;
    ASSERT_TRUE(startIn(corvane, home, app + QStringLiteral("/bin/corvane")));
    const QString diagPath = home.filePath(QStringLiteral("state/corvane/corvane-diag.log"));
    const bool cleaned = waitUntil([&] {
        const QByteArray diag = readAll(diagPath);
        return diag.contains("update: removed") && diag.contains(".cv-old") && diag.contains(".cv-new");
    });
    EXPECT_TRUE(cleaned) << readAll(diagPath).toStdString();
    EXPECT_EQ(readAll(documents + QStringLiteral("/letter.txt")), "Dear Sam,\n");
    EXPECT_EQ(readAll(documents + QStringLiteral("/notes/todo.txt")), "call back\n");
    for (const char* leftover : {".cv-old", ".cv-new"})
        EXPECT_FALSE(QFileInfo(app + QLatin1String(leftover)).isSymLink()) << leftover;
    corvane.terminate();
    EXPECT_TRUE(corvane.waitForFinished(kPatienceMs));
}
