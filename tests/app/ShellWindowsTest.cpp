// The activity-log and feedback windows offscreen: filter, count, clearing, live rows, hostile
// record texts, and the feedback form against a scripted submission on the virtual clock.
#include "app/FeedbackWindow.h"
#include "app/LogViewer.h"
#include "app/StatusIcons.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "stores/OptimizationLogger.h"
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

using namespace corvane;
using Status = stores::OptimizationLog::LogStatus;

namespace {

struct LogFixture {
    platform::fake::MemoryPreferences prefs;
    platform::fake::FakeClock clock;
    stores::OptimizationLogger logger{prefs, clock};
    qint64 taps = 3; // the tap count as the settings have it
    app::LogViewerController controller{logger, [this] { return taps; }};
    app::LogViewerView* view() {
        if (!controller.window())
            controller.show();
        return controller.window();
    }
};

// Escape and Ctrl+W close the window show() brings up, as they close the settings window.
void expectClosedByKeys(const std::function<QWidget*()>& show) {
    for (const QKeySequence& close : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        QWidget* window = show();
        QApplication::setActiveWindow(window);
        QTest::keySequence(window, close);
        EXPECT_FALSE(window->isVisible()) << close.toString().toStdString();
    }
}

} // namespace

TEST(ActivityLogWindow, FilterCountClearAndLiveRows) {
    LogFixture f;
    EXPECT_EQ(f.controller.window(), nullptr); // built on first use only
    EXPECT_TRUE(f.view()->showsEmptyState());
    EXPECT_EQ(f.view()->countText(), QStringLiteral("0 entries"));
    EXPECT_EQ(f.view()->emptyHint(), QStringLiteral("Once your API key is set up, tap space 3 times in any field to trigger"));

    // A row arrives while the window is open.
    f.logger.log(Status::Triggered, QStringLiteral("a"));
    EXPECT_FALSE(f.view()->showsEmptyState());
    EXPECT_EQ(f.view()->list()->model()->rowCount(), 1);
    EXPECT_EQ(f.view()->countText(), QStringLiteral("1 entries"));
    f.logger.log(Status::Completed, QStringLiteral("b"), QStringLiteral("B"));
    f.logger.log(Status::Failed, QStringLiteral("c"), {}, QStringLiteral("timeout"));
    f.logger.log(Status::Completed, QStringLiteral("d"), QStringLiteral("D"));

    const struct {
        std::optional<Status> filter;
        QStringList originals; // newest first
        bool toggled;          // by a screen reader's "toggle" of the segment, which is no click
    } cases[] = {
        {std::nullopt, {QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")}, false},
        {Status::Completed, {QStringLiteral("d"), QStringLiteral("b")}, true},
        {Status::Failed, {QStringLiteral("c")}, false},
        {Status::Cancelled, {}, true},
    };
    for (const auto& c : cases) {
        if (c.toggled)
            QAccessible::queryAccessibleInterface(f.view()->findChild<QPushButton*>(QStringLiteral("filter%1").arg(
                app::LogViewerView::filterSegments().indexOf(c.filter))))->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
        else
            f.view()->setFilter(c.filter);
        QStringList originals;
        for (const auto& e : f.view()->filteredEntries())
            originals << e.originalPreview;
        EXPECT_EQ(originals, c.originals);
        EXPECT_EQ(f.view()->showsEmptyState(), c.originals.isEmpty());
        EXPECT_EQ(f.view()->countText(), QStringLiteral("4 entries")); // all records, whatever the filter
    }
    EXPECT_EQ(app::LogViewerView::filterSegments().size(), 6);

    // The filter survives closing and reopening; the hint says the tap count set meanwhile; "Clear
    // Log" empties the log at once.
    f.view()->close();
    f.taps = 5;
    f.controller.show();
    EXPECT_EQ(f.view()->filter(), Status::Cancelled);
    EXPECT_TRUE(f.view()->emptyHint().contains(QLatin1String("tap space 5 times")));
    f.view()->showMinimized(); // "Activity Log" brings a minimised window back
    f.controller.show();
    EXPECT_FALSE(f.view()->isMinimized());
    expectClosedByKeys([&] { return f.controller.show(), f.view(); });
    f.controller.show();
    f.view()->findChild<QPushButton*>(QStringLiteral("clearLog"))->click();
    EXPECT_TRUE(f.logger.entries().isEmpty());
    EXPECT_TRUE(f.view()->showsEmptyState());
    EXPECT_EQ(f.view()->countText(), QStringLiteral("0 entries"));
}

TEST(ActivityLogWindow, RowsShowStoredTextPlainAndBounded) {
    const QString huge = QString(100000, QLatin1Char('x'));
    const QString markup = QStringLiteral("<img src=x><b>bold</b>");
    stores::OptimizationLog entry;
    entry.status = Status::Failed;
    entry.timestamp = QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9)).toUTC();
    entry.originalPreview = markup + QStringLiteral("\nsecond line");
    entry.optimizedPreview = QString();
    entry.detail = huge;
    entry.context = huge;
    const QString recipe = QStringLiteral("Rewrite politely ").repeated(12).trimmed();
    entry.recipeName = recipe;

    QElapsedTimer timer;
    timer.start();
    const QStringList lines = app::LogViewerView::rowLines(entry, 560);
    EXPECT_EQ(lines.value(0), QStringLiteral("Failed"));
    EXPECT_TRUE(lines.contains(QStringLiteral("14:05:09")));
    EXPECT_TRUE(lines.contains(markup)) << lines.join(QLatin1Char('|')).toStdString(); // shown as typed
    EXPECT_TRUE(lines.contains(QStringLiteral("second line")));
    EXPECT_TRUE(lines.contains(QStringLiteral("→ "))); // present but empty
    EXPECT_TRUE(lines.join(QString()).contains(recipe)); // a long recipe name wraps, never cut
    qsizetype shown = 0;
    for (const QString& line : lines)
        shown += line.size();
    EXPECT_LT(shown, 2000); // the 100 000-character detail and context are cut to what a row shows
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("…"))) << lines.last().toStdString(); // and say so
    // A preview the log cut at its length says so too, once.
    entry.originalPreview = QStringLiteral("x").repeated(stores::OptimizationLog::previewLength);
    entry.detail.reset();
    const QStringList cut = app::LogViewerView::rowLines(entry, 1200);
    EXPECT_TRUE(cut.contains(entry.originalPreview + QStringLiteral("…"))) << cut.join(QLatin1Char('|')).toStdString();
    std::printf("[ figure ] row layout with two 100000-char fields: %lld ms\n", qint64(timer.elapsed()));
}

