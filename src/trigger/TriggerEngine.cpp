#include "trigger/TriggerEngine.h"
#include "stores/AppProfileStore.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"
#include "trigger/HotkeyDescription.h"
#include "trigger/StreamPump.h"
#include "trigger/UserMessage.h"
#include <QCoreApplication>
#include <atomic>

namespace corvane::trigger {

namespace {
std::atomic<TriggerEngine*> g_shared{nullptr};
}

TriggerEngine& TriggerEngine::shared() {
    TriggerEngine* engine = g_shared.load();
    if (!engine)
        qFatal("TriggerEngine::shared() used before the composition root set it");
    return *engine;
}

void TriggerEngine::setShared(TriggerEngine* engine) { g_shared.store(engine); }

TriggerEngine::TriggerEngine(const Dependencies& deps, QObject* parent)
    : QObject(parent),
      m_activeApp(deps.activeApp),
      m_clock(deps.clock),
      m_model(deps.model),
      m_panel(deps.panel),
      m_activity(deps.activity),
      m_usage(deps.usage),
      m_updates(deps.updates),
      m_settings(deps.settings),
      m_recipes(deps.recipes),
      m_appProfiles(deps.appProfiles),
      m_logger(deps.logger),
      m_accessibilityService(deps.accessibility, &deps.activeApp),
      m_clipboardBridge(deps.clipboard, deps.keys, deps.accessibility, deps.clock) {}

TriggerEngine::~TriggerEngine() {
    // Wakes a stream reader or a run waiting for the keyring, so that their coroutines end with the engine.
    ++m_generation;
    if (m_keyringUnlock)
        m_keyringUnlock->dropWaiter();
    if (auto* pump = std::exchange(m_pump, nullptr))
        pump->close();
}

bool TriggerEngine::isIdle() const { return m_state.kind == TriggerState::Kind::Idle && m_busy == Busy::None; }

bool TriggerEngine::isAwaitingInstruction() const { return m_state.kind == TriggerState::Kind::AwaitingInstruction; }

bool TriggerEngine::hasFailed() const { return m_state.kind == TriggerState::Kind::Error && m_busy == Busy::None; }

void TriggerEngine::setState(TriggerState state) {
    if (m_state == state)
        return;
    m_state = std::move(state);
    Q_EMIT stateChanged();
}

QString TriggerEngine::busyName() const {
    switch (m_busy) {
    case Busy::Reading:
        return QStringLiteral("reading the field");
    case Busy::Unlocking:
        return QStringLiteral("waiting for the keyring");
    default:
        return QStringLiteral("writing back");
    }
}

void TriggerEngine::reset() {
    setState(TriggerState::idle());
    m_currentElement.reset();
    m_copiedFromElement.reset();
    m_originalText.clear();
    m_readText.clear();
    m_fieldAtResult.reset();
    m_draftDescription.clear();
    m_keptDescription.reset();
    m_usesClipboardFallback = false;
    m_usedSelectAllRead = false;
    m_currentBundleID.clear();
    m_pendingManualRecipeID.reset();
    m_currentRecipeSource = RecipeSource::globalDefault();
    m_app.reset();
    m_terminal = false;
    m_draftAwaitingKey.clear();
    // A new generation: whatever the ended session still has running is now stale. A wait for the
    // keyring ends here (the desktop's prompt stays until the user answers it), and the stream is
    // stopped last: their coroutines wake up and finish inside dropWaiter() and close().
    ++m_generation;
    if (m_busy == Busy::Unlocking)
        m_busy = Busy::None;
    if (m_keyringUnlock)
        m_keyringUnlock->dropWaiter();
    if (auto* pump = std::exchange(m_pump, nullptr))
        pump->close();
}

void TriggerEngine::stageManualRecipe(const QString& recipeId) { m_pendingManualRecipeID = recipeId; }

std::optional<QString> TriggerEngine::takePendingManualRecipeID() { return std::exchange(m_pendingManualRecipeID, {}); }

QString TriggerEngine::frontmostAppName() const {
    // An app without a desktop entry goes by its id, as in the rule list and the activity log.
    const QString name = m_app ? stores::AppRecipeRule::shownName(m_app->displayName, m_app->appId) : QString();
    return name.isEmpty() ? tr("Unknown app") : name;
}

QString TriggerEngine::readFailedMessage(bool terminal) const {
    if (terminal)
        return tr("Corvane can't read or copy text in a terminal. Paste the text into a text field of another app "
                  "to process it there.");
    if (m_settings.hotkeyEnabled())
        return tr("Couldn't read the focused text field. Select the text to process, then press %1 or choose "
                  "\"Process Selected Text\" in Corvane's menu.")
            .arg(HotkeyDescription::string(m_settings.hotkeyKeyCode(), m_settings.hotkeyModifiers()));
    return tr("Couldn't read the focused text field. Select the text to process, then choose \"Process Selected "
              "Text\" in Corvane's menu.");
}

TriggerEngine::RecipeChoice TriggerEngine::resolveRecipe(const QString& bundleID,
                                                         const std::optional<QString>& forcedRecipeID) {
    if (const auto pending = takePendingManualRecipeID())
        if (auto recipe = m_recipes.effective(*pending))
            return {*recipe, RecipeSource::sessionManual()};
    if (forcedRecipeID)
        if (auto recipe = m_recipes.effective(*forcedRecipeID))
            return {*recipe, RecipeSource::hotkey()};
    if (!bundleID.isEmpty())
        if (const auto ruleRecipe = m_appProfiles.recipeID(bundleID))
            if (auto recipe = m_recipes.effective(*ruleRecipe))
                return {*recipe, RecipeSource::appRule(frontmostAppName())};
    return {m_recipes.selectedRecipe(), RecipeSource::globalDefault()};
}

void TriggerEngine::rememberAsAppDefault(const QString& recipeId) {
    if (m_currentBundleID.isEmpty())
        return;
    const QString name = frontmostAppName();
    m_appProfiles.setMapping(m_currentBundleID, name, recipeId);
    m_currentRecipeSource = RecipeSource::appRule(name);
}

QString TriggerEngine::composedUserMessage(const QString& text, const QString& recipeName, const QString& appName,
                                           const QString& readMode) const {
    return composeUserMessage(text, recipeName, appName, readMode, m_settings.outputLanguage().instruction());
}

} // namespace corvane::trigger
