// Composition root: builds the real platform once, wires every shared instance, and starts the
// trigger sources (space taps, hotkeys, the tray menu).
#include "app/AppState.h"
#include "app/TriggerDispatch.h"
#include "llm/LLMClient.h"
#include "panel/DesktopGeometry.h"
#include "panel/FloatingPanelController.h"
#include "panel/StoreRecipeCatalog.h"
#include "platform/SystemClock.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AutoSecretStore.h"
#include "platform/linux/JournalLog.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/SessionAccessibilityStatus.h"
#include "platform/linux/SettingsPreferences.h"
#include "platform/linux/X11ActiveApp.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11HotkeyGrabber.h"
#include "platform/linux/XInputKeyTap.h"
#include "platform/linux/XTestKeySynth.h"
#include "platform/linux/XkbKeyboardLayout.h"
#include "services/TelemetryService.h"
#include "settings/SettingsWindowController.h"
#include "services/UpdateService.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"
#include "trigger/AccessibilityPermission.h"
#include "trigger/EventMonitor.h"
#include "trigger/HotkeyCenter.h"
#include "trigger/TriggerEngine.h"

#include <QApplication>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTextStream>
#include <QTimer>

#include <csignal>

using namespace corvane;

namespace {

// The tray mark: a plain accent disc with the initial, drawn here so no icon theme is needed.
QIcon trayIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x5B, 0x5B, 0xF0));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(4, 4, 56, 56));
    QFont font = painter.font();
    font.setPixelSize(38);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, 64, 62), Qt::AlignCenter, QStringLiteral("C"));
    return QIcon(pixmap);
}