namespace {

struct FeedbackFixture {
    platform::fake::FakeClock clock;
    struct Call {
        QString kind, message, contact;
        bool includeDiag;
    };
    QList<Call> calls;
    app::FeedbackWindowController::Result answer{true, QStringLiteral("Feedback sent — thank you!")};
    app::FeedbackWindowController controller{
        [this](QString kind, QString message, QString contact,
               bool includeDiag) -> QCoro::Task<app::FeedbackWindowController::Result> {
            calls << Call{kind, message, contact, includeDiag};
            co_await clock.sleep(500); // the server's answer takes a while
            co_return answer;
        },
        clock};

    FeedbackFixture() { controller.show(); }
    template <typename T> T* child(const char* name) {
        return controller.window()->findChild<T*>(QString::fromLatin1(name));
    }
    QString status() { return child<QLabel>("feedbackStatus")->text(); }
    void type(const QString& text) { child<QPlainTextEdit>("feedbackText")->setPlainText(text); }
    void send() { child<QPushButton>("feedbackSend")->click(); }
};

} // namespace

TEST(FeedbackWindow, EachAnswerIsShownAndActedOn) {
    const struct {
        app::FeedbackWindowController::Result answer;
        QString shown;
        bool keepsText;
        bool hides;
    } cases[] = {
        {{true, QStringLiteral("Feedback sent — thank you!")}, QStringLiteral("Feedback sent — thank you!"), false, true},
        {{false, QStringLiteral("HTTP 503")}, QStringLiteral("HTTP 503"), true, false},
        {{false, QStringLiteral("Couldn't reach the feedback server. Check your network and try again")},
         QStringLiteral("Couldn't reach the feedback server. Check your network and try again"), true, false},
        {{false, QStringLiteral("<img src=x>") + QString(100000, QLatin1Char('y'))}, {}, true, false},
    };
    for (const auto& c : cases) {
        FeedbackFixture f;
        f.answer = c.answer;
        // Send stays where it is whatever the status line says, through the whole exchange.
        const auto sendAt = [&] {
            QApplication::processEvents();
            return f.child<QPushButton>("feedbackSend")->mapTo(f.controller.window(), QPoint(0, 0));
        };
        const QPoint sendBefore = sendAt();
        f.child<QLineEdit>("feedbackContact")->setText(QStringLiteral(" me@example.org "));
        f.child<QCheckBox>("feedbackAttachDiag")->setChecked(false);
        f.type(QStringLiteral("\n  it broke  \n"));
        f.send();
        f.send(); // ignored while in flight
        EXPECT_EQ(f.status(), QStringLiteral("Sending…"));
        EXPECT_FALSE(f.child<QPushButton>("feedbackSend")->isEnabled());
        EXPECT_EQ(sendAt(), sendBefore);
        f.clock.advance(500);
        EXPECT_EQ(sendAt(), sendBefore) << c.shown.toStdString();
        ASSERT_EQ(f.calls.size(), 1);
        EXPECT_EQ(f.calls[0].kind, QStringLiteral("feedback"));
        EXPECT_EQ(f.calls[0].message, QStringLiteral("\n  it broke  \n")); // untrimmed: the service trims
        EXPECT_EQ(f.calls[0].contact, QStringLiteral(" me@example.org "));
        EXPECT_FALSE(f.calls[0].includeDiag);
        if (c.shown.isEmpty()) {
            EXPECT_TRUE(f.status().startsWith(QStringLiteral("<img src=x>yyy")));
            EXPECT_LE(f.status().size(), app::FeedbackWindowController::kStatusChars + 1);
            EXPECT_EQ(f.child<QLabel>("feedbackStatus")->textFormat(), Qt::PlainText);
        } else {
            EXPECT_EQ(f.status(), c.shown);
        }
        EXPECT_TRUE(f.child<QPushButton>("feedbackSend")->isEnabled());
        EXPECT_EQ(f.child<QPlainTextEdit>("feedbackText")->toPlainText().isEmpty(), !c.keepsText);
        f.clock.advance(1200);
        EXPECT_EQ(f.controller.window()->isVisible(), !c.hides);
    }
}

