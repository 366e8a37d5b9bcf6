#pragma once
// Every trigger (space taps, the menu, hotkeys) passes through performTrigger(), which decides
// whether it may start, reports it, and hands it to the engine. Also keeps the global and per-app
// hotkeys registered in step with the settings.
#include "trigger/EngineControl.h"
#include "trigger/HotkeyCenter.h"
#include "trigger/PanelPresenter.h"
#include "trigger/TriggerSource.h"
#include "trigger/UsageEvents.h"
#include <QObject>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::stores {
class SettingsStore;
class AppProfileStore;
} // namespace corvane::stores

namespace corvane::app {

class TriggerDispatch final : public QObject {
    Q_OBJECT
public:
    using TriggerFn = std::function<QCoro::Task<>(std::optional<QString> forcedRecipeID, trigger::TriggerSource source)>;

    TriggerDispatch(trigger::EngineControl& engine, TriggerFn trigger, trigger::PanelPresenter& panel,
                    trigger::UsageEvents& usage, trigger::HotkeyCenter& hotkeys, stores::SettingsStore& settings,
                    stores::AppProfileStore& appRules, QObject* parent = nullptr);

    // source: "space", "menu" or "hotkey". Returns at once; the gate runs on the next loop turn.
    void performTrigger(std::optional<QString> forcedRecipeID, const QString& source);
    void triggerFromMonitor();
    void triggerSelected();
    void dispatchHotkey(const QString& id);

    // Tells whether the frontmost window is one of Corvane's own (settings, activity log, feedback):
    // a trigger typed there is ignored, since a run would read and write our own process.
    void setOwnWindowCheck(std::function<bool()> isOwnWindowFrontmost) { m_isOwnWindowFrontmost = std::move(isOwnWindowFrontmost); }

    // Re-registers every hotkey when the configuration's signature changed since the last time.
    void refreshHotkeysIfNeeded();
    QString hotkeySignature() const;

private:
    QCoro::Task<> gate(std::optional<QString> forcedRecipeID, QString source);
    std::optional<QString> ruleRecipe(const QString& bundleID) const;

    trigger::EngineControl& m_engine;
    TriggerFn m_trigger;
    trigger::PanelPresenter& m_panel;
    trigger::UsageEvents& m_usage;
    trigger::HotkeyCenter& m_hotkeys;
    stores::SettingsStore& m_settings;
    stores::AppProfileStore& m_appRules;
    QString m_lastHotkeySignature = QStringLiteral("none");
    std::function<bool()> m_isOwnWindowFrontmost;
};

} // namespace corvane::app