// Starts the space-tap monitor while accessibility is usable; otherwise asks once per launch and
// tries again every 3 s.
class MonitorStarter : public QObject {
public:
    MonitorStarter(trigger::EventMonitor& monitor, trigger::AccessibilityPermission& permission, app::AppState& state)
        : m_monitor(monitor), m_permission(permission), m_state(state) {
        m_retry.setSingleShot(true);
        m_retry.setInterval(3000);
        connect(&m_retry, &QTimer::timeout, this, [this] { attempt(); });
    }
    void attempt() {
        m_retry.stop();
        m_monitor.stop();
        if (!m_permission.isTrusted()) {
            m_state.setMonitorRunning(false);
            stores::DiagLog::throttled(QStringLiteral("monitor-no-trust"), 60.0,
                                       QStringLiteral("attemptStartMonitor: AX NOT trusted, will retry in 3s (") +
                                           m_permission.reason() + QLatin1Char(')'));
            if (!m_prompted) {
                m_prompted = true;
                m_permission.prompt();
            }
            m_retry.start();
            return;
        }
        const bool started = m_monitor.start();
        m_state.setMonitorRunning(started);
        if (!started)
            m_retry.start();
    }

private:
    trigger::EventMonitor& m_monitor;
    trigger::AccessibilityPermission& m_permission;
    app::AppState& m_state;
    QTimer m_retry;
    bool m_prompted = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        QTextStream(stderr) << "Corvane needs an X11 session; Wayland sessions are not supported yet.\n";
        return 1;
    }

    // Platform: clock, logs, preferences, secrets.
    platform::SystemClock clock;
    platform::Clock::setShared(&clock);
    platform::linux_::JournalLog journal;
    stores::DiagLog::configure(&journal, &clock, stores::DiagLog::defaultFilePath());
    platform::linux_::SettingsPreferences preferences;
    platform::linux_::AutoSecretStore secrets([](const QString& line) { stores::DiagLog::event(line); });

    // Platform: the desktop.
    platform::linux_::X11Connection x11;
    platform::linux_::XInputKeyTap keyTap(x11);
    platform::linux_::X11HotkeyGrabber grabber(x11);
    platform::linux_::XkbKeyboardLayout layout(x11);
    platform::KeyboardLayout::setShared(&layout);
    platform::linux_::XTestKeySynth keySynth(x11);
    platform::linux_::X11ActiveApp activeApp;
    platform::linux_::AtspiAccessibility accessibility(&activeApp);
    accessibility.followFocus(); // focus events come only for changes after this
    platform::linux_::QtClipboard clipboard;
    platform::linux_::SessionAccessibilityStatus accessibilityStatus;
    trigger::AccessibilityPermission permission(accessibilityStatus);
    trigger::AccessibilityPermission::setShared(&permission);

    // Stores.
    stores::KeychainHelper keychain(secrets);
    stores::SettingsStore settings(preferences, keychain);
    stores::SettingsStore::setShared(&settings);
    const QStringList languages = QLocale::system().uiLanguages();
    stores::RecipeStore recipes(preferences, clock, languages);
    stores::RecipeStore::setShared(&recipes);
    stores::AppProfileStore appRules(preferences, clock, languages);
    stores::AppProfileStore::setShared(&appRules);
    stores::OptimizationLogger activityLog(preferences, clock);
    stores::OptimizationLogger::setShared(&activityLog);

    stores::DiagLog::event(QStringLiteral("App launching, AXIsProcessTrusted=") +
                           QString::fromLatin1(permission.isTrusted() ? "true" : "false"));

    // Services, model, panel, engine.
    app::AppState appState(clock);
    app::AppState::setShared(&appState);
    services::TelemetryService telemetry(preferences, clock);
    services::TelemetryService::setShared(&telemetry);
    services::UpdateService updates(preferences, QStringLiteral(CORVANE_VERSION));
    services::UpdateService::setShared(&updates);
    updates.setForcedUpdatePresenter([] {
        QMessageBox::warning(nullptr, QObject::tr("Update required"),
                             QObject::tr("This version of Corvane is no longer supported. Please update."));
    });
    llm::LLMClient model(settings);

    panel::QtDesktopGeometry geometry;
    panel::StoreRecipeCatalog catalog(recipes, appRules);
    panel::FloatingPanelController panelController(catalog, preferences, clock, geometry);
    panel::FloatingPanelController::setShared(&panelController);

    trigger::TriggerEngine engine({accessibility, activeApp, clipboard, keySynth, clock, model, panelController,
                                   appState, telemetry, updates, settings, recipes, appRules, activityLog});
    trigger::TriggerEngine::setShared(&engine);
    panelController.setEngine(engine);

    settings::SettingsWindowController settingsWindow;
    settings::SettingsWindowController::setShared(&settingsWindow);

    // Trigger sources.
    trigger::HotkeyCenter hotkeys(grabber, clock);
    trigger::HotkeyCenter::setShared(&hotkeys);
    app::TriggerDispatch dispatch(
        engine, [&engine](std::optional<QString> forced) { return engine.trigger(std::move(forced)); },
        panelController, telemetry, hotkeys, settings, appRules);
    trigger::EventMonitor monitor(keyTap, clock, trigger::TapSettings::fromSettingsStore(),
                                  [&permission] { return permission.isTrusted(); });
    monitor.onTrigger = [&dispatch] { dispatch.triggerFromMonitor(); };
    MonitorStarter starter(monitor, permission, appState);

    // Tray.
    QSystemTrayIcon tray;
    QMenu menu;
    menu.addAction(QObject::tr("Process Selected Text"), &dispatch, &app::TriggerDispatch::triggerSelected);
    menu.addSeparator();
    menu.addAction(QObject::tr("Quit Corvane"), &app, [&monitor] {
        monitor.stop();
        QCoreApplication::quit();
    });
    tray.setContextMenu(&menu);
    tray.setIcon(trayIcon());
    tray.setToolTip(QStringLiteral("Corvane"));
    tray.show();

    // Start-up: the tap, the panel restored after an update, hotkeys and their 2 s refresh.
    starter.attempt();
    QObject::connect(&permission, &trigger::AccessibilityPermission::changed, &starter, [&starter] { starter.attempt(); });
    panelController.restoreSnapshotIfFresh();
    QTimer refresh;
    refresh.setInterval(2000);
    QObject::connect(&refresh, &QTimer::timeout, &dispatch, [&dispatch] { dispatch.refreshHotkeysIfNeeded(); });
    refresh.start();
    dispatch.refreshHotkeysIfNeeded();

    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    if (qEnvironmentVariableIsSet("CORVANE_EXIT_AFTER_START"))
        return 0;
    const int status = app.exec();
    monitor.stop();
    return status;
}
