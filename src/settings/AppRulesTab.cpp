#include "settings/AppRulesTab.h"
#include "panel/CVDesign.h"
#include "platform/ActiveApp.h"
#include "platform/Clock.h"
#include "platform/InstalledApps.h"
#include "settings/HotkeyRecorder.h"
#include "settings/SettingsForm.h"
#include "stores/AppProfileStore.h"
#include "stores/RecipeStore.h"
#include "trigger/HotkeyCenter.h"
#include "trigger/HotkeyDescription.h"
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

namespace corvane::settings {

using panel::CVDesign;
using stores::AppRecipeRule;

AppRulesTab::AppRulesTab(SettingsDependencies& deps, QWidget* parent) : QWidget(parent), m_deps(deps) {
    const Page page = makePage(this);

    const Card add = addCard(page.column, tr("Add an app"));
    m_appId = new QLineEdit;
    m_appId->setObjectName(QStringLiteral("appIdField"));
    m_appId->setAccessibleName(tr("App id"));
    m_appId->setPlaceholderText(tr("App id, e.g. org.gnome.TextEditor"));
    if (m_deps.installedApps) {
        QStringList ids;
        for (const platform::InstalledApp& app : m_deps.installedApps->list())
            ids.append(app.appId);
        auto* completer = new QCompleter(new QStringListModel(ids, this), this);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        completer->setFilterMode(Qt::MatchContains);
        m_appId->setCompleter(completer);
    }
    m_add = new QPushButton(tr("Add"));
    m_add->setObjectName(QStringLiteral("addRuleButton"));
    m_capture = new QPushButton(tr("Capture App in Front"));
    m_capture->setObjectName(QStringLiteral("captureAppButton"));
    auto* addRow = new QHBoxLayout;
    addRow->setSpacing(CVDesign::space2);
    addRow->addWidget(m_appId, 1);
    addRow->addWidget(m_add);
    addRow->addWidget(m_capture);
    add.form->addRow(addRow);
    m_addStatus = makeNote(QStringLiteral("addRuleStatus"));
    setNote(m_addStatus, tr("Capture waits %1 seconds so you can bring the app to the front.").arg(captureSeconds),
            false);
    add.form->addRow(m_addStatus);

    const Card rules = addCard(page.column, tr("Rules"));
    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("ruleList"));
    m_list->setAccessibleName(tr("Rules"));
    m_list->setMinimumHeight(200);
    m_list->setSpacing(1);
    rules.form->addRow(m_list);
    m_recipe = new QComboBox;
    m_recipe->setObjectName(QStringLiteral("ruleRecipePicker"));
    rules.form->addRow(tr("Recipe"), m_recipe);
    m_recorder = new HotkeyRecorder(m_deps.hotkeys, m_deps.layout);
    m_recorder->setObjectName(QStringLiteral("ruleHotkeyRecorder"));
    m_clearHotkey = new QPushButton(tr("Clear"));
    m_clearHotkey->setObjectName(QStringLiteral("clearRuleHotkeyButton"));
    CVDesign::cvPlainButton(m_clearHotkey, CVDesign::Tone::Accent);
    auto* hotkeyRow = new QHBoxLayout;
    hotkeyRow->setSpacing(CVDesign::space2);
    hotkeyRow->addWidget(m_recorder);
    hotkeyRow->addWidget(m_clearHotkey);
    hotkeyRow->addStretch(1);
    rules.form->addRow(tr("Shortcut"), hotkeyRow);
    m_hotkeyError = makeNote(QStringLiteral("ruleHotkeyError"));
    rules.form->addRow(static_cast<QWidget*>(nullptr), m_hotkeyError);
    m_remove = new QPushButton(tr("Remove Rule"));
    m_remove->setObjectName(QStringLiteral("removeRuleButton"));
    rules.form->addRow(QString(), leftAligned({m_remove}));
    page.column->addStretch(1);

    connect(m_add, &QPushButton::clicked, this, [this] {
        const QString id = m_appId->text().trimmed();
        if (id.isEmpty()) {
            setNote(m_addStatus, tr("Type an app id first."), true);
            return;
        }
        QString name;
        if (m_deps.installedApps)
            for (const platform::InstalledApp& app : m_deps.installedApps->list())
                if (app.appId == id)
                    name = app.name;
        addRule(id, name);
        m_appId->clear();
    });
    connect(m_appId, &QLineEdit::returnPressed, m_add, &QPushButton::click);
    connect(m_capture, &QPushButton::clicked, this, [this] {
        m_capture->setEnabled(false);
        countdown(captureSeconds, ++m_captureTicket);
    });
    connect(m_list, &QListWidget::currentRowChanged, this, [this] {
        if (!m_loading)
            showRule();
    });
    connect(m_recipe, &QComboBox::activated, this, [this](int index) {
        // Changes the rule's recipe only; an empty name leaves the rule's name as it is.
        const QString id = currentId();
        const QString recipeID = m_recipe->itemData(index).toString();
        if (m_deps.appRules.recipeID(id))
            m_deps.appRules.setMapping(id, QString(), recipeID);
    });
    connect(m_recorder, &HotkeyRecorder::recorded, this, [this](Shortcut shortcut) {
        setNote(m_hotkeyError, QString(), false);
        m_deps.appRules.setHotkey(currentId(), shortcut.keyCode, shortcut.modifiers);
    });
    connect(m_recorder, &HotkeyRecorder::refused, this,
            [this](const QString& message) { setNote(m_hotkeyError, message, true); });
    connect(m_clearHotkey, &QPushButton::clicked, this,
            [this] { m_deps.appRules.setHotkey(currentId(), std::nullopt, std::nullopt); });
    connect(m_remove, &QPushButton::clicked, this, [this] {
        if (!currentId().isEmpty())
            m_deps.appRules.remove(currentId());
        m_list->setFocus(Qt::OtherFocusReason); // not handed on from a button that may now be disabled
    });
    connect(&m_deps.appRules, &stores::AppProfileStore::changed, this, [this] { reload(); });
    connect(&m_deps.recipes, &stores::RecipeStore::changed, this, [this] { reload(); });
    connect(&m_deps.hotkeys, &trigger::HotkeyCenter::errorsChanged, this, [this] { showHotkeyError(); });

