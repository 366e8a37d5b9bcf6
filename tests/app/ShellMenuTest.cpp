// The tray menu, its icon and the monitor start-up, read from the live QMenu offscreen, over a
// fake session (accessibility switch, key tap) and a virtual clock.
#include "app/AppDelegate.h"
#include "app/AppState.h"
#include "app/FeedbackWindow.h"
#include "app/LogViewer.h"
#include "app/SaveNotice.h"
#include "platform/fake/MemoryPreferences.h"
#include "stores/OptimizationLogger.h"
#include "support/DarkPalette.h"
#include "support/LayoutChecks.h"
#include "support/TextContrast.h"
#include "app/StatusIcons.h"
#include "platform/fake/FakeAccessibilityStatus.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeKeyTap.h"
#include "trigger/AccessibilityPermission.h"
#include "trigger/EventMonitor.h"
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using namespace corvane;
using Kind = services::UpdateService::Status::Kind;

namespace {

struct FixedTapSettings : trigger::TapSettings {
    qint64 triggerSpaceCount() const override { return 3; }
    double triggerIntervalMs() const override { return 500; }
    double cooldownSeconds() const override { return 0; }
};

struct Shell {
    platform::fake::FakeClock clock;
    platform::fake::FakeAccessibilityStatus session;
    platform::fake::FakeKeyTap tap;
    FixedTapSettings tapSettings;
    trigger::AccessibilityPermission permission{session};
    trigger::EventMonitor monitor{tap, clock, tapSettings, [this] { return permission.isTrusted(); }};
    app::AppState state{clock};
    services::UpdateService::Status update;
    QStringList calls;
    std::unique_ptr<app::AppDelegate> delegate;

    explicit Shell(bool accessibilityOn = true, bool trayHost = true, platform::Preferences* prefs = nullptr) {
        session.current.enabled = accessibilityOn;
        session.enableWorks = false;
        auto hook = [this](const char* name) { return [this, name] { calls << QString::fromLatin1(name); }; };
        delegate = std::make_unique<app::AppDelegate>(app::AppDelegate::Parts{
            clock, state, monitor, permission, QStringLiteral("1.4.2"), hook("space"), hook("selected"),
            hook("hotkeys"), [this] { return update; }, hook("checkForUpdates"), hook("cleanupStaleStaging"),
            hook("startAutoChecks"), hook("restorePanel"), hook("telemetry"), hook("settings"), hook("logViewer"),
            hook("feedback"), [trayHost] { return trayHost; }, prefs});
        delegate->applicationDidFinishLaunching();
    }
    QList<QAction*> actions() const { return delegate->menu()->actions(); }
    // "title|visible|enabled" per entry, separators as "-" (a hidden action counts as disabled).
    QStringList rows() const {
        QStringList out;
        for (QAction* a : actions())
            if (a->isSeparator())
                out << QStringLiteral("-");
            else
                out << QStringLiteral("%1|%2|%3").arg(a->text()).arg(a->isVisible()).arg(a->isEnabled());
        return out;
    }
    QAction* find(const QString& title) const {
        for (QAction* a : actions())
            if (a->text() == title)
                return a;
        return nullptr;
    }
};

services::UpdateService::Status updater(Kind kind, const QString& version = {}, double progress = 0) {
    services::UpdateService::Status status;
    status.kind = kind;
    status.version = version;
    status.progress = progress;
    return status;
}

const QString kListening = QStringLiteral("Status: Listening ✓");
const QString kNotGranted = QStringLiteral("⚠️ Accessibility not granted — click to grant");

} // namespace

