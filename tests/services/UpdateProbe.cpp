// Stands in for the app in the swap test. From <install>/bin:
//   update_probe --update BASE-URL PUBLIC-KEY   runs one automatic check that installs (exits 0 through
//                                               the updater's own exit, 3 when it did not)
//   update_probe --cleanup                      removes the staging leftovers, as a start does
//   update_probe                                writes <install>/VERSION to <install>/../started
#include "platform/SystemClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "services/UpdatePackage.h"
#include "services/UpdateService.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkProxy>
#include <QTextStream>

using namespace corvane;

namespace {
QCoro::Task<> checkThenQuit(services::UpdateService& updates) {
    co_await updates.checkAndInstall(false);
    QTextStream(stderr) << "no install: " << updates.status().message << '\n';
    QCoreApplication::exit(3);
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString root = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).canonicalPath();
    QFile versionFile(root + QStringLiteral("/VERSION"));
    versionFile.open(QIODevice::ReadOnly);
    const QString version = QString::fromLatin1(versionFile.readAll().trimmed());
    const QStringList args = app.arguments().mid(1);

    platform::fake::MemoryPreferences prefs;
    prefs.setValue(QStringLiteral("updateAutoInstall"), true);
    platform::SystemClock clock;
    services::UpdateService::Config config;
    config.installDir = services::UpdateService::Config::locateInstall(QCoreApplication::applicationDirPath());
    config.launchPath = QStringLiteral("bin/update_probe");
    config.logFile = root + QStringLiteral(".swap.log");
    if (args.value(0) == QLatin1String("--cleanup")) {
        services::UpdateService(prefs, clock, version, config).cleanupStaleStaging();
        return 0;
    }
    if (args.value(0) != QLatin1String("--update")) {
        // Written whole, then renamed, so the test never reads half a report.
        QFile started(root + QStringLiteral("/../started.part"));
        const bool written = started.open(QIODevice::WriteOnly) && started.write(version.toLatin1()) > 0;
        started.close();
        return written && started.rename(root + QStringLiteral("/../started")) ? 0 : 4;
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    config.baseUrl = args.value(1);
    config.publicKey = services::updatepkg::decodePublicKey(args.value(2));
    services::UpdateService updates(prefs, clock, version, config);
    checkThenQuit(updates);
    return app.exec();
}