    reload();
}

QString AppRulesTab::currentId() const {
    const QListWidgetItem* item = m_list->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

QString AppRulesTab::ruleLabel(const AppRecipeRule& rule) const {
    const auto recipe = m_deps.recipes.effective(rule.recipeID);
    return tr("%1  →  %2").arg(rule.shownName(), recipe ? recipe->name : tr("Missing recipe (%1)").arg(rule.recipeID));
}

void AppRulesTab::reload() {
    const QString keep = currentId();
    m_loading = true;
    m_list->clear();
    for (const AppRecipeRule& rule : m_deps.appRules.rules()) {
        QString text = ruleLabel(rule);
        if (rule.hotkeyKeyCode)
            text += QStringLiteral("   ") +
                    trigger::HotkeyDescription::string(rule.hotkeyKeyCode, rule.hotkeyModifiers, m_deps.layout);
        auto* item = new QListWidgetItem(text, m_list);
        item->setData(Qt::UserRole, rule.bundleID);
        item->setToolTip(rule.bundleID);
    }
    m_recipe->clear();
    for (const stores::PromptRecipe& recipe : m_deps.recipes.all())
        m_recipe->addItem(recipe.name, recipe.id);
    m_loading = false;
    select(keep);
}

void AppRulesTab::select(const QString& bundleID) {
    int row = m_list->count() > 0 ? 0 : -1;
    for (int i = 0; i < m_list->count(); ++i)
        if (m_list->item(i)->data(Qt::UserRole).toString() == bundleID)
            row = i;
    m_loading = true;
    m_list->setCurrentRow(row);
    m_loading = false;
    showRule();
}

void AppRulesTab::showRule() {
    const QString id = currentId();
    std::optional<AppRecipeRule> rule;
    for (const AppRecipeRule& r : m_deps.appRules.rules())
        if (r.bundleID == id) {
            rule = r;
            break;
        }
    m_recipe->setEnabled(bool(rule));
    m_recorder->setEnabled(bool(rule));
    m_clearHotkey->setEnabled(rule && rule->hotkeyKeyCode);
    m_remove->setEnabled(bool(rule));
    if (rule) {
        m_recipe->setCurrentIndex(m_recipe->findData(rule->recipeID));
        m_recorder->setShortcut(rule->hotkeyKeyCode ? std::optional<Shortcut>(Shortcut{
                                                           *rule->hotkeyKeyCode, rule->hotkeyModifiers.value_or(0)})
                                                     : std::nullopt);
    } else {
        m_recorder->setShortcut(std::nullopt);
    }
    showHotkeyError();
}

void AppRulesTab::showHotkeyError() {
    const QString id = currentId();
    for (const trigger::HotkeyError& error : m_deps.hotkeys.lastErrors()) {
        if (!id.isEmpty() && error.id == id) {
            setNote(m_hotkeyError, error.message, true);
            return;
        }
    }
    setNote(m_hotkeyError, QString(), false);
}

void AppRulesTab::addRule(const QString& bundleID, const QString& appName) {
    // The app gets the default recipe; an app that has a rule already keeps its shortcut, and its
    // name unless a better one is known now.
    bool exists = false;
    for (const AppRecipeRule& rule : m_deps.appRules.rules())
        exists = exists || rule.bundleID == bundleID;
    const stores::PromptRecipe recipe = m_deps.recipes.selectedRecipe();
    const QString shown = AppRecipeRule::shownName(appName, bundleID);
    m_deps.appRules.setMapping(bundleID, exists ? appName : shown, recipe.id);
    setNote(m_addStatus, exists ? tr("%1 now uses %2.").arg(shown, recipe.name) : tr("Added %1.").arg(shown), false);
    select(bundleID);
}

void AppRulesTab::stopCapture() {
    ++m_captureTicket;
    m_capture->setEnabled(true);
    m_capture->setText(tr("Capture App in Front"));
}

void AppRulesTab::countdown(int remaining, quint64 ticket) {
    if (ticket != m_captureTicket)
        return;
    if (remaining > 0) {
        m_capture->setText(tr("Capturing in %1…").arg(remaining));
        setNote(m_addStatus, tr("Bring the app to the front now."), false);
        QPointer<AppRulesTab> self(this);
        m_deps.clock.schedule(1000, this, [self, remaining, ticket] {
            if (self)
                self->countdown(remaining - 1, ticket);
        });
        return;
    }
    stopCapture();
    const std::optional<platform::AppInfo> app = m_deps.activeApp.frontmost();
    if (!app || app->appId.isEmpty()) {
        setNote(m_addStatus, tr("No app with an id was in front. Try again, or type its id."), true);
        return;
    }
    if (app->pid == QCoreApplication::applicationPid()) {
        setNote(m_addStatus, tr("Corvane itself was in front. Bring the other app to the front within %1 seconds.")
                                 .arg(captureSeconds),
                true);
        return;
    }
    addRule(app->appId, app->displayName);
}

} // namespace corvane::settings