TEST(ShellMenu, EntriesInOrderForEachMonitorState) {
    const struct {
        bool accessibilityOn;
        bool tapWorks;
        QString statusLine;
        bool permissionItems;
    } cases[] = {
        {true, true, kListening, false},
        {false, true, kNotGranted, true},
        {true, false, kNotGranted, true}, // trusted, but the tap could not start
    };
    for (const auto& c : cases) {
        Shell shell(c.accessibilityOn);
        if (!c.tapWorks) {
            shell.tap.setUnavailable(QStringLiteral("no XInput2"));
            shell.delegate->attemptStartMonitor();
        }
        const QString p = QString::number(c.permissionItems);
        EXPECT_EQ(shell.rows(), (QStringList{c.statusLine + QStringLiteral("|1|") + p, QStringLiteral("-"),
                                             QStringLiteral("Re-open Permission Prompt|") + p + QLatin1Char('|') + p,
                                             QStringLiteral("Clean Up Stale Authorization Entries…|") + p +
                                                 QLatin1Char('|') + p,
                                             QStringLiteral("Process Selected Text|1|1"),
                                             QStringLiteral("Activity Log|1|1"), QStringLiteral("Send Feedback…|1|1"),
                                             QStringLiteral("Version 1.4.2|1|0"),
                                             QStringLiteral("Check for Updates…|1|1"),
                                             QStringLiteral("Open Settings…|1|1"), QStringLiteral("-"),
                                             QStringLiteral("Quit Corvane|1|1")}))
            << c.statusLine.toStdString();
        EXPECT_EQ(shell.state.isMonitorRunning(), c.statusLine == kListening);
        EXPECT_EQ(shell.delegate->retryPending(), c.statusLine != kListening);
    }
    Shell shell;
    EXPECT_EQ(shell.find(QStringLiteral("Open Settings…"))->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
    EXPECT_EQ(shell.find(QStringLiteral("Quit Corvane"))->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
}

TEST(ShellMenu, UpdateTitleFollowsTheUpdaterWithinOneRefresh) {
    const struct {
        services::UpdateService::Status status;
        QString title;
    } cases[] = {
        {updater(Kind::Idle), QStringLiteral("Check for Updates…")},
        {updater(Kind::UpToDate), QStringLiteral("Check for Updates…")},
        {updater(Kind::Checking), QStringLiteral("Checking for updates…")},
        {updater(Kind::Available, QStringLiteral("2.0.1")), QStringLiteral("New version v2.0.1 — click to install…")},
        {updater(Kind::Downloading, {}, 0.456), QStringLiteral("Downloading update 45%…")},
        {updater(Kind::Downloading, {}, 0.999), QStringLiteral("Downloading update 99%…")},
        {updater(Kind::Failed), QStringLiteral("Update failed — click to retry")},
    };
    Shell shell;
    QAction* item = shell.actions().at(8);
    for (const auto& c : cases) {
        shell.update = c.status;
        shell.clock.advance(2000);
        EXPECT_EQ(item->text(), c.title);
        EXPECT_TRUE(item->isEnabled());
        item->trigger();
        EXPECT_EQ(shell.calls.last(), QStringLiteral("checkForUpdates"));
    }
}

TEST(ShellMenu, StartUpRunsInOrderAndRefreshesEveryTwoSeconds) {
    Shell shell;
    EXPECT_EQ(shell.calls, (QStringList{QStringLiteral("cleanupStaleStaging"), QStringLiteral("startAutoChecks"),
                                        QStringLiteral("restorePanel"), QStringLiteral("telemetry"),
                                        QStringLiteral("hotkeys")}));
    EXPECT_EQ(shell.tap.startCount(), 1);
    shell.calls.clear();
    shell.clock.advance(1999);
    EXPECT_TRUE(shell.calls.isEmpty());
    shell.clock.advance(1);
    EXPECT_EQ(shell.calls, QStringList{QStringLiteral("hotkeys")});
    shell.clock.advance(4000);
    EXPECT_EQ(shell.calls.size(), 3);

    // An open menu holds the refresh back; the tick it missed runs once it closes.
    shell.delegate->menu()->popup(QPoint(10, 10));
    shell.clock.advance(2000);
    EXPECT_EQ(shell.calls.size(), 3);
    shell.delegate->menu()->hide();
    shell.clock.advance(0);
    EXPECT_EQ(shell.calls.size(), 4);
    shell.clock.advance(2000); // the 2 s rhythm goes on as before
    EXPECT_EQ(shell.calls.size(), 5);

    // Menu actions reach their owners.
    const struct {
        int entry;
        const char* hook;
    } actions[] = {{4, "selected"}, {5, "logViewer"}, {6, "feedback"}, {9, "settings"}};
    for (const auto& a : actions) {
        shell.actions().at(a.entry)->trigger();
        EXPECT_EQ(shell.calls.last(), QString::fromLatin1(a.hook));
    }
}

TEST(ShellMenu, AccessibilityOffThenOnListensWithinOneAttempt) {
    Shell shell(false);
    QAction* status = shell.actions().first();
    EXPECT_EQ(status->text(), kNotGranted);
    ASSERT_NE(shell.delegate->permissionPrompt(), nullptr); // asked once per launch
    shell.delegate->permissionPrompt()->hide();
    shell.clock.advance(9000); // three retries, no further prompt
    EXPECT_FALSE(shell.delegate->permissionPrompt()->isVisible());
    EXPECT_FALSE(shell.tap.isRunning());

    // The switch comes on: the change notice starts the attempt at once.
    auto facts = shell.session.current;
    facts.enabled = true;
    shell.session.set(facts);
    EXPECT_EQ(status->text(), kListening);
    EXPECT_FALSE(status->isEnabled());
    EXPECT_TRUE(shell.tap.isRunning());
    EXPECT_FALSE(shell.delegate->retryPending());

    // Switched off again: the next notice stops the tap and the retry loop begins.
    facts.enabled = false;
    shell.session.set(facts);
    EXPECT_EQ(status->text(), kNotGranted);
    EXPECT_FALSE(shell.tap.isRunning());
    EXPECT_TRUE(shell.delegate->retryPending());
    EXPECT_EQ(shell.session.enableCalls, 0) << "nothing is switched without the user's answer";
}

TEST(ShellMenu, PermissionActionsAlwaysShowSomething) {
    Shell shell(false);
    shell.session.settingsToolKnown = false;
    const struct {
        int entry;
        QString alert;
    } cases[] = {
        {0, QStringLiteral("Couldn't open the accessibility settings")},
        {3, QStringLiteral("Couldn't clean up authorization entries")},
    };
    for (const auto& c : cases) {
        shell.actions().at(c.entry)->trigger();
        ASSERT_NE(shell.delegate->lastAlert(), nullptr);
        EXPECT_EQ(shell.delegate->lastAlert()->text(), c.alert);
        EXPECT_FALSE(shell.delegate->lastAlert()->informativeText().isEmpty());
    }
    EXPECT_EQ(shell.delegate->lastAlert()->informativeText(), *shell.permission.runCleanupFlow());
}

// The prompt says what is missing and switches the session's accessibility on only when asked to;
// when the switch is not what is missing, it says what is instead of offering it.
TEST(ShellMenu, PermissionPromptAsksBeforeSwitchingAnything) {
    const auto button = [](QWidget* prompt, const char* name) {
        return prompt->findChild<QPushButton*>(QString::fromLatin1(name));
    };
    Shell shell(false);
    QWidget* prompt = shell.delegate->permissionPrompt();
    ASSERT_NE(prompt, nullptr);
    EXPECT_TRUE(prompt->isVisible());
    EXPECT_TRUE(prompt->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(prompt->testAttribute(Qt::WA_ShowWithoutActivating));
    for (const char* name : {"permissionSwitchOnButton", "permissionNotNowButton"}) {
        EXPECT_FALSE(button(prompt, name)->isHidden()) << name;
        EXPECT_EQ(button(prompt, name)->focusPolicy(), Qt::NoFocus) << name;
    }
    button(prompt, "permissionNotNowButton")->click();
    EXPECT_FALSE(prompt->isVisible());
    EXPECT_EQ(shell.session.enableCalls, 0);

    shell.actions().at(2)->trigger(); // Re-open Permission Prompt
    EXPECT_TRUE(prompt->isVisible());
    shell.session.enableWorks = true;
    button(prompt, "permissionSwitchOnButton")->click();
    EXPECT_EQ(shell.session.enableCalls, 1);
    EXPECT_FALSE(prompt->isVisible());
    EXPECT_TRUE(shell.tap.isRunning());

    auto facts = shell.session.current;
    facts.enabled = facts.xinput2 = false;
    shell.session.set(facts);
    shell.actions().at(2)->trigger();
    EXPECT_TRUE(prompt->isVisible());
    EXPECT_TRUE(button(prompt, "permissionSwitchOnButton")->isHidden());
    EXPECT_FALSE(button(prompt, "permissionOkButton")->isHidden());
    EXPECT_TRUE(prompt->findChild<QLabel*>(QStringLiteral("permissionPromptText"))->text().contains(QLatin1String("XInput2")));
}

TEST(ShellMenu, EachRefusedShortcutIsToldOnceAcrossStarts) {
    platform::fake::MemoryPreferences prefs;
    const trigger::HotkeyError altSpace{QStringLiteral("global"), 49, 0x80000, trigger::HotkeyError::Reason::Taken, {}};
    const trigger::HotkeyError ruleKey{QStringLiteral("org.gnome.TextEditor"), 40, 0xC0000,
                                       trigger::HotkeyError::Reason::Taken, {}};
    const QString told = QStringLiteral("Alt+Space is used by another program. Choose another shortcut in "
                                        "Settings → Trigger.");
    for (int start = 0; start < 2; ++start) {
        Shell shell(true, true, &prefs);
        shell.delegate->showHotkeyErrors({altSpace});
        EXPECT_EQ(shell.delegate->lastHotkeyMessage(), start == 0 ? told : QString()) << "start " << start;
    }
    Shell shell;
    shell.delegate->showHotkeyErrors({altSpace, ruleKey});
    EXPECT_EQ(shell.delegate->lastHotkeyMessage().count(QLatin1Char('\n')), 1);
    shell.delegate->showHotkeyErrors({ruleKey});
    shell.delegate->showHotkeyErrors({altSpace}); // refused again after working meanwhile: told again
    EXPECT_EQ(shell.delegate->lastHotkeyMessage(), told);
}

TEST(ShellMenu, WithoutATrayHostANoticeSaysSoWithoutTakingTheKeyboard) {
    for (const bool host : {true, false}) {
        Shell shell(true, host);
        QWidget* notice = shell.delegate->noTrayNotice();
        ASSERT_EQ(notice != nullptr, !host);
        if (!notice)
            continue;
        EXPECT_TRUE(notice->windowFlags() & Qt::WindowDoesNotAcceptFocus);
        EXPECT_TRUE(notice->testAttribute(Qt::WA_ShowWithoutActivating));
        auto* ok = notice->findChild<QPushButton*>(QStringLiteral("noTrayNoticeOk"));
        ASSERT_NE(ok, nullptr);
        EXPECT_FALSE(ok->isDefault() || ok->autoDefault()); // Space or Return typed elsewhere never lands here
        EXPECT_EQ(ok->focusPolicy(), Qt::NoFocus);
        EXPECT_TRUE(shell.delegate->statusItem()->isVisible()); // kept for a host that comes later
    }
}

TEST(ShellMenu, WithoutATrayTroubleSavingShowsAQuietNoticeThatGoesOnceSavingWorks) {
    app::SaveNotice notice([]() -> QSystemTrayIcon* { return nullptr; });
    notice.tell(QStringLiteral("Settings cannot be saved"), QStringLiteral("Corvane cannot write to /cfg: Disk full."));
    QWidget* window = notice.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("saveNoticeText"))->text(),
              QStringLiteral("Corvane cannot write to /cfg: Disk full."));
    notice.withdraw();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(notice.window(), nullptr);
}

TEST(ShellMenu, IconFollowsTheActivityAndFallsBackToIdle) {
    Shell shell;
    const struct {
        trigger::AppActivity activity;
        QString symbol;
        qint64 backToIdleMs; // 0: stays
    } cases[] = {
        {trigger::AppActivity::Triggered, QStringLiteral("idle"), 0},
        {trigger::AppActivity::Optimizing, QStringLiteral("optimizing"), 0},
        {trigger::AppActivity::Done, QStringLiteral("done"), 2000},
        {trigger::AppActivity::Error, QStringLiteral("error"), 3000},
    };
    for (const auto& c : cases) {
        shell.state.setActivity(c.activity);
        EXPECT_EQ(shell.delegate->iconSymbol(), c.symbol);
        EXPECT_FALSE(shell.delegate->statusItem()->icon().isNull());
        if (!c.backToIdleMs)
            continue;
        shell.clock.advance(c.backToIdleMs - 1);
        EXPECT_EQ(shell.delegate->iconSymbol(), c.symbol);
        shell.clock.advance(1);
        EXPECT_EQ(shell.delegate->iconSymbol(), QStringLiteral("idle"));
    }
}

// Pictures of the menu, the windows and the application icon at 10, 11 and 14 pt, in a light palette
// and the dark ones people use, saved as test artifacts for a person to look at
// (build/artifacts/shell). Every text of the windows reads at 4.5:1, measured on the pictures (the
// activity log's status badges and rows included), and has its room at the desktop's font, at a
// size in proportion to it; the icon stands out from a light and a dark menu alike.
TEST(ShellScreenshots, MenuAndWindowsLightAndDark) {
    const QPalette original = QApplication::palette();
    const QFont originalFont = QApplication::font();
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QList<testsupport::NamedPalette> themes{{"light", fusion->standardPalette()}};
    themes += testsupport::darkPalettes();
    for (const int points : {10, 11, 14}) {
        for (const testsupport::NamedPalette& theme : std::as_const(themes)) {
            const QPalette& palette = theme.palette;
            QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), points));
            QApplication::setPalette(palette);
            const QString look = QStringLiteral("%1pt-%2").arg(points).arg(QString::fromLatin1(theme.name));
            const QString suffix = QLatin1Char('-') + look + QStringLiteral(".png");
            const QString dir = QStringLiteral(CORVANE_SHELL_ARTIFACTS);
            QDir().mkpath(dir);

            const auto picture = [&](QWidget* window, const QString& name, QList<testsupport::ShownText> painted = {}) {
                const QImage shot = window->grab().toImage();
                EXPECT_TRUE(shot.save(dir + QLatin1Char('/') + name + suffix));
                testsupport::expectReadable(shot, testsupport::shownTexts(window, window) + painted,
                                            look + QLatin1Char(' ') + name);
            };

            Shell shell(false);
            shell.delegate->menu()->adjustSize();
            EXPECT_TRUE(shell.delegate->menu()->grab().save(dir + QStringLiteral("/menu-not-granted") + suffix));
            picture(shell.delegate->permissionPrompt(), QStringLiteral("permission-prompt"));

            // The launcher's icon on the menu's background: its tile, at the top and the bottom of its
            // shading, stands out at 3:1 in every palette, what a graphic needs, and so does its glyph
            // on the tile.
            const QColor menuBackground = palette.color(QPalette::Window);
            QImage icon(64, 64, QImage::Format_ARGB32_Premultiplied);
            icon.fill(menuBackground);
            {
                QPainter painter(&icon);
                app::StatusIcons::applicationIcon().paint(&painter, QRect(8, 8, 48, 48));
            }
            EXPECT_TRUE(icon.save(dir + QStringLiteral("/application-icon") + suffix));
            for (const QRect& area : {QRect(28, 10, 8, 5), QRect(12, 40, 8, 12)}) {
                const double tile = testsupport::contrast(testsupport::dominantColour(icon, area), menuBackground.rgb());
                std::printf("icon %-18s tile at y %d on menu %.2f:1\n", qPrintable(look), area.y(), tile);
                EXPECT_GE(tile, 3.0) << qPrintable(look) << ": the icon disappears in the menu";
            }
            EXPECT_GE(testsupport::measuredContrast(icon, QRect(12, 12, 40, 40)), 3.0) << "the glyph is lost on the tile";

            platform::fake::MemoryPreferences prefs;
            stores::OptimizationLogger logger(prefs, shell.clock);
            using S = stores::OptimizationLog::LogStatus;
            logger.log(S::Cancelled, QStringLiteral("Draft the weekly update for the team"), {}, {},
                       QStringLiteral("Polish"));
            logger.log(S::Replaced,
                       QStringLiteral("teh quick brown fox jumps over the lazy dog, and then it jumps back over it agian "
                                      "because the dog did not wake up"),
                       QStringLiteral("The quick brown fox."), {},
                       QStringLiteral("Fix grammar"), QStringLiteral("Text Editor"));
            logger.log(S::Failed, QStringLiteral("<img src=x> hello there"), {},
                       QStringLiteral("The model server answered HTTP 503 (Service Unavailable)."),
                       QStringLiteral("Polish"), QStringLiteral("Firefox"));
            logger.log(S::Completed, QStringLiteral("can u send me the report by friday pls, need it for the meeting"),
                       QStringLiteral("Could you send me the report by Friday? I need it for the meeting."), {},
                       QStringLiteral("Polish"), QString(300, QLatin1Char('c')));
            logger.log(S::Optimizing, QStringLiteral("meeting notes"), {}, {},
                       QStringLiteral("Summarize for the weekly engineering newsletter, keeping every figure and every link"),
                       QStringLiteral("Mail"));
            logger.log(S::Triggered, QStringLiteral("hi"), {}, {}, {}, QStringLiteral("Terminal"));
            app::LogViewerController log(logger);
            log.show();
            QList<testsupport::ShownText> rows;
            for (const auto& row : log.window()->visibleRowTexts())
                rows.append({QStringLiteral("row"), row.text, row.area});
            picture(log.window(), QStringLiteral("activity-log"), rows);
            // Each row's texts stay inside its own place: none runs into the next row's.
            for (qsizetype i = 0; i < rows.size(); ++i)
                for (qsizetype j = i + 1; j < rows.size(); ++j)
                    EXPECT_FALSE(rows[i].area.intersects(rows[j].area))
                        << qPrintable(look) << ": \"" << qPrintable(rows[i].text) << "\" over \"" << qPrintable(rows[j].text) << '"';
            testsupport::expectLaidOutWhole(log.window(), look + QStringLiteral(" activity-log"));
            // A row's text at its proportion to the desktop's font: a preview's line, 12 of 13.
            const int body = QFontInfo(QApplication::font()).pixelSize();
            QFont preview = QApplication::font();
            preview.setPixelSize(qRound(body * 12 / 13.0));
            for (const auto& row : std::as_const(rows))
                EXPECT_TRUE(row.text != QLatin1String("hi") || row.area.height() >= QFontMetrics(preview).height()) << qPrintable(look);

            app::FeedbackWindowController feedback(
                [](QString, QString, QString, bool) -> QCoro::Task<app::FeedbackWindowController::Result> {
                    co_return app::FeedbackWindowController::Result{false, QStringLiteral("HTTP 503")};
                },
                shell.clock);
            feedback.show();
            feedback.window()->findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("The panel opened on the wrong screen."));
            feedback.sendClicked();
            picture(feedback.window(), QStringLiteral("feedback"));
            testsupport::expectPlaceholdersWhole(feedback.window(), look + QStringLiteral(" feedback"));
            testsupport::expectLaidOutWhole(feedback.window(), look + QStringLiteral(" feedback"));
            EXPECT_EQ(QFontInfo(feedback.window()->findChild<QPlainTextEdit*>()->font()).pixelSize(), body);
            for (QLabel* label : feedback.window()->findChildren<QLabel*>()) // the smallest step is 11 of 13
                EXPECT_GE(QFontInfo(label->font()).pixelSize(), qRound(body * 11 / 13.0)) << qPrintable(label->text());
        }
    }
    QApplication::setPalette(original);
    QApplication::setFont(originalFont);
}
