#include "settings/SettingsView.h"
#include "panel/CVDesign.h"
#include "panel/OwnWindows.h"
#include "settings/AboutTab.h"
#include "settings/ApiTab.h"
#include "settings/AppRulesTab.h"
#include "settings/HotkeyRecorder.h"
#include "settings/RecipesTab.h"
#include "settings/SettingsForm.h"
#include "settings/TriggerTab.h"
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

namespace corvane::settings {

using panel::CVDesign;

SettingsView::SettingsView(SettingsDependencies& deps, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(tr("Corvane Settings"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(CVDesign::space3, CVDesign::space3, CVDesign::space3, CVDesign::space3);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->setDocumentMode(true);
    CVDesign::cvBrandTint(m_tabs);
    m_api = new ApiTab(deps);
    m_api->setObjectName(QStringLiteral("apiTab"));
    m_recipes = new RecipesTab(deps);
    m_recipes->setObjectName(QStringLiteral("recipesTab"));
    m_rules = new AppRulesTab(deps);
    m_rules->setObjectName(QStringLiteral("appRulesTab"));
    m_trigger = new TriggerTab(deps);
    m_trigger->setObjectName(QStringLiteral("triggerTab"));
    m_about = new AboutTab(deps);
    m_about->setObjectName(QStringLiteral("aboutTab"));
    m_tabs->addTab(m_api, tr("API"));
    m_tabs->addTab(m_recipes, tr("Recipes"));
    m_tabs->addTab(m_rules, tr("App Rules"));
    m_tabs->addTab(m_trigger, tr("Trigger"));
    m_tabs->addTab(m_about, tr("About"));
    layout->addWidget(m_tabs);
    nameFieldsByTheirLabels(m_tabs);
    // Plain buttons inside the cards get room around their text.
    for (QPushButton* button : findChildren<QPushButton*>())
        if (!button->property("cvRole").isValid() && !qobject_cast<HotkeyRecorder*>(button))
            button->setMinimumWidth(button->sizeHint().width() + 2 * CVDesign::space3);
    // A field's hint reads whole in the desktop's font.
    for (QLineEdit* field : findChildren<QLineEdit*>())
        if (!field->placeholderText().isEmpty())
            field->setMinimumWidth(qMax(field->minimumWidth(), panel::placeholderWidth(field)));
    setMinimumSize(560, 480);
    growToFit();
}

void SettingsView::growToFit() {
    // Every tab's content at the font in force, within the screen's free area; room is left for
    // the window manager's frame. A window the user made larger stays as it is.
    constexpr QSize kFrameRoom(2 * CVDesign::space4, 4 * CVDesign::space4);
    ensurePolished();
    QSize wanted = sizeHint().expandedTo(QSize(660, 600)).expandedTo(size());
    if (const QScreen* at = screen())
        wanted = wanted.boundedTo(at->availableGeometry().size() - kFrameRoom);
    resize(wanted.expandedTo(minimumSize()));
}

void SettingsView::reload() {
    m_api->reload();
    m_recipes->reload();
    m_rules->reload();
    m_trigger->reload();
    m_about->reload();
}

void SettingsView::refreshStatus() { m_about->reload(); }

void SettingsView::focusFirstControl() {
    QWidget* page = m_tabs->currentWidget();
    if (!page)
        return;
    // The first control in the tab's keyboard order, with nothing in it selected: a number or
    // a text shown selected would be replaced by the next key press.
    for (QWidget* w = page->nextInFocusChain(); w && w != page; w = w->nextInFocusChain()) {
        if (!page->isAncestorOf(w))
            break;
        if (!w->isVisibleTo(page) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus) ||
            qobject_cast<QAbstractScrollArea*>(w))
            continue;
        w->setFocus(Qt::OtherFocusReason);
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(w); spin && spin->findChild<QLineEdit*>())
            spin->findChild<QLineEdit*>()->deselect();
        else if (auto* line = qobject_cast<QLineEdit*>(w))
            line->deselect();
        return;
    }
}

void SettingsView::keyPressEvent(QKeyEvent* event) {
    // Keys no control used: Escape and Ctrl+W close the window, as in any settings dialog.
    if (panel::isCloseKey(event)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        CVDesign::refresh(this);
    QWidget::changeEvent(event);
}

void SettingsView::hideEvent(QHideEvent* event) {
    // What was typed is kept, late answers of a closed window are dropped, and a recorder gives
    // the shortcuts back.
    m_api->commitEdits();
    m_api->dropPending();
    m_rules->stopCapture();
    for (HotkeyRecorder* recorder : findChildren<HotkeyRecorder*>())
        recorder->cancelRecording();
    QWidget::hideEvent(event);
}

} // namespace corvane::settings
