#pragma once
// The trigger engine: runs one session at a time, from reading the focused field through the
// model's streamed answer to writing the result back. Main thread only.
//
// Each session has a generation number; reset() starts a new one and stops the running model
// stream, so events of an ended session never reach the state, the panel, the menu-bar activity,
// the activity log or the usage events. Reading the field, waiting for the keyring to be unlocked
// and writing back are "busy" phases: the engine is not idle then, and a trigger that arrives
// meanwhile is refused. Ending the session ends a wait for the keyring at once.
#include "platform/Accessibility.h"
#include "platform/ActiveApp.h"
#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/KeySynth.h"
#include "llm/ModelClient.h"
#include "stores/PromptRecipe.h"
#include "stores/SettingsStore.h"
#include "trigger/AccessibilityService.h"
#include "trigger/AppActivity.h"
#include "trigger/ClipboardBridge.h"
#include "trigger/EngineControl.h"
#include "trigger/KeyringUnlock.h"
#include "trigger/PanelPresenter.h"
#include "trigger/StreamPump.h"
#include "trigger/TriggerSource.h"
#include "trigger/TriggerState.h"
#include "trigger/UpdateGate.h"
#include "trigger/UsageEvents.h"
#include <QObject>
#include <optional>
#include <qcoro/qcorotask.h>

namespace corvane::stores {
class RecipeStore;
class AppProfileStore;
class OptimizationLogger;
} // namespace corvane::stores

namespace corvane::trigger {

class StreamPump;

class TriggerEngine final : public QObject, public EngineControl {
    Q_OBJECT
public:
    struct Dependencies {
        platform::Accessibility& accessibility;
        platform::ActiveApp& activeApp;
        platform::Clipboard& clipboard;
        platform::KeySynth& keys;
        platform::Clock& clock;
        llm::ModelClient& model;
        PanelPresenter& panel;
        ActivitySink& activity;
        UsageEvents& usage;
        UpdateGate& updates;
        stores::SettingsStore& settings;
        stores::RecipeStore& recipes;
        stores::AppProfileStore& appProfiles;
        stores::OptimizationLogger& logger;
    };

    struct RecipeChoice {
        stores::PromptRecipe recipe;
        RecipeSource source;
    };

    explicit TriggerEngine(const Dependencies& deps, QObject* parent = nullptr);
    ~TriggerEngine() override;

    static TriggerEngine& shared();
    static void setShared(TriggerEngine* engine);

    // --- state ---
    const TriggerState& state() const { return m_state; }
    bool isIdle() const override;
    bool isAwaitingInstruction() const override;
    bool hasFailed() const override;
    RecipeSource currentRecipeSource() const override { return m_currentRecipeSource; }
    QString currentBundleID() const override { return m_currentBundleID; }
    QString currentRecipeName() const { return m_currentRecipeName; }

    // --- starting a run ---
    QCoro::Task<> trigger(std::optional<QString> forcedRecipeID, TriggerSource source = TriggerSource::Command);
    void finishDraft(const QString& instruction) override;

    // --- ending a run ---
    void replaceText() override;
    void cancel() override;
    void abandon(bool silent) override;
    void rerun(std::optional<QString> manualRecipeId) override;
    void reset();

    // --- recipe choice ---
    void stageManualRecipe(const QString& recipeId) override;
    void rememberAsAppDefault(const QString& recipeId) override;
    RecipeChoice resolveRecipe(const QString& bundleID, const std::optional<QString>& forcedRecipeID);
    std::optional<QString> takePendingManualRecipeID();
    // The display name of the session's application, or "Unknown app".
    QString frontmostAppName() const;
    // What a run tells the user when it could not read the field: select the text, then start a run
    // that leaves a selection alone (space taps would type over it): the global shortcut, by its
    // current label, or the menu item. In a terminal (the run's read found its application or its
    // field to be one), which is never copied from, that no run can read there.
    QString readFailedMessage(bool terminal) const;
    QString composedUserMessage(const QString& text, const QString& recipeName, const QString& appName,
                                const QString& readMode) const;

Q_SIGNALS:
    void stateChanged();

private:
    enum class Busy { None, Reading, Unlocking, WritingBack };
    // What the reading phase of a run found.
    struct FieldRead {
        std::optional<AccessibilityService::ElementInfo> info;
        std::optional<QString> text;
        bool fromClipboard = false;
        bool selectAllRead = false;
        bool password = false;
        bool noField = false;  // the focus is on something that takes no text: nothing was read
        bool terminal = false;
        bool ended = false;  // the session was ended while the field was being read
        QString probeDescription;
        platform::ElementRef copiedFrom;  // the focused element the bus showed after a clipboard read
        std::optional<QRectF> line;  // the caret's or the selection's line, for the panel to leave free
    };
    // A field read that passed the checks: what the run sends.
    struct RunInput {
        FieldRead read;
        QString text;  // trimmed
    };
    // How a wait for the keyring's unlock ended.
    struct UnlockWait {
        bool ended = false;   // the session was ended meanwhile
        bool waited = false;  // the desktop asked the user (the event loop ran meanwhile)
    };
    // Stops a stream that is dropped and lets the event loop delete it: it may be in the middle of
    // emitting the event that led here.
    struct StreamDisposer {
        void operator()(llm::ModelStream* stream) const {
            stream->stop();
            stream->deleteLater();
        }
    };
    // A model request that has been sent off, or why it could not be.
    struct StartedStream {
        std::unique_ptr<llm::ModelStream, StreamDisposer> stream;
        std::unique_ptr<StreamPump> pump; // with the stream: keeps what it says until readStream() reads it
        QString raisedMessage;  // set when there is no stream
        qint64 startedMs = 0;   // uptime when the request was asked for
    };
    // A draft's description that Retry keeps for the run it starts: put back in the draft box, or,
    // when it was long enough to be sent, sent again.
    struct KeptDescription {
        QString text;
        bool sendAgain = false;
    };
    // A paste that starts once the write-back has reset the engine.
    struct PendingPaste {
        QString text;
        bool selectAllFirst = false;
        platform::KeyTarget target;
        platform::ElementRef field;  // the element the run read from, when known: the paste goes there only
        QString originalText;
        QString recipeName;
    };

