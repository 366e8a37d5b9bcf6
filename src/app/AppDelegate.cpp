#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/PermissionPrompt.h"
#include "app/QuietWindow.h"
#include "app/StatusIcons.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"
#include "stores/DiagLog.h"
#include "trigger/AccessibilityPermission.h"
#include "trigger/EventMonitor.h"
#include "trigger/HotkeyDescription.h"
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPixmapCache>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <malloc.h>

namespace corvane::app {

using stores::DiagLog;

namespace {
constexpr qint64 kRetryMs = 3000;
constexpr qint64 kMenuRefreshMs = 2000;
constexpr qint64 kTrimDelayMs = 1000;
} // namespace

AppDelegate::AppDelegate(Parts parts, QObject* parent) : QObject(parent), m_parts(std::move(parts)) {}

AppDelegate::~AppDelegate() {
    delete m_permissionPrompt.data();
    if (m_noTrayNotice)
        delete m_noTrayNotice.data();
    if (m_lastAlert)
        delete m_lastAlert.data();
}

void AppDelegate::applicationDidFinishLaunching() {
    DiagLog::event(QStringLiteral("App launching, AXIsProcessTrusted=") +
                   QString::fromLatin1(m_parts.permission.isTrusted() ? "true" : "false"));
    setupStatusItem();
    observeActivity();
    connect(&m_parts.permission, &trigger::AccessibilityPermission::promptRequested, this,
            &AppDelegate::showPermissionPrompt);
    attemptStartMonitor();
    if (m_parts.cleanupStaleStaging)
        m_parts.cleanupStaleStaging();
    if (m_parts.startAutoChecks)
        m_parts.startAutoChecks();
    if (m_parts.restorePanelSnapshot)
        m_parts.restorePanelSnapshot();
    if (m_parts.startTelemetry)
        m_parts.startTelemetry();
    // Every change of the session's accessibility state starts a new attempt, whatever the state.
    QPointer<AppDelegate> self(this);
    connect(&m_parts.permission, &trigger::AccessibilityPermission::changed, this, [self] {
        if (self)
            self->attemptStartMonitor();
    });
    scheduleMenuRefresh();
    if (m_parts.refreshHotkeys)
        m_parts.refreshHotkeys();
}

// ---- the space-tap monitor ----

void AppDelegate::attemptStartMonitor() {
    m_retryTicket = 0;
    m_parts.monitor.stop();
    if (m_parts.permission.isTrusted()) {
        QPointer<AppDelegate> self(this);
        m_parts.monitor.onTrigger = [self] {
            DiagLog::event(QStringLiteral("EventMonitor onTrigger → performTrigger"));
            if (self && self->m_parts.performSpaceTrigger)
                self->m_parts.performSpaceTrigger();
        };
        if (m_parts.monitor.start()) {
            DiagLog::event(QStringLiteral("attemptStartMonitor: monitor STARTED"));
            m_parts.state.setMonitorRunning(true);
        } else {
            DiagLog::event(QStringLiteral("attemptStartMonitor: monitor.start() FAILED, will retry in 3s"));
            m_parts.state.setMonitorRunning(false);
            scheduleRetry();
        }
        updateStatusMenu();
        return;
    }
    DiagLog::throttled(QStringLiteral("monitor-no-trust"), 60.0,
                       QStringLiteral("attemptStartMonitor: AX NOT trusted, will retry in 3s"));
    DiagLog::throttled(QStringLiteral("monitor-no-trust-reason"), 60.0,
                       QStringLiteral("attemptStartMonitor: ") + m_parts.permission.reason());
    if (!m_hasPromptedForAccessibility) {
        m_hasPromptedForAccessibility = true;
        m_parts.permission.prompt();
    }
    m_parts.state.setMonitorRunning(false);
    updateStatusMenu();
    scheduleRetry();
}

void AppDelegate::scheduleRetry() {
    const quint64 ticket = ++m_nextTicket;
    m_retryTicket = ticket;
    QPointer<AppDelegate> self(this);
    m_parts.clock.schedule(kRetryMs, this, [self, ticket] {
        if (self && self->m_retryTicket == ticket)
            self->attemptStartMonitor();
    });
}

void AppDelegate::scheduleMenuRefresh() {
    QPointer<AppDelegate> self(this);
    m_parts.clock.schedule(kMenuRefreshMs, this, [self] {
        if (!self)
            return;
        self->refreshTick();
        self->scheduleMenuRefresh();
    });
}

void AppDelegate::refreshTick() {
    // Nothing changes under the user's pointer while the menu is open; a tick missed meanwhile
    // runs as soon as the menu closes.
    if (m_menu && m_menu->isVisible()) {
        m_refreshMissed = true;
        return;
    }
    m_refreshMissed = false;
    updateStatusMenu();
    if (m_parts.refreshHotkeys)
        m_parts.refreshHotkeys();
}

// A run leaves freed heap behind (the answer's text, the network buffers, the panel's layouts), and
// the style's drawings of the panel's buttons and lists in the pixmap cache (drawn again when the
// panel next shows); once things are quiet again, drop those and hand the heap back to the system
// instead of keeping it mapped.
void AppDelegate::scheduleMemoryTrim() {
    const quint64 ticket = ++m_trimTicket;
    QPointer<AppDelegate> self(this);
    m_parts.clock.schedule(kTrimDelayMs, this, [self, ticket] {
        if (self && self->m_trimTicket == ticket && self->m_parts.state.activity() == trigger::AppActivity::Idle) {
            QPixmapCache::clear();
            ::malloc_trim(0);
        }
    });
}

void AppDelegate::quitApp() {
    m_parts.monitor.stop();
    QCoreApplication::quit();
}

void AppDelegate::applicationWillTerminate() {
    m_parts.monitor.stop();
    disconnect(&m_parts.permission, nullptr, this, nullptr);
}

// ---- the tray item and its menu ----

void AppDelegate::setupStatusItem() {
    m_statusItem = std::make_unique<QSystemTrayIcon>();
    m_statusItem->setToolTip(QStringLiteral("Corvane"));
    m_menu = std::make_unique<QMenu>();
    m_menu->setObjectName(QStringLiteral("statusMenu"));
    QMenu* menu = m_menu.get();

    m_statusLine = menu->addAction(tr("Status: Accessibility not granted"));
    m_statusLine->setEnabled(false);
    connect(m_statusLine, &QAction::triggered, this, [this] {
        if (!m_parts.state.isMonitorRunning())
            openAccessibilitySettings();
    });
    menu->addSeparator();
    m_promptAuthItem = menu->addAction(tr("Re-open Permission Prompt"), this, &AppDelegate::promptAuthorizationAgain);
    m_cleanAuthItem =
        menu->addAction(tr("Clean Up Stale Authorization Entries…"), this, &AppDelegate::cleanAuthorizationRecords);
    menu->addAction(tr("Process Selected Text"), this, [this] {
        if (m_parts.triggerSelected)
            m_parts.triggerSelected();
    });
    menu->addAction(tr("Activity Log"), this, [this] {
        if (m_parts.openLogViewer)
            m_parts.openLogViewer();
    });
    menu->addAction(tr("Send Feedback…"), this, [this] {
        if (m_parts.openFeedback)
            m_parts.openFeedback();
    });
    menu->addAction(tr("Version %1").arg(m_parts.version))->setEnabled(false);
    m_checkUpdateItem = menu->addAction(tr("Check for Updates…"), this, [this] {
        if (m_parts.checkForUpdates)
            m_parts.checkForUpdates();
    });
    QAction* settings = menu->addAction(tr("Open Settings…"), this, [this] {
        if (m_parts.openSettings)
            m_parts.openSettings();
    });
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    menu->addSeparator();
    QAction* quit = menu->addAction(tr("Quit Corvane"), this, &AppDelegate::quitApp);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    // Run a refresh the open menu held back once it has closed.
    connect(menu, &QMenu::aboutToHide, this, [this] {
        if (!m_refreshMissed)
            return;
        QPointer<AppDelegate> self(this);
        m_parts.clock.schedule(0, this, [self] {
            if (self && self->m_refreshMissed)
                self->refreshTick();
        });
    });
    m_statusItem->setContextMenu(menu);
    // An XEmbed tray sends a left click as Trigger; StatusNotifierItem hosts call Activate: both
    // open the same menu at the pointer.
    connect(m_statusItem.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_menu && !m_menu->isVisible())
            m_menu->popup(QCursor::pos());
    });
    m_statusItem->setIcon(StatusIcons::icon(trigger::AppActivity::Idle, QApplication::palette()));
    m_iconSymbol = StatusIcons::symbol(trigger::AppActivity::Idle);
    m_statusItem->show();
    m_trayHostAtStart = !m_parts.trayAvailable || m_parts.trayAvailable();
    if (!m_trayHostAtStart)
        showNoTrayNotice();
}

