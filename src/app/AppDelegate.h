#pragma once
// The application delegate: runs start-up in order, keeps the space-tap monitor started (retrying
// every 3 s while accessibility is missing or the tap cannot start), and owns the tray item with
// its menu, its activity icon and the 2 s menu refresh.
#include "services/UpdateService.h"
#include "trigger/AppActivity.h"
#include "trigger/HotkeyCenter.h"
#include <QObject>
#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QMenu;

class QSystemTrayIcon;
class QWidget;

namespace corvane::platform {
class Clock;
class Preferences;
} // namespace corvane::platform
namespace corvane::trigger {
class AccessibilityPermission;
class EventMonitor;
} // namespace corvane::trigger

namespace corvane::app {

class AppState;
class PermissionPrompt;

class AppDelegate final : public QObject {
    Q_OBJECT
public:
    // What the delegate drives. The hooks are the neighbours' entry points, wired by main.
    struct Parts {
        platform::Clock& clock;
        AppState& state;
        trigger::EventMonitor& monitor;
        trigger::AccessibilityPermission& permission;
        QString version;
        std::function<void()> performSpaceTrigger;
        std::function<void()> triggerSelected;
        std::function<void()> refreshHotkeys;
        std::function<services::UpdateService::Status()> updateStatus;
        std::function<void()> checkForUpdates;
        std::function<void()> cleanupStaleStaging;
        std::function<void()> startAutoChecks;
        std::function<void()> restorePanelSnapshot;
        std::function<void()> startTelemetry;
        std::function<void()> openSettings;
        std::function<void()> openLogViewer;
        std::function<void()> openFeedback;
        // Whether some tray host (StatusNotifierItem or XEmbed) shows tray icons now.
        std::function<bool()> trayAvailable;
        // Where the shortcuts already reported as refused are remembered across starts (optional).
        platform::Preferences* preferences = nullptr;
    };

    explicit AppDelegate(Parts parts, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The start-up sequence, once.
    void applicationDidFinishLaunching();
    void attemptStartMonitor();
    void updateStatusMenu();
    // Stops the tap and ends the event loop; applicationWillTerminate() follows once it returned.
    void quitApp();
    void applicationWillTerminate();

    // Tells each refused shortcut once as a tray message.
    void showHotkeyErrors(const QList<trigger::HotkeyError>& errors);
    // The last such tray message.
    QString lastHotkeyMessage() const { return m_lastHotkeyMessage; }

    QMenu* menu() const { return m_menu.get(); }
    QSystemTrayIcon* statusItem() const { return m_statusItem.get(); }
    // Whether a tray host showed the icon when it was made. Asking again means a blocking call to the
    // host over the session bus, which must not happen in the middle of a run.
    bool trayHostAtStart() const { return m_trayHostAtStart; }
    // The symbol the tray icon shows now ("idle", "optimizing", "done", "error").
    QString iconSymbol() const { return m_iconSymbol; }
    // The notice shown when no tray host exists at start; null otherwise.
    QWidget* noTrayNotice() const { return m_noTrayNotice; }
    // The permission prompt once it has been asked for; null before.
    QWidget* permissionPrompt() const;
    // The last alert a menu action showed (clean-up failure, settings that did not open).
    QMessageBox* lastAlert() const { return m_lastAlert; }
    bool retryPending() const { return m_retryTicket != 0; }

    // The refused shortcut combinations the user was told about ("keyCode:modifiers", space-separated).
    static constexpr const char* hotkeyRefusalsToldKey = "hotkeyRefusalsTold";
    // The update item's title for an updater status.
    static QString updateTitle(const services::UpdateService::Status& status);

Q_SIGNALS:
    // The menu has been refreshed (titles, visibility) from the current state.
    void statusMenuUpdated();

private:
    void setupStatusItem();
    void observeActivity();
    void updateStatusIcon(trigger::AppActivity activity);
    void scheduleRetry();
    void scheduleMenuRefresh();
    void refreshTick();
    void scheduleMemoryTrim();
    void showNoTrayNotice();
    void showPermissionPrompt();
    void showAlert(const QString& text, const QString& informative);

    void promptAuthorizationAgain();
    void cleanAuthorizationRecords();
    void openAccessibilitySettings();

    Parts m_parts;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    bool m_trayHostAtStart = false;
    QAction* m_statusLine = nullptr;
    QAction* m_promptAuthItem = nullptr;
    QAction* m_cleanAuthItem = nullptr;
    QAction* m_checkUpdateItem = nullptr;
    QString m_iconSymbol;
    QPointer<QWidget> m_noTrayNotice;
    QPointer<PermissionPrompt> m_permissionPrompt;
    QPointer<QMessageBox> m_lastAlert;
    bool m_hasPromptedForAccessibility = false;
    quint64 m_retryTicket = 0;  // the pending retry; 0 when none
    quint64 m_nextTicket = 0;
    quint64 m_trimTicket = 0;
    bool m_refreshMissed = false;  // a 2 s tick came while the menu was open
    QStringList m_toldRefusals;
    QString m_lastHotkeyMessage;
};

} // namespace corvane::app
