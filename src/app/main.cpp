// Composition root: builds the real platform once, wires every shared instance, and starts the
// trigger sources (space taps, hotkeys, the tray menu).
#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/ConsentWindow.h"
#include "app/FeedbackWindow.h"
#include "app/KnownPreferences.h"
#include "app/LazySecretStore.h"
#include "app/LogViewer.h"
#include "app/QuitSignals.h"
#include "app/SaveNotice.h"
#include "app/SingleInstance.h"
#include "app/StatusIcons.h"
#include "app/TriggerDispatch.h"
#include "app/UpdateWindows.h"
#include "llm/HttpConnectionPool.h"
#include "llm/LLMClient.h"
#include "panel/DesktopGeometry.h"
#include "panel/FloatingPanelController.h"
#include "panel/StoreRecipeCatalog.h"
#include "platform/SystemClock.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AutoSecretStore.h"
#include "platform/linux/DesktopInstalledApps.h"
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
#include "services/UpdateService.h"
#include "settings/SettingsWindowController.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"
#include "stores/StorageWatch.h"
#include "trigger/AccessibilityPermission.h"
#include "trigger/EventMonitor.h"
#include "trigger/HotkeyCenter.h"
#include "trigger/TriggerEngine.h"

#include <QApplication>
#include <QLocale>
#include <QSystemTrayIcon>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

using namespace corvane;