void AppDelegate::observeActivity() {
    connect(&m_parts.state, &AppState::activityChanged, this, &AppDelegate::updateStatusIcon);
    updateStatusIcon(m_parts.state.activity());
}

void AppDelegate::updateStatusIcon(trigger::AppActivity activity) {
    if (activity == trigger::AppActivity::Idle)
        scheduleMemoryTrim();
    if (!m_statusItem)
        return;
    m_iconSymbol = StatusIcons::symbol(activity);
    m_statusItem->setIcon(StatusIcons::icon(activity, QApplication::palette()));
}

QString AppDelegate::updateTitle(const services::UpdateService::Status& status) {
    using Kind = services::UpdateService::Status::Kind;
    switch (status.kind) {
    case Kind::Available:
        return tr("New version v%1 — click to install…").arg(status.version);
    case Kind::Downloading: {
        const double percent = qBound(0.0, status.progress, 1.0) * 100.0;
        return tr("Downloading update %1%…").arg(int(percent));
    }
    case Kind::Failed:
        return tr("Update failed — click to retry");
    case Kind::Checking:
        return tr("Checking for updates…");
    case Kind::Idle:
    case Kind::UpToDate:
        break;
    }
    return tr("Check for Updates…");
}

void AppDelegate::updateStatusMenu() {
    if (!m_menu || !m_statusLine)
        return;
    const bool running = m_parts.state.isMonitorRunning();
    // This desktop has no secure keyboard input mode that hides keys from an observer.
    if (running) {
        m_statusLine->setText(tr("Status: Listening ✓"));
        m_statusLine->setEnabled(false);
    } else {
        m_statusLine->setText(tr("⚠️ Accessibility not granted — click to grant"));
        m_statusLine->setEnabled(true);
    }
    m_promptAuthItem->setVisible(!running);
    m_cleanAuthItem->setVisible(!running);
    if (m_parts.updateStatus)
        m_checkUpdateItem->setText(updateTitle(m_parts.updateStatus()));
    m_checkUpdateItem->setEnabled(true);
    Q_EMIT statusMenuUpdated();
}