    void setState(TriggerState state);
    QString busyName() const;

    // TriggerRun.cpp
    QCoro::Task<FieldRead> readFocusedField(QString bundleID, platform::KeyTarget target, quint64 generation);
    // Reads the field and applies the checks before the key's: nothing when the run ends there
    // (ended, refused, or gone into draft mode).
    QCoro::Task<std::optional<RunInput>> readInput(std::optional<platform::AppInfo> app, platform::KeyTarget target,
                                                   TriggerSource source);
    void startSession(const std::optional<platform::AppInfo>& app, bool terminal);
    // Refuses the session's input for want of a readable key: none stored, a locked keyring, or a
    // keyring that cannot be asked.
    void failWithoutKey(stores::SettingsStore::KeyAccess access, const QString& original);
    // Asks the desktop to unlock the keyring holding the API key while the engine waits (busy). A
    // prompt still open for an ended session is waited for again rather than shown twice.
    QCoro::Task<UnlockWait> unlockKeyring();
    // Waits (bounded) until the window is active again after the desktop's prompt had the focus.
    QCoro::Task<bool> windowActiveAgain(quint64 windowId);

    // Draft.cpp
    void enterDraft(const AccessibilityService::ElementInfo& info);
    QCoro::Task<> unlockThenFinishDraft();

    // Streaming.cpp
    // keepFree: where the field lies that the message is about, for a panel that must leave it free.
    void fail(const QString& message, const std::optional<QString>& detail, const QString& original,
              const QString& kind, const std::optional<QRectF>& keepFree = std::nullopt,
              const std::optional<QRectF>& keepLine = std::nullopt);
    // Sends the request. The caller records and shows the run right after, in the same turn, then
    // reads the answer with readStream(); what the stream says meanwhile waits in its pump.
    StartedStream startStream(const QString& prompt, const stores::PromptRecipe& recipe);
    QCoro::Task<> readStream(QString original, StartedStream started, QString recipeName, QString action);
    void streamFailed(const QString& original, const QString& recipeName, const QString& action,
                      const QString& message, const QString& kind, bool raised, qint64 latencyMs);

    // WriteBack.cpp
    // The run's field as the run read it, while the bus shows it focused; nothing otherwise.
    std::optional<QString> fieldTextNow();
    // The field no longer holds the text the run read, or was touched while the result waited,
    // as far as that can be told.
    bool fieldChangedSinceRead();
    std::optional<PendingPaste> attemptClipboardReplace(const QString& text, bool selectAllFirst,
                                                        const std::optional<QString>& note);
    QCoro::Task<> runPaste(PendingPaste paste);
    void keepOnClipboard(const QString& text, const QString& detail, const QString& message);

    // RunControl.cpp
    QCoro::Task<> runAgain(bool restoreClipboardFirst);

    platform::ActiveApp& m_activeApp;
    platform::Clock& m_clock;
    llm::ModelClient& m_model;
    PanelPresenter& m_panel;
    ActivitySink& m_activity;
    UsageEvents& m_usage;
    UpdateGate& m_updates;
    stores::SettingsStore& m_settings;
    stores::RecipeStore& m_recipes;
    stores::AppProfileStore& m_appProfiles;
    stores::OptimizationLogger& m_logger;
    AccessibilityService m_accessibilityService;
    ClipboardBridge m_clipboardBridge;

    // Session fields.
    TriggerState m_state;
    platform::ElementRef m_currentElement;
    platform::ElementRef m_copiedFromElement;  // a clipboard read's focused element, when the bus showed it
    QString m_originalText;
    QString m_readText;  // the field's text as the run read it, trimmed ("" for a draft)
    std::optional<QString> m_fieldAtResult;  // the field's text when the result was shown, when readable
    QString m_draftDescription;  // the draft's description, once submitted
    QString m_currentRecipeName;
    bool m_usesClipboardFallback = false;
    bool m_usedSelectAllRead = false;
    QString m_currentBundleID;
    RecipeSource m_currentRecipeSource;
    std::optional<QString> m_pendingManualRecipeID;
    std::optional<platform::AppInfo> m_app;  // the application the session read from
    bool m_terminal = false;                 // that application is a terminal emulator

    quint64 m_generation = 0;
    StreamPump* m_pump = nullptr;  // the running stream of the current session
    std::optional<KeyringUnlock> m_keyringUnlock;  // the latest unlock request, answered or not
    QString m_draftAwaitingKey;  // the latest description submitted while the keyring is being unlocked
    std::optional<KeptDescription> m_keptDescription;  // for the draft that the run being started opens
    Busy m_busy = Busy::None;
};

} // namespace corvane::trigger
