#include "settings/RecipesTab.h"
#include "panel/CVDesign.h"
#include "settings/SettingsForm.h"
#include "stores/RecipeStore.h"
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane::settings {

using panel::CVDesign;
using stores::PromptRecipe;

namespace {

// A name field that takes the keyboard without selecting its text: reached with Tab or Shift+Tab
// from the prompt, a selected name would be replaced by the next key press.
class NameField final : public QLineEdit {
protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        deselect();
    }
};

} // namespace

RecipesTab::RecipesTab(SettingsDependencies& deps, QWidget* parent) : QWidget(parent), m_deps(deps) {
    const Page page = makePage(this);

    const Card chooser = addCard(page.column, QString());
    m_default = new QComboBox;
    m_default->setObjectName(QStringLiteral("defaultRecipePicker"));
    chooser.form->addRow(tr("Default recipe"), m_default);
    auto* hint = makeNote(QStringLiteral("defaultRecipeHint"));
    setNote(hint, tr("Used wherever no app rule picks another recipe."), false);
    chooser.form->addRow(static_cast<QWidget*>(nullptr), hint);

    const Card editor = addCard(page.column, QString());
    auto* split = new QHBoxLayout;
    split->setSpacing(CVDesign::space3);
    auto* left = new QVBoxLayout;
    left->setSpacing(CVDesign::space2);
    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("recipeList"));
    m_list->setAccessibleName(tr("Recipes"));
    m_list->setMinimumWidth(170);
    m_list->setSpacing(2);
    m_list->setMaximumWidth(210);
    left->addWidget(m_list, 1);
    auto* listButtons = new QHBoxLayout;
    m_add = new QPushButton(tr("Add"));
    m_add->setObjectName(QStringLiteral("addRecipeButton"));
    m_delete = new QPushButton(tr("Delete"));
    m_delete->setObjectName(QStringLiteral("deleteRecipeButton"));
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_delete);
    left->addLayout(listButtons);
    split->addLayout(left);

    auto* right = new QVBoxLayout;
    right->setSpacing(CVDesign::space2);
    m_name = new NameField;
    m_name->setObjectName(QStringLiteral("recipeNameField"));
    m_name->setAccessibleName(tr("Recipe name"));
    right->addWidget(m_name);
    m_kind = makeNote(QStringLiteral("recipeKind"));
    right->addWidget(m_kind);
    auto* promptTitle = new QLabel(tr("System prompt"));
    CVDesign::cvSectionLabel(promptTitle);
    right->addWidget(promptTitle);
    m_prompt = new QPlainTextEdit;
    m_prompt->setObjectName(QStringLiteral("promptEditor"));
    m_prompt->setMinimumHeight(220);
    m_prompt->setTabChangesFocus(true); // a tab in a prompt is never wanted; Tab moves on
    promptTitle->setBuddy(m_prompt);
    right->addWidget(m_prompt, 1);
    m_reset = new QPushButton(tr("Reset to Default"));
    m_reset->setObjectName(QStringLiteral("resetRecipeButton"));
    CVDesign::cvPlainButton(m_reset, CVDesign::Tone::Accent);
    // Its room is kept while it is hidden: appearing, it moves nothing (Add and Delete included).
    QSizePolicy resetPolicy = m_reset->sizePolicy();
    resetPolicy.setRetainSizeWhenHidden(true);
    m_reset->setSizePolicy(resetPolicy);
    right->addWidget(m_reset, 0, Qt::AlignLeft);
    split->addLayout(right, 1);
    editor.form->addRow(split);
    page.column->addStretch(1);

    connect(m_default, &QComboBox::activated, this, [this](int index) {
        m_deps.recipes.select(m_default->itemData(index).toString());
    });
    connect(m_list, &QListWidget::currentRowChanged, this, [this] {
        if (!m_loading)
            showRecipe();
    });
    connect(m_prompt, &QPlainTextEdit::textChanged, this, [this] {
        if (m_loading || currentId().isEmpty())
            return;
        const auto recipe = m_deps.recipes.effective(currentId());
        if (recipe && recipe->systemPrompt != m_prompt->toPlainText())
            m_deps.recipes.updateSystemPrompt(currentId(), m_prompt->toPlainText());
    });
    connect(m_name, &QLineEdit::editingFinished, this, [this] {
        const QString name = m_name->text().trimmed();
        const auto recipe = m_deps.recipes.effective(currentId());
        if (m_loading || !recipe || currentIsBuiltIn() || name == recipe->name)
            return;
        if (name.isEmpty()) {
            m_name->setText(recipe->name); // a recipe keeps a name
            return;
        }
        m_deps.recipes.renameUserRecipe(currentId(), name);
    });
    connect(m_reset, &QPushButton::clicked, this, [this] { m_deps.recipes.resetBuiltInOverride(currentId()); });
    connect(m_add, &QPushButton::clicked, this, [this] {
        const PromptRecipe added = m_deps.recipes.addUserRecipe(tr("New recipe"), QString());
        select(added.id);
        focusList();
    });
    connect(m_delete, &QPushButton::clicked, this, [this] {
        if (!currentIsBuiltIn() && !currentId().isEmpty())
            m_deps.recipes.deleteUserRecipe(currentId());
        focusList();
    });
    connect(&m_deps.recipes, &stores::RecipeStore::changed, this, [this] { reload(); });

    reload();
}

