#pragma once
// The App Rules tab: per-app recipes and hotkeys. A rule is added for a typed app id (with
// suggestions from the installed apps) or by capturing the app in front after a short countdown.
#include "settings/SettingsDependencies.h"
#include "stores/AppRecipeRule.h"
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace corvane::settings {

class HotkeyRecorder;

class AppRulesTab final : public QWidget {
    Q_OBJECT
public:
    static constexpr int captureSeconds = 3;

    explicit AppRulesTab(SettingsDependencies& deps, QWidget* parent = nullptr);
    void reload();
    // Stops a running countdown (the window closed).
    void stopCapture();

private:
    QString currentId() const;
    void showRule();
    void select(const QString& bundleID);
    void addRule(const QString& bundleID, const QString& appName);
    void countdown(int remaining, quint64 ticket);
    void showHotkeyError();
    QString ruleLabel(const stores::AppRecipeRule& rule) const;

    SettingsDependencies& m_deps;
    QLineEdit* m_appId;
    QPushButton* m_add;
    QPushButton* m_capture;
    QLabel* m_addStatus;
    QListWidget* m_list;
    QComboBox* m_recipe;
    HotkeyRecorder* m_recorder;
    QPushButton* m_clearHotkey;
    QPushButton* m_remove;
    QLabel* m_hotkeyError;
    bool m_loading = false;
    quint64 m_captureTicket = 0;
};

} // namespace corvane::settings
