#pragma once
// Owns the one floating result panel: shows it next to the focused field (or near the pointer)
// without taking the focus, switches its content by writing FloatingPanelState, routes the view's
// actions to the engine, and treats closing the panel as abandoning the run. Also saves the
// panel's content before a self-update and shows it again at the next launch. Main thread only.
#include "panel/DesktopGeometry.h"
#include "panel/FloatingPanelAction.h"
#include "panel/FloatingPanelState.h"
#include "panel/RecipeCatalog.h"
#include "panel/RestoreSnapshot.h"
#include "trigger/EngineControl.h"
#include "trigger/PanelPresenter.h"

#include <QObject>
#include <QPointer>
#include <functional>

namespace corvane::platform {
class Clock;
class Preferences;
} // namespace corvane::platform

namespace corvane::panel {

class FloatingPanelView;
class PanelWindow;

class FloatingPanelController : public QObject, public trigger::PanelPresenter {
    Q_OBJECT
public:
    using RestoreSnapshot = panel::RestoreSnapshot;

    FloatingPanelController(trigger::EngineControl& engine, RecipeCatalog& recipes, platform::Preferences& preferences,
                            platform::Clock& clock, DesktopGeometry& desktop, QObject* parent = nullptr);
    // For a composition root where the engine is built after the panel (the engine takes the panel
    // as its presenter): until setEngine() the panel's buttons reach an engine that does nothing.
    FloatingPanelController(RecipeCatalog& recipes, platform::Preferences& preferences, platform::Clock& clock,
                            DesktopGeometry& desktop, QObject* parent = nullptr);
    void setEngine(trigger::EngineControl& engine) { m_engine = &engine; }
    ~FloatingPanelController() override;

    static FloatingPanelController& shared();
    static void setShared(FloatingPanelController* controller);

    // What the engine drives (trigger::PanelPresenter).
    void show(const QString& originalText, std::optional<QPointF> elementTopLeft, QSizeF elementSize,
              const QString& recipeId, const std::optional<QRectF>& keepLine = std::nullopt) override;
    void showDraft(std::optional<QPointF> elementTopLeft, QSizeF elementSize, const QString& recipeId,
                   const std::optional<QRectF>& keepLine = std::nullopt) override;
    void setDraftText(const QString& description) override;
    void beginStreamingResult(const QString& recipeId) override;
    void updateResult(const QString& textSoFar) override;
    void appendResult(const QString& piece, const QString& textSoFar) override;
    void showResult(const QString& finalText) override;
    void showError(const QString& message) override;
    void showErrorMessage(const QString& message) override;
    void showErrorMessageBeside(const QString& message, const QRectF& keepFree,
                                const std::optional<QRectF>& keepLine = std::nullopt) override;
    void hide() override;

    bool isPanelVisible() const override;

    // Makes the window and draws a run's view once, off screen: the first run's panel then pays no
    // one-time set-up (the native window, fonts, styles, icons) while its request is under way.
    void prepare();

    // Self-update: save the visible panel's content; at the next launch show it once if fresh.
    void persistSnapshotForRestore();
    void restoreSnapshotIfFresh();

    FloatingPanelState& state() { return m_state; }
    // The panel window and its current view; null before the first show.
    PanelWindow* panel() const;
    FloatingPanelView* view() const;

    // Called when the panel hands the keyboard back after draft input; main wires it to activate
    // the window the run read from. Without it the panel re-maps itself so the window manager
    // returns the focus.
    void setFocusReturner(std::function<void()> returner);
    // Whether the panel currently holds the keyboard focus (only possible in draft mode).
    bool holdsFocus() const;

Q_SIGNALS:
    // The keyboard focus is no longer on the panel (emitted whenever the panel gives it up).
    void focusReturned();

private:
    void createPanel();
    void installView();
    void placeNextTo(std::optional<QPointF> elementTopLeft, QSizeF elementSize, QSizeF size,
                     const std::optional<QRectF>& keepLine);
    void placeAndShow(const QRect& frame, std::optional<QRectF> field);
    void setErrorMessageContent(const QString& message);
    void syncRecipeMeta(const QString& selectedID);
    void handleAction(const FloatingPanelAction& action);
    void handleSwitchRecipe(const QString& id);
    void onPanelClosed();
    QString resolvedRecipeID(const QString& recipeId) const;
    QRect calculateFrame(QPointF elementTopLeft, QSizeF elementSize, QSizeF panelSize,
                         const std::optional<QRectF>& keepLine = std::nullopt) const;
    QRect frameNearMouse(QSizeF size, const std::optional<QRectF>& keepLine = std::nullopt) const;
    // A panel size laid out for 13 px text, grown with the desktop's font.
    static QSizeF scaledSize(double width, double height);
    void resizeToFit();
    void fitContent();
    void releaseFocus();

    trigger::EngineControl* m_engine;
    RecipeCatalog& m_recipes;
    platform::Preferences& m_preferences;
    platform::Clock& m_clock;
    DesktopGeometry& m_desktop;
    FloatingPanelState m_state;
    QPointer<PanelWindow> m_panel;
    std::optional<QRectF> m_field;  // what the panel was placed next to: the field, or the pointer's line
    std::function<void()> m_focusReturner;
    QMetaObject::Connection m_focusWatch;
};

} // namespace corvane::panel
