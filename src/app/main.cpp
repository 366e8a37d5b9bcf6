// Composition root: builds the real platform once and wires every shared instance.
#include "platform/Clock.h"
#include "platform/SystemClock.h"
#include "platform/linux/SettingsPreferences.h"

#include <QApplication>
#include <QIcon>
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

    if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        QTextStream(stderr) << "Corvane needs an X11 session; Wayland sessions are not supported yet.\n";
        return 1;
    }

    static platform::SystemClock clock;
    platform::Clock::setShared(&clock);
    static platform::linux_::SettingsPreferences preferences;

    QSystemTrayIcon tray;
    QMenu menu;
    menu.addAction(QObject::tr("Quit Corvane"), &app, &QApplication::quit);
    tray.setContextMenu(&menu);
    tray.setIcon(app.style() ? QIcon::fromTheme(QStringLiteral("edit-paste")) : QIcon());
    tray.setToolTip(QStringLiteral("Corvane"));
    tray.show();

    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    if (qEnvironmentVariableIsSet("CORVANE_EXIT_AFTER_START"))
        return 0;
    return app.exec();
}