// ---- menu actions ----

void AppDelegate::promptAuthorizationAgain() { m_parts.permission.prompt(); }

void AppDelegate::cleanAuthorizationRecords() {
    if (const auto message = m_parts.permission.runCleanupFlow())
        showAlert(tr("Couldn't clean up authorization entries"), *message);
}

void AppDelegate::openAccessibilitySettings() {
    // A click never does nothing visible: when no settings opened, say why and what to do.
    if (const auto message = m_parts.permission.openSettingsPane())
        showAlert(tr("Couldn't open the accessibility settings"), *message);
}

void AppDelegate::showAlert(const QString& text, const QString& informative) {
    if (m_lastAlert)
        m_lastAlert->close();
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Corvane"), text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("menuAlert"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(informative);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    m_lastAlert = box;
    // Shown without a nested event loop: menu actions return at once.
    box->show();
}

QWidget* AppDelegate::permissionPrompt() const { return m_permissionPrompt; }

void AppDelegate::showPermissionPrompt() {
    if (!m_permissionPrompt)
        m_permissionPrompt = new PermissionPrompt(m_parts.permission);
    m_permissionPrompt->present();
}

void AppDelegate::showNoTrayNotice() {
    DiagLog::event(QStringLiteral("No tray host: the tray icon waits for one"));
    QWidget* notice =
        quietNotice(QStringLiteral("noTrayNotice"), QStringLiteral("Corvane"),
                    tr("Corvane is running, but this desktop shows no tray icons, so its menu is out of reach. Add a "
                       "system tray or a StatusNotifier (AppIndicator) extension to your panel: the Corvane icon "
                       "appears there as soon as one is available. Meanwhile the space-tap trigger works, and "
                       "starting Corvane again opens its settings."));
    m_noTrayNotice = notice;
    notice->show();
}

void AppDelegate::showHotkeyErrors(const QList<trigger::HotkeyError>& errors) {
    if (!m_statusItem)
        return;
    // Each refused combination is told once, across starts too (the Trigger and App Rules tabs keep
    // showing it); one that works again is forgotten, so choosing it again later tells again.
    const QString toldKey = QString::fromLatin1(hotkeyRefusalsToldKey);
    QStringList told = m_toldRefusals;
    if (m_parts.preferences)
        if (const auto stored = m_parts.preferences->string(toldKey))
            told = stored->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList refused, lines;
    for (const auto& error : errors) {
        const QString combination = QStringLiteral("%1:%2").arg(error.keyCode).arg(error.modifiers);
        if (refused.contains(combination))
            continue;
        refused << combination;
        if (told.contains(combination))
            continue;
        const QString label = trigger::HotkeyDescription::string(error.keyCode, error.modifiers);
        const QString where = error.id == QLatin1String("global") ? tr("Settings → Trigger") : tr("Settings → App Rules");
        lines << (error.reason == trigger::HotkeyError::Reason::Taken
                      ? tr("%1 is used by another program. Choose another shortcut in %2.").arg(label, where)
                      : tr("%1: %2 Choose another shortcut in %3.").arg(label, error.message, where));
    }
    m_toldRefusals = refused;
    if (m_parts.preferences && told != refused) {
        if (refused.isEmpty())
            m_parts.preferences->remove(toldKey);
        else
            m_parts.preferences->setValue(toldKey, refused.join(QLatin1Char(' ')));
    }
    if (lines.isEmpty())
        return;
    m_lastHotkeyMessage = lines.join(QLatin1Char('\n'));
    DiagLog::event(QStringLiteral("Hotkeys refused, told the user: ") + m_lastHotkeyMessage);
    m_statusItem->showMessage(tr("Keyboard shortcut not registered"), m_lastHotkeyMessage, QSystemTrayIcon::Warning,
                              15000);
}

} // namespace corvane::app
