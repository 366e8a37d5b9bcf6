#pragma once
// The Recipes tab: the default recipe, the list of built-in and user recipes, and the editor of
// the chosen one (a built-in's edit is an override that "Reset to Default" removes).
#include "settings/SettingsDependencies.h"
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace corvane::settings {

class RecipesTab final : public QWidget {
    Q_OBJECT
public:
    explicit RecipesTab(SettingsDependencies& deps, QWidget* parent = nullptr);
    void reload();

private:
    QString currentId() const;
    bool currentIsBuiltIn() const;
    void showRecipe();
    void focusList();
    void select(const QString& id);

    SettingsDependencies& m_deps;
    QComboBox* m_default;
    QListWidget* m_list;
    QLineEdit* m_name;
    QPlainTextEdit* m_prompt;
    QLabel* m_kind;
    QPushButton* m_reset;
    QPushButton* m_add;
    QPushButton* m_delete;
    bool m_loading = false;
};

} // namespace corvane::settings
