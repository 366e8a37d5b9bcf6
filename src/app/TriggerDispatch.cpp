#include "app/TriggerDispatch.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/SettingsStore.h"
#include <QPointer>
#include <QTimer>

namespace corvane::app {

using stores::DiagLog;

TriggerDispatch::TriggerDispatch(trigger::EngineControl& engine, TriggerFn trigger, trigger::PanelPresenter& panel,
                                 trigger::UsageEvents& usage, trigger::HotkeyCenter& hotkeys,
                                 stores::SettingsStore& settings, stores::AppProfileStore& appRules, QObject* parent)
    : QObject(parent), m_engine(engine), m_trigger(std::move(trigger)), m_panel(panel), m_usage(usage),
      m_hotkeys(hotkeys), m_settings(settings), m_appRules(appRules) {}

// The monitor and the hotkeys call from a loop turn of their own, never from inside the key
// handling: their run starts right away, ahead of whatever else is queued.
void TriggerDispatch::triggerFromMonitor() {
    DiagLog::event(QStringLiteral("EventMonitor onTrigger → performTrigger"));
    gate(std::nullopt, QStringLiteral("space"));
}

void TriggerDispatch::triggerSelected() {
    DiagLog::event(QStringLiteral("trigger via MENU BAR"));
    performTrigger(std::nullopt, QStringLiteral("menu"));
}

void TriggerDispatch::dispatchHotkey(const QString& id) {
    DiagLog::event(QStringLiteral("trigger via HOTKEY id=") + id);
    // The rule is looked up now, not when it was registered.
    const std::optional<QString> forced = id == QLatin1String("global") ? std::nullopt : ruleRecipe(id);
    gate(forced, QStringLiteral("hotkey"));
}

void TriggerDispatch::performTrigger(std::optional<QString> forcedRecipeID, const QString& source) {
    QTimer::singleShot(0, this, [this, forcedRecipeID, source] { gate(forcedRecipeID, source); });
}

QCoro::Task<> TriggerDispatch::gate(std::optional<QString> forcedRecipeID, QString source) {
    if (m_isOwnWindowFrontmost && m_isOwnWindowFrontmost()) {
        DiagLog::event(QStringLiteral("performTrigger IGNORED: Corvane's own window is frontmost (source=") + source +
                       QLatin1Char(')'));
        co_return;
    }
    if (!m_engine.isIdle()) {
        if (m_panel.isPanelVisible() && m_engine.hasFailed()) {
            // The panel tells why the last run failed, often what to do next (select the text, then
            // the shortcut): a trigger now is the user doing it. The failed run, already in the
            // activity log, is put away with its panel and the new one starts.
            DiagLog::event(QStringLiteral("performTrigger: failed run's panel closed for a new trigger"));
            m_panel.hide();
            m_engine.abandon(true);
        } else if (m_panel.isPanelVisible()) {
            DiagLog::event(QStringLiteral("performTrigger IGNORED: engine busy, panel visible"));
            co_return;
        } else {
            DiagLog::event(QStringLiteral("performTrigger: engine stale non-idle → abandon"));
            m_engine.abandon(true);
        }
    }
    m_usage.track(QStringLiteral("trigger"), {{QStringLiteral("source"), source}});
    co_await m_trigger(forcedRecipeID, source == QLatin1String("space") ? trigger::TriggerSource::SpaceTaps
                                                                        : trigger::TriggerSource::Command);
}

std::optional<QString> TriggerDispatch::ruleRecipe(const QString& bundleID) const {
    for (const auto& rule : m_appRules.rules())
        if (rule.bundleID == bundleID)
            return rule.recipeID;
    return std::nullopt;
}

QString TriggerDispatch::hotkeySignature() const {
    QString signature = QString::fromLatin1(m_settings.hotkeyEnabled() ? "true" : "false") + QLatin1Char('|') +
                        QString::number(m_settings.hotkeyKeyCode()) + QLatin1Char('|') +
                        QString::number(m_settings.hotkeyModifiers());
    for (const auto& rule : m_appRules.rules()) {
        if (!rule.hotkeyKeyCode)
            continue;
        signature += QLatin1Char('|') + rule.bundleID + QLatin1Char(':') + QString::number(*rule.hotkeyKeyCode) +
                     QLatin1Char(',') + QString::number(rule.hotkeyModifiers.value_or(-1));
    }
    return signature;
}

void TriggerDispatch::refreshHotkeysIfNeeded() {
    const QString signature = hotkeySignature();
    if (signature == m_lastHotkeySignature)
        return;
    m_lastHotkeySignature = signature;
    QList<trigger::HotkeyRegistration> list;
    if (m_settings.hotkeyEnabled())
        list.append({QStringLiteral("global"), m_settings.hotkeyKeyCode(), m_settings.hotkeyModifiers()});
    for (const auto& rule : m_appRules.rules()) {
        if (rule.hotkeyKeyCode && rule.hotkeyModifiers && *rule.hotkeyKeyCode >= 0 && *rule.hotkeyModifiers >= 0)
            list.append({rule.bundleID, *rule.hotkeyKeyCode, *rule.hotkeyModifiers});
    }
    QPointer<TriggerDispatch> self(this);
    m_hotkeys.sync(list, [self](const QString& id) {
        if (self)
            self->dispatchHotkey(id);
    });
}

} // namespace corvane::app
