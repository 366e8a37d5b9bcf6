#pragma once
// The settings window: five tabs (API, Recipes, App Rules, Trigger, About) editing the stores
// directly; every change is written at once and read by its users at their next use.
#include "settings/SettingsDependencies.h"
#include <QWidget>

class QTabWidget;

namespace corvane::settings {

class AboutTab;
class ApiTab;
class AppRulesTab;
class RecipesTab;
class TriggerTab;

class SettingsView final : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(SettingsDependencies& deps, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    // Every tab reads its store again (done on each show() of a hidden window).
    void reload();
    // A show() of the open window: the About tab reads the permission and its switches again;
    // what is being typed in the other tabs stays.
    void refreshStatus();
    // Makes the window large enough for every tab at the current font, within the screen.
    void growToFit();
    // Puts the keyboard on the current tab's first control, selecting nothing in it.
    void focusFirstControl();

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTabWidget* m_tabs;
    ApiTab* m_api;
    RecipesTab* m_recipes;
    AppRulesTab* m_rules;
    TriggerTab* m_trigger;
    AboutTab* m_about;
};

} // namespace corvane::settings