TEST(FeedbackWindow, EmptyTextAndReopeningDuringASend) {
    FeedbackFixture f;
    f.type(QStringLiteral(" \n\t "));
    f.send();
    EXPECT_EQ(f.status(), QStringLiteral("Please write your feedback first"));
    EXPECT_TRUE(f.calls.isEmpty());

    f.answer = {false, QStringLiteral("HTTP 500")};
    f.type(QStringLiteral("again"));
    f.send();
    f.controller.window()->close();
    f.controller.show(); // reopened during the send: still sending, Send stays off
    EXPECT_EQ(f.status(), QStringLiteral("Sending…"));
    f.send();
    f.controller.window()->close();
    f.clock.advance(500); // the answer comes while the window is hidden ...
    f.controller.show();  // ... and is shown when it opens again
    EXPECT_EQ(f.status(), QStringLiteral("HTTP 500"));
    EXPECT_EQ(f.calls.size(), 1);
    f.controller.window()->showMinimized();
    f.controller.show(); // seen once: the next opening starts clean, and not minimised
    EXPECT_EQ(f.status(), QString());
    EXPECT_FALSE(f.controller.window()->isMinimized());
    EXPECT_TRUE(f.child<QCheckBox>("feedbackAttachDiag")->isChecked());
    expectClosedByKeys([&] { return f.controller.show(), f.controller.window(); });
}

// The tray icon is drawn at whatever size is asked for (HiDPI trays ask for odd ones), in its
// colour, and only where the symbol has ink; an unknown symbol gives no icon rather than a blank one.
TEST(StatusIcon, DrawnAtTheAskedSizeInItsColour) {
    const QColor red(200, 30, 40);
    const QIcon icon = app::StatusIcons::icon(QStringLiteral("idle"), red);
    ASSERT_FALSE(icon.isNull());
    for (const int px : {16, 22, 44, 64, 96}) {
        const QImage image = icon.pixmap(QSize(px, px)).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(px, px)) << px;
        int inked = 0;
        for (int y = 0; y < px; ++y)
            for (int x = 0; x < px; ++x)
                if (const QColor c = image.pixelColor(x, y); c.alpha() == 255) {
                    ++inked;
                    EXPECT_EQ(c.rgb(), red.rgb()) << px << " at " << x << "," << y;
                }
        EXPECT_GT(inked, 0) << px;
        EXPECT_LT(inked, px * px) << px;
    }
    EXPECT_TRUE(app::StatusIcons::icon(QStringLiteral("no-such-symbol"), red).isNull());
}
