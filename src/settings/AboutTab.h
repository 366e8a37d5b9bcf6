#pragma once
// The About tab: version, the accessibility permission with its two buttons, privacy and
// feedback, and updates.
#include "settings/SettingsDependencies.h"
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane::settings {

class AboutTab final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* updateAutoCheckKey = "updateAutoCheck";
    static constexpr const char* updateAutoInstallKey = "updateAutoInstall";

    explicit AboutTab(SettingsDependencies& deps, QWidget* parent = nullptr);
    // Reads the switches and the permission again; safe while the window is open, since every
    // control here writes at once.
    void reload();

private:
    void showPermission();

    SettingsDependencies& m_deps;
    QLabel* m_permission;
    QLabel* m_permissionHelp;
    QCheckBox* m_consent;
    QCheckBox* m_autoCheck;
    QCheckBox* m_autoInstall;
};

} // namespace corvane::settings