int main(int argc, char** argv) {
    // The few patterns matched on an answer run on short texts: compiling them to machine code
    // would keep the compiler's pages and the code resident for good, for no time a user notices.
    if (qEnvironmentVariableIsEmpty("QT_ENABLE_REGEXP_JIT"))
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
    QApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(app::StatusIcons::applicationIcon());

    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        QTextStream(stderr) << "Corvane needs an X11 session; Wayland sessions are not supported yet.\n";
        return 1;
    }

    // Platform: clock, logs, preferences, secrets.
    platform::SystemClock clock;
    platform::Clock::setShared(&clock);
    platform::linux_::JournalLog journal;
    stores::DiagLog::configure(&journal, &clock, stores::DiagLog::defaultFilePath());

    // One instance per session: a second start opens the first one's settings and ends here.
    app::SingleInstance instance;
    const app::SingleInstance::Claim claim = instance.claim();
    if (claim == app::SingleInstance::Claim::RunningElsewhere) {
        stores::DiagLog::flush();
        return 0;
    }
    if (claim == app::SingleInstance::Claim::NoBus)
        stores::DiagLog::event(QStringLiteral("No session bus: running without the one-instance guard"));
    platform::linux_::SettingsPreferences preferences(platform::linux_::SettingsPreferences::defaultPath(),
                                                      app::knownPreferenceLimit);
    stores::StorageWatch storageWatch(preferences, clock);
    app::LazySecretStore secrets([] {
        return std::make_unique<platform::linux_::AutoSecretStore>(
            [](const QString& line) { stores::DiagLog::event(line); });
    });

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
    platform::linux_::SessionAccessibilityStatus accessibilityStatus(accessibility.bus());
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

    // Services, model, panel, engine.
    app::AppState appState(clock);
    app::AppState::setShared(&appState);
    // One set of kept connections for every request: the model's, the probe's and the usage events'; the
    // updater asks it for its proxies.
    llm::HttpConnectionPool connections;
    services::TelemetryService telemetry(preferences, clock, settings, {CORVANE_BUILD, QStringLiteral(CORVANE_VERSION)},
                                         &connections);
    services::TelemetryService::setShared(&telemetry);
    // The question's window is built when it is first asked.
    std::unique_ptr<app::ConsentWindow> consentWindow;
    telemetry.setConsentPresenter([&consentWindow, &telemetry] {
        if (!consentWindow)
            consentWindow = std::make_unique<app::ConsentWindow>(telemetry);
        consentWindow->present();
    });
    services::UpdateService updates(preferences, clock, QStringLiteral(CORVANE_VERSION),
                                    services::UpdateService::Config::forRunningApp(
                                        QStringLiteral(CORVANE_UPDATE_BASE_URL), QStringLiteral(CORVANE_UPDATE_PUBKEY)),
                                    &connections);
    services::UpdateService::setShared(&updates);
    app::UpdateWindows updateWindows([&updates] { updates.checkAndInstall(true); });
    updates.setPresenter(&updateWindows);
    llm::LLMClient model(settings, &connections);

    panel::QtDesktopGeometry geometry;
    panel::StoreRecipeCatalog catalog(recipes, appRules);
    panel::FloatingPanelController panelController(catalog, preferences, clock, geometry);
    panel::FloatingPanelController::setShared(&panelController);
    QTimer::singleShot(0, &panelController, &panel::FloatingPanelController::prepare);

    trigger::TriggerEngine engine({accessibility, activeApp, clipboard, keySynth, clock, model, panelController,
                                   appState, telemetry, updates, settings, recipes, appRules, activityLog});
    trigger::TriggerEngine::setShared(&engine);
    panelController.setEngine(engine);
    updates.setHost({[&engine] { return engine.isIdle(); }, [&panelController] { return panelController.isPanelVisible(); },
                     [&panelController] { panelController.persistSnapshotForRestore(); }, {}});

    // Trigger sources.
    trigger::HotkeyCenter hotkeys(grabber, clock);
    trigger::HotkeyCenter::setShared(&hotkeys);
    app::TriggerDispatch dispatch(
        engine,
        [&engine](std::optional<QString> forced, trigger::TriggerSource source) {
            return engine.trigger(std::move(forced), source);
        },
        panelController, telemetry, hotkeys, settings, appRules);
    dispatch.setOwnWindowCheck([&activeApp] {
        // While Qt knows none of our windows to have the focus (the usual case) the server is not
        // asked: a round trip here would wait behind the application still drawing the third space.
        // Qt may lag behind a focus change the other way, so its word that one of ours has the focus
        // is checked with the server.
        if (!QApplication::activeWindow())
            return false;
        const auto front = activeApp.frontmost();
        if (!front)
            return false;
        if (front->pid == QCoreApplication::applicationPid())
            return true;
        for (const QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && window->internalWinId() && quint64(window->internalWinId()) == front->windowId)
                return true;
        return false;
    });
    trigger::EventMonitor monitor(keyTap, clock, trigger::TapSettings::fromSettingsStore(),
                                  [&permission] { return permission.isTrusted(); });

    // Windows of the shell, built on first use.
    app::LogViewerController logViewer(
        activityLog, [&settings] { return trigger::EventMonitor::sanitizedSpaceCount(settings.triggerSpaceCount()); });
    app::LogViewerController::setShared(&logViewer);
    app::FeedbackWindowController feedback(
        [&telemetry](QString kind, QString message, QString contact, bool includeDiag) {
            return telemetry.submitFeedback(std::move(kind), std::move(message), std::move(contact), includeDiag);
        },
        clock);
    app::FeedbackWindowController::setShared(&feedback);

    // Settings window: built on its first show().
    platform::linux_::DesktopInstalledApps installedApps;
    settings::SettingsWindowController settingsWindow({.settings = settings,
                                                       .recipes = recipes,
                                                       .appRules = appRules,
                                                       .preferences = preferences,
                                                       .hotkeys = hotkeys,
                                                       .permission = permission,
                                                       .activeApp = activeApp,
                                                       .layout = layout,
                                                       .clock = clock,
                                                       .installedApps = &installedApps,
                                                       .keyStorage = &secrets,
                                                       .telemetry = &telemetry,
                                                       .updates = &updates,
                                                       .openFeedback = [&feedback] { feedback.show(); },
                                                       .probe =
                                                           [&connections](QString endpoint, llm::APIFormat format,
                                                                          QString model, QString key, double timeout) {
                                                               return llm::LLMClient::probe(
                                                                   std::move(endpoint), format, std::move(model),
                                                                   std::move(key), timeout, &connections);
                                                           },
                                                       .fetchModels =
                                                           [&connections](QString endpoint, llm::APIFormat format,
                                                                          QString key) {
                                                               return llm::LLMClient::fetchModelIDs(
                                                                   std::move(endpoint), format, std::move(key),
                                                                   &connections);
                                                           },
                                                       .version = QStringLiteral(CORVANE_VERSION)});
    settings::SettingsWindowController::setShared(&settingsWindow);

    app::AppDelegate delegate({
        .clock = clock,
        .state = appState,
        .monitor = monitor,
        .permission = permission,
        .version = updates.currentVersion(),
        .performSpaceTrigger = [&dispatch] { dispatch.performTrigger(std::nullopt, QStringLiteral("space")); },
        .triggerSelected = [&dispatch] { dispatch.triggerSelected(); },
        .refreshHotkeys = [&dispatch] { dispatch.refreshHotkeysIfNeeded(); },
        .updateStatus = [&updates] { return updates.status(); },
        .checkForUpdates =
            [&updates] { QTimer::singleShot(0, &updates, [&updates] { updates.checkAndInstall(true); }); },
        .cleanupStaleStaging = [&updates] { updates.cleanupStaleStaging(); },
        .startAutoChecks = [&updates] { updates.startAutoChecks(); },
        .restorePanelSnapshot = [&panelController] { panelController.restoreSnapshotIfFresh(); },
        .startTelemetry = [&telemetry] { telemetry.start(); },
        .openSettings = [] { settings::SettingsWindowController::shared().show(); },
        .openLogViewer = [&logViewer] { logViewer.show(); },
        .openFeedback = [&feedback] { feedback.show(); },
        .trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
        .preferences = &preferences,
    });
    QObject::connect(&hotkeys, &trigger::HotkeyCenter::errorsChanged, &delegate,
                     [&delegate, &hotkeys] { delegate.showHotkeyErrors(hotkeys.lastErrors()); });
    instance.setShowSettingsHandler([] { settings::SettingsWindowController::shared().show(); });
    app::QuitSignals quitSignals([&delegate](int signal) {
        stores::DiagLog::event(QStringLiteral("Signal %1: quitting").arg(signal));
        delegate.quitApp();
    });

    delegate.applicationDidFinishLaunching();

    // Preferences that cannot be saved: told once per episode, through the tray when it shows. A
    // settings file found damaged, at start or later: told once per damage.
    const auto shownTray = [&delegate]() -> QSystemTrayIcon* {
        QSystemTrayIcon* tray = delegate.statusItem();
        return tray && tray->isVisible() && delegate.trayHostAtStart() ? tray : nullptr;
    };
    app::SaveNotice saveNotice(shownTray);
    app::SaveNotice damagedNotice(shownTray, QStringLiteral("damagedSettingsNotice"));
    if (const auto damaged = preferences.damagedFile())
        damagedNotice.tell(stores::StorageWatch::damagedTitle(), stores::StorageWatch::damagedMessage(*damaged));
    QObject::connect(&storageWatch, &stores::StorageWatch::damagedFound, &damagedNotice, &app::SaveNotice::tell);
    QObject::connect(&storageWatch, &stores::StorageWatch::saveFailed, &saveNotice, &app::SaveNotice::tell);
    QObject::connect(&storageWatch, &stores::StorageWatch::saveRecovered, &saveNotice, &app::SaveNotice::withdraw);
    if (const auto failure = storageWatch.failure())
        saveNotice.tell(stores::StorageWatch::title(), stores::StorageWatch::message(*failure));

    if (qEnvironmentVariableIsSet("CORVANE_EXIT_AFTER_START"))
        return 0;
    app.exec();
    delegate.applicationWillTerminate();
    storageWatch.pushBeforeQuit();
    stores::DiagLog::flush();
    // Set up last, so it runs first at exit: a proxy question the system's proxy machinery has not
    // answered would hold the exit up, since that machinery waits for it while it shuts down.
    llm::HttpConnectionPool::endAtOnceAtExitWhileAsking(&stores::DiagLog::flush);
    return 0;
}