// After the list changed, the keyboard stays on the list: a disabled Delete would otherwise pass the
// focus on to the name field, where the next key press would type over the recipe now shown.
void RecipesTab::focusList() {
    m_list->setFocus(Qt::OtherFocusReason);
    m_name->deselect();
}

QString RecipesTab::currentId() const {
    const QListWidgetItem* item = m_list->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

bool RecipesTab::currentIsBuiltIn() const {
    const QString id = currentId();
    for (const PromptRecipe& r : m_deps.recipes.builtIn())
        if (r.id == id)
            return true;
    return false;
}

void RecipesTab::reload() {
    const QString keep = currentId();
    m_loading = true;
    const QList<PromptRecipe> all = m_deps.recipes.all();
    m_default->clear();
    m_list->clear();
    const int builtIns = int(m_deps.recipes.builtIn().size());
    for (int i = 0; i < all.size(); ++i) {
        m_default->addItem(all[i].name, all[i].id);
        auto* item = new QListWidgetItem(all[i].name, m_list);
        item->setData(Qt::UserRole, all[i].id);
        if (i >= builtIns)
            item->setToolTip(tr("Your recipe"));
    }
    m_default->setCurrentIndex(qMax(0, m_default->findData(m_deps.recipes.selectedRecipe().id)));
    m_loading = false;
    select(keep.isEmpty() || !m_deps.recipes.effective(keep) ? m_deps.recipes.selectedRecipe().id : keep);
}

void RecipesTab::select(const QString& id) {
    for (int i = 0; i < m_list->count(); ++i) {
        if (m_list->item(i)->data(Qt::UserRole).toString() == id) {
            m_loading = true;
            m_list->setCurrentRow(i);
            m_loading = false;
            break;
        }
    }
    showRecipe();
}

void RecipesTab::showRecipe() {
    const auto recipe = m_deps.recipes.effective(currentId());
    m_loading = true;
    const bool builtIn = currentIsBuiltIn();
    const bool overridden = builtIn && m_deps.recipes.overrides().contains(currentId());
    m_name->setText(recipe ? recipe->name : QString());
    m_name->setReadOnly(builtIn);
    m_name->setEnabled(bool(recipe));
    if (!recipe || m_prompt->toPlainText() != recipe->systemPrompt)
        m_prompt->setPlainText(recipe ? recipe->systemPrompt : QString());
    m_prompt->setEnabled(bool(recipe));
    setNote(m_kind, !builtIn ? tr("Your recipe. Its name and prompt are yours to change.")
                    : overridden ? tr("Built-in recipe, with your edited prompt.")
                                 : tr("Built-in recipe. Editing its prompt keeps the original for a reset."),
            false);
    m_reset->setVisible(overridden);
    m_delete->setEnabled(recipe && !builtIn);
    m_loading = false;
}

} // namespace corvane::settings
