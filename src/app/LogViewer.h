#pragma once
// The activity-log window: the records of the activity log, newest first, with a status filter,
// the record count and "Clear Log". Built on the first show(), then only hidden and shown again.
// Record texts are drawn as plain text and cut to what a row shows.
#include "stores/OptimizationLog.h"
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <optional>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QListView;
class QPushButton;
class QStackedWidget;

namespace corvane::stores {
class OptimizationLogger;
}

namespace corvane::app {

class LogEntryModel;

// How many space taps start a run, as the settings have it now.
using TapCountFn = std::function<qint64()>;

class LogViewerView final : public QWidget {
    Q_OBJECT
public:
    explicit LogViewerView(stores::OptimizationLogger& logger, TapCountFn tapCount = {}, QWidget* parent = nullptr);
    ~LogViewerView() override;

    // The segments of the filter, in order; nothing stands for "All".
    static QList<std::optional<stores::OptimizationLog::LogStatus>> filterSegments();
    void setFilter(std::optional<stores::OptimizationLog::LogStatus> status);
    std::optional<stores::OptimizationLog::LogStatus> filter() const { return m_filterStatus; }
    QList<stores::OptimizationLog> filteredEntries() const;

    QListView* list() const { return m_list; }
    bool showsEmptyState() const;
    QString countText() const;
    QString emptyHint() const;

    // The texts a row shows, line by line, as it draws them (for tests and accessibility).
    static QStringList rowLines(const stores::OptimizationLog& entry, int width);
    // The texts of the rows in sight and where each is drawn, in this view's coordinates.
    struct ShownText {
        QString text;
        QRect area;
    };
    QList<ShownText> visibleRowTexts() const;
    static QColor statusColor(stores::OptimizationLog::LogStatus status, const QPalette& palette);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Escape and Ctrl+W close the window, as they close the settings and the feedback window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void reload();
    void applyColours();
    // The empty state's hint names the tap count the settings hold.
    void showTapCount();

    stores::OptimizationLogger& m_logger;
    TapCountFn m_tapCount;
    std::optional<stores::OptimizationLog::LogStatus> m_filterStatus;
    LogEntryModel* m_model = nullptr;
    QListView* m_list = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLabel* m_count = nullptr;
    QButtonGroup* m_segments = nullptr;
    QWidget* m_segmentsBox = nullptr;
    QLabel* m_emptyIcon = nullptr;
    QLabel* m_hint = nullptr;
    QList<QLabel*> m_quietLabels; // the count and the empty state's words, in the secondary colour
};

class LogViewerController final : public QObject {
    Q_OBJECT
public:
    explicit LogViewerController(stores::OptimizationLogger& logger, TapCountFn tapCount = {},
                                 QObject* parent = nullptr);
    ~LogViewerController() override;
    static LogViewerController& shared();
    static void setShared(LogViewerController* controller);

    // Builds the window on the first call; raises and activates it on every call.
    void show();
    // The window; null until the first show().
    LogViewerView* window() const { return m_window; }

private:
    stores::OptimizationLogger& m_logger;
    TapCountFn m_tapCount;
    QPointer<LogViewerView> m_window;
};

} // namespace corvane::app
