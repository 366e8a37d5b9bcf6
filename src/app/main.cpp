// Composition root: builds the real platform once and wires every shared instance.
#include "platform/SystemClock.h"
#include "platform/linux/AutoSecretStore.h"
#include "platform/linux/JournalLog.h"
#include "platform/linux/SettingsPreferences.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTextStream>

#include <csignal>

using namespace corvane;

int main(int argc, char** argv) {
    QApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    if (QGuiApplication::platformName() != QLatin1String("xcb") && !qEnvironmentVariableIsSet("CORVANE_ALLOW_NON_X11")) {
        QTextStream(stderr) << "Corvane needs an X11 session; Wayland sessions are not supported yet.\n";
        return 1;
    }

    // Platform.
    static platform::SystemClock clock;
    platform::Clock::setShared(&clock);
    static platform::linux_::JournalLog journal;
    stores::DiagLog::configure(&journal, &clock, stores::DiagLog::defaultFilePath());
    static platform::linux_::SettingsPreferences preferences;
    static platform::linux_::AutoSecretStore secrets([](const QString& line) { stores::DiagLog::event(line); });

    // Stores.
    static stores::KeychainHelper keychain(secrets);
    static stores::SettingsStore settings(preferences, keychain);
    stores::SettingsStore::setShared(&settings);
    const QStringList languages = QLocale::system().uiLanguages();
    static stores::RecipeStore recipes(preferences, clock, languages);
    stores::RecipeStore::setShared(&recipes);
    static stores::AppProfileStore appRules(preferences, clock, languages);
    stores::AppProfileStore::setShared(&appRules);
    static stores::OptimizationLogger activityLog(preferences, clock);
    stores::OptimizationLogger::setShared(&activityLog);

    QSystemTrayIcon tray;
    QMenu menu;
    menu.addAction(QObject::tr("Quit Corvane"), &app, &QApplication::quit);
    tray.setContextMenu(&menu);
    tray.setToolTip(QStringLiteral("Corvane"));
    tray.show();

    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    if (qEnvironmentVariableIsSet("CORVANE_EXIT_AFTER_START"))
        return 0;
    return app.exec();
}
