#include "panel/FloatingPanelController.h"

#include "panel/CVDesign.h"
#include "panel/FloatingPanelView.h"
#include "panel/PanelPlacement.h"
#include "panel/PanelWindow.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QLayout>
#include <QWindow>

namespace corvane::panel {

namespace {
FloatingPanelController* g_shared = nullptr;

QString snapshotKey() { return QString::fromLatin1(RestoreSnapshot::preferenceKey); }

// Stands in until the real engine is bound: idle, no app, and every request does nothing.
class NoEngine final : public trigger::EngineControl {
public:
    bool isIdle() const override { return true; }
    bool isAwaitingInstruction() const override { return false; }
    bool hasFailed() const override { return false; }
    trigger::RecipeSource currentRecipeSource() const override { return trigger::RecipeSource::globalDefault(); }
    QString currentBundleID() const override { return {}; }
    void finishDraft(const QString&) override {}
    void replaceText() override {}
    void cancel() override {}
    void abandon(bool) override {}
    void rerun(std::optional<QString>) override {}
    void stageManualRecipe(const QString&) override {}
    void rememberAsAppDefault(const QString&) override {}
};

trigger::EngineControl& noEngine() {
    static NoEngine engine;
    return engine;
}
} // namespace

FloatingPanelController::FloatingPanelController(trigger::EngineControl& engine, RecipeCatalog& recipes,
                                                 platform::Preferences& preferences, platform::Clock& clock,
                                                 DesktopGeometry& desktop, QObject* parent)
    : QObject(parent), m_engine(&engine), m_recipes(recipes), m_preferences(preferences), m_clock(clock),
      m_desktop(desktop) {
    // Leaving draft mode, whichever way, gives the keyboard back.
    connect(&m_state, &FloatingPanelState::statusChanged, this, [this](FloatingPanelStatus status) {
        if (status != FloatingPanelStatus::Drafting)
            releaseFocus();
    });
}

FloatingPanelController::FloatingPanelController(RecipeCatalog& recipes, platform::Preferences& preferences,
                                                 platform::Clock& clock, DesktopGeometry& desktop, QObject* parent)
    : FloatingPanelController(noEngine(), recipes, preferences, clock, desktop, parent) {}

FloatingPanelController::~FloatingPanelController() {
    QObject::disconnect(m_focusWatch);
    delete m_panel.data();
    if (g_shared == this)
        g_shared = nullptr;
}

FloatingPanelController& FloatingPanelController::shared() {
    if (!g_shared)
        qFatal("FloatingPanelController::shared() used before the application wired it");
    return *g_shared;
}

void FloatingPanelController::setShared(FloatingPanelController* controller) { g_shared = controller; }

PanelWindow* FloatingPanelController::panel() const { return m_panel.data(); }

FloatingPanelView* FloatingPanelController::view() const {
    return m_panel ? qobject_cast<FloatingPanelView*>(m_panel->contentView()) : nullptr;
}

void FloatingPanelController::setFocusReturner(std::function<void()> returner) {
    m_focusReturner = std::move(returner);
}

bool FloatingPanelController::holdsFocus() const { return m_panel && m_panel->isActiveWindow(); }

// ---- showing -------------------------------------------------------------------------------

void FloatingPanelController::show(const QString& originalText, std::optional<QPointF> elementTopLeft,
                                   QSizeF elementSize, const QString& recipeId, const std::optional<QRectF>& keepLine) {
    if (!m_panel)
        createPanel();
    m_state.setRestored(false);
    m_state.setOriginalText(originalText);
    m_state.setOptimizedText(QString());
    m_state.setErrorMessage(QString());
    m_state.setStatus(FloatingPanelStatus::Optimizing);
    m_state.setRecipes(m_recipes.all());
    m_state.setSelectedRecipeID(resolvedRecipeID(recipeId));
    syncRecipeMeta(m_state.selectedRecipeID());
    installView();
    const QSizeF size = scaledSize(PanelPlacement::panelWidth, PanelPlacement::runHeight);
    placeNextTo(elementTopLeft, elementSize, size, keepLine);
    fitContent();
}

void FloatingPanelController::showDraft(std::optional<QPointF> elementTopLeft, QSizeF elementSize,
                                        const QString& recipeId, const std::optional<QRectF>& keepLine) {
    if (!m_panel)
        createPanel();
    m_state.setRestored(false);
    m_state.setOriginalText(QString());
    m_state.setOptimizedText(QString());
    m_state.setDraftInput(QString());
    m_state.setErrorMessage(QString());
    m_state.setStatus(FloatingPanelStatus::Drafting);
    m_state.setRecipes(m_recipes.all());
    m_state.setSelectedRecipeID(resolvedRecipeID(recipeId));
    syncRecipeMeta(m_state.selectedRecipeID());
    installView();
    // The draft editor is the one control that needs the keyboard; the panel still shows without
    // activation and takes the focus only when the user clicks into the editor.
    m_panel->setAcceptsFocus(true);
    const QSizeF size = scaledSize(PanelPlacement::panelWidth, PanelPlacement::draftHeight);
    placeNextTo(elementTopLeft, elementSize, size, keepLine);
}

void FloatingPanelController::setDraftText(const QString& description) { m_state.setDraftInput(description); }

void FloatingPanelController::beginStreamingResult(const QString& recipeId) {
    if (!m_panel)
        return;
    m_state.setStatus(FloatingPanelStatus::Optimizing);
    m_state.setDraftInput(QString());
    if (m_recipes.contains(recipeId))
        m_state.setSelectedRecipeID(recipeId);
}

void FloatingPanelController::updateResult(const QString& textSoFar) { m_state.setOptimizedText(textSoFar); }

void FloatingPanelController::appendResult(const QString& piece, const QString& textSoFar) {
    // Only the piece is taken when the model already holds the rest (a size check, not a compare).
    if (m_state.optimizedText().size() + piece.size() == textSoFar.size())
        m_state.appendOptimizedText(piece);
    else
        m_state.setOptimizedText(textSoFar);
}

void FloatingPanelController::showResult(const QString& finalText) {
    m_state.setOptimizedText(finalText);
    m_state.setStatus(FloatingPanelStatus::Done);
    resizeToFit();
    fitContent();
}

void FloatingPanelController::showError(const QString& message) {
    m_state.setErrorMessage(message);
    m_state.setStatus(FloatingPanelStatus::Error);
    // The message shows whole: a panel too short for it grows, within its screen.
    fitContent();
}

void FloatingPanelController::showErrorMessage(const QString& message) {
    setErrorMessageContent(message);
    if (!m_panel->isVisible())
        placeNextTo(std::nullopt, QSizeF(), scaledSize(PanelPlacement::panelWidth, PanelPlacement::errorHeight),
                    std::nullopt);
    fitContent();
}

void FloatingPanelController::showErrorMessageBeside(const QString& message, const QRectF& keepFree,
                                                     const std::optional<QRectF>& keepLine) {
    setErrorMessageContent(message);
    const QSizeF size = scaledSize(PanelPlacement::panelWidth, PanelPlacement::errorHeight);
    const auto area = PanelPlacement::areaFor(m_desktop.screens(), keepFree.center());
    if (!area) {
        if (!m_panel->isVisible())
            placeNextTo(std::nullopt, QSizeF(), size, keepLine);
    } else if (const auto beside = PanelPlacement::frameBeside(*area, keepFree, size)) {
        placeAndShow(PanelPlacement::toWindowRect(*beside), keepFree);
    } else {
        // No side of the window has the room (a maximised window): inside it, where the user is
        // to select the text, clear of the pointer and of the line the user works on.
        const PanelPlacement::KeepFree keep{m_desktop.pointer(), keepLine};
        placeAndShow(PanelPlacement::toWindowRect(PanelPlacement::frameInside(*area, keepFree, size, keep)),
                     PanelPlacement::pointerLine(m_desktop.pointer()));
    }
    fitContent();
}

void FloatingPanelController::setErrorMessageContent(const QString& message) {
    if (!m_panel)
        createPanel();
    m_state.setRestored(false);
    m_state.setOriginalText(QString());
    m_state.setOptimizedText(QString());
    m_state.setErrorMessage(message);
    m_state.setStatus(FloatingPanelStatus::Error);
    m_state.setRecipeNote(QString());
    m_state.setCanRememberRule(false);
    m_state.setRecipes(m_recipes.all());
    m_state.setSelectedRecipeID(m_recipes.selectedRecipeID());
    installView();
}

void FloatingPanelController::hide() {
    if (m_panel)
        m_panel->hide();
}

bool FloatingPanelController::isPanelVisible() const { return m_panel && m_panel->isVisible(); }

void FloatingPanelController::prepare() {
    if (m_panel)
        return;
    createPanel();
    m_panel->winId();
    FloatingPanelState sample;
    sample.setOriginalText(QStringLiteral("Sample text"));
    sample.setOptimizedText(QStringLiteral("Sample text"));
    sample.setStatus(FloatingPanelStatus::Optimizing);
    sample.setRecipes(m_recipes.all());
    sample.setSelectedRecipeID(m_recipes.selectedRecipeID());
    FloatingPanelView view(sample, [](const FloatingPanelAction&) {}, nullptr, &m_clock);
    view.resize(scaledSize(PanelPlacement::panelWidth, PanelPlacement::runHeight).toSize());
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    static_cast<QWidget&>(view).render(&image);
}

void FloatingPanelController::createPanel() {
    m_panel = new PanelWindow;
    connect(m_panel, &PanelWindow::closed, this, &FloatingPanelController::onPanelClosed);
}

void FloatingPanelController::installView() {
    auto* view = new FloatingPanelView(
        m_state, [this](const FloatingPanelAction& action) { handleAction(action); }, nullptr, &m_clock);
    connect(view, &FloatingPanelView::closeRequested, m_panel, &QWidget::close);
    m_panel->setContentView(view);
}

// Next to the field when its place is known, else beside the line of text at the pointer; either
// is what the panel grows away from.
void FloatingPanelController::placeNextTo(std::optional<QPointF> elementTopLeft, QSizeF elementSize, QSizeF size,
                                          const std::optional<QRectF>& keepLine) {
    if (elementTopLeft)
        placeAndShow(calculateFrame(*elementTopLeft, elementSize, size, keepLine), QRectF(*elementTopLeft, elementSize));
    else
        placeAndShow(frameNearMouse(size, keepLine), PanelPlacement::pointerLine(m_desktop.pointer()));
}

void FloatingPanelController::placeAndShow(const QRect& frame, std::optional<QRectF> field) {
    m_field = field;
    // The width follows the desktop's font, which may have changed since the last show.
    m_panel->setFixedWidth(frame.width());
    m_panel->setGeometry(frame);
    m_panel->show();
    m_panel->raise();
}

// Closing the panel (its close control, or the window manager) abandons the running trigger; with
// an idle engine that does nothing.
void FloatingPanelController::onPanelClosed() { m_engine->abandon(false); }

QString FloatingPanelController::resolvedRecipeID(const QString& recipeId) const {
    return m_recipes.contains(recipeId) ? recipeId : m_recipes.selectedRecipeID();
}

// ---- recipe meta and actions ---------------------------------------------------------------

void FloatingPanelController::syncRecipeMeta(const QString& selectedID) {
    trigger::RecipeSource source = m_engine->currentRecipeSource();
    source.unsaved = source.kind == trigger::RecipeSource::Kind::AppRule && !m_recipes.appRulesSaved();
    m_state.setRecipeNote(source.label());
    const QString bundleID = m_engine->currentBundleID();
    if (bundleID.isEmpty() || !m_recipes.contains(selectedID)) {
        m_state.setCanRememberRule(false);
        return;
    }
    m_state.setCanRememberRule(m_recipes.appRecipeID(bundleID) != selectedID);
}

void FloatingPanelController::handleAction(const FloatingPanelAction& action) {
    using Kind = FloatingPanelAction::Kind;
    if (m_state.restored()) {
        // Restored content has no run behind it: the panel can only be put away.
        if (action.kind == Kind::Cancel || action.kind == Kind::Dismiss)
            hide();
        return;
    }
    switch (action.kind) {
    case Kind::SwitchRecipe:
        handleSwitchRecipe(action.text);
        break;
    case Kind::BeginDraft:
        // The description is in; the field gets the keyboard back before anything is written.
        releaseFocus();
        m_engine->finishDraft(action.text);
        break;
    case Kind::Replace:
        m_engine->replaceText();
        break;
    case Kind::Retry:
        m_engine->rerun(std::nullopt);
        break;
    case Kind::Cancel:
        m_engine->cancel();
        break;
    case Kind::Dismiss:
        hide();
        break;
    case Kind::RememberRecipe: {
        const QString selected = m_state.selectedRecipeID();
        m_engine->rememberAsAppDefault(selected);
        syncRecipeMeta(selected);
        break;
    }
    }
}

void FloatingPanelController::handleSwitchRecipe(const QString& id) {
    if (m_engine->isAwaitingInstruction()) {
        m_engine->stageManualRecipe(id);
        m_state.setSelectedRecipeID(id);
        syncRecipeMeta(id);
        return;
    }
    if (m_engine->currentBundleID().isEmpty()) {
        m_recipes.select(id);
        m_engine->rerun(std::nullopt);
        return;
    }
    m_engine->rerun(id);
}

// ---- placement -----------------------------------------------------------------------------

QSizeF FloatingPanelController::scaledSize(double width, double height) {
    const double scale = CVDesign::sizeScale();
    return QSizeF(qRound(width * scale), qRound(height * scale));
}

QRect FloatingPanelController::calculateFrame(QPointF elementTopLeft, QSizeF elementSize, QSizeF panelSize,
                                              const std::optional<QRectF>& keepLine) const {
    const QPointF centre = elementTopLeft + QPointF(elementSize.width() / 2, elementSize.height() / 2);
    const auto area = PanelPlacement::areaFor(m_desktop.screens(), centre);
    if (!area)
        return QRect(QPoint(0, 0), panelSize.toSize());
    const PanelPlacement::KeepFree keep{m_desktop.pointer(), keepLine};
    return PanelPlacement::toWindowRect(
        PanelPlacement::frameNearElement(*area, elementTopLeft, elementSize, panelSize, keep));
}

QRect FloatingPanelController::frameNearMouse(QSizeF size, const std::optional<QRectF>& keepLine) const {
    const QPointF pointer = m_desktop.pointer();
    const auto area = PanelPlacement::areaFor(m_desktop.screens(), pointer);
    if (!area)
        return QRect(QPoint(0, 0), size.toSize());
    return PanelPlacement::toWindowRect(PanelPlacement::frameNearPointer(*area, pointer, size, keepLine));
}

void FloatingPanelController::resizeToFit() {
    if (!m_panel)
        return;
    const double scale = CVDesign::sizeScale();
    const double preferred =
        PanelPlacement::preferredHeight(m_state.status(), m_state.originalText(), m_state.optimizedText(), scale);
    const QRect current = m_panel->geometry();
    const auto area = PanelPlacement::areaFor(m_desktop.screens(), QRectF(current).center());
    // Which side of its field the panel stands on is decided before it changes height: one above
    // its field grows upwards and never over it.
    const auto side = PanelPlacement::sideOf(current, m_field);
    if (const auto frame = PanelPlacement::fittedFrame(current, preferred, area.value_or(QRectF()), side, scale)) {
        m_panel->setFixedWidth(frame->width());
        m_panel->setGeometry(*frame);
    }
}

void FloatingPanelController::fitContent() {
    if (!m_panel || !m_panel->isVisible())
        return;
    // The sections lay themselves out on posted requests; each pass gives the text boxes the width
    // they get, at which they wrap, which may change what they need.
    QLayout* layout = m_panel->layout();
    for (int pass = 0; pass < 3; ++pass) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        layout->activate();
    }
    const QRect current = m_panel->geometry();
    const auto area = PanelPlacement::areaFor(m_desktop.screens(), QRectF(current).center());
    if (!area)
        return;
    // A panel above its field grows upwards, keeping its gap to the field; one below it, downwards.
    const QRect frame = PanelPlacement::grownFrame(current, layout->totalMinimumSize().height(), *area,
                                                   PanelPlacement::sideOf(current, m_field));
    if (frame != current)
        m_panel->setGeometry(frame);
}

// ---- focus ---------------------------------------------------------------------------------

void FloatingPanelController::releaseFocus() {
    if (!m_panel || !m_panel->acceptsFocus())
        return;
    const bool held = holdsFocus();
    m_panel->setAcceptsFocus(false);
    if (!held) {
        Q_EMIT focusReturned();
        return;
    }
    QObject::disconnect(m_focusWatch);
    m_focusWatch = connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
        if (m_panel && window && window == m_panel->windowHandle())
            return;
        QObject::disconnect(m_focusWatch);
        Q_EMIT focusReturned();
    });
    if (m_focusReturner) {
        m_focusReturner();
    } else if (m_panel->isVisible()) {
        // Unmapping the focused panel makes the window manager focus the window before it.
        m_panel->hide();
        m_panel->show();
    }
}

// ---- restore snapshot ----------------------------------------------------------------------

void FloatingPanelController::persistSnapshotForRestore() {
    if (!isPanelVisible())
        return;
    if (m_state.originalText().isEmpty() && m_state.optimizedText().isEmpty())
        return;
    const RestoreSnapshot snapshot{m_state.originalText(), m_state.optimizedText(), m_state.selectedRecipeID(),
                                   m_clock.now()};
    m_preferences.setValue(snapshotKey(), snapshot.toJson());
    // The process ends right after this; make sure the bytes reach the disk.
    m_preferences.sync();
}

void FloatingPanelController::restoreSnapshotIfFresh() {
    const auto bytes = m_preferences.bytes(snapshotKey());
    const auto snapshot = bytes ? RestoreSnapshot::fromJson(*bytes) : std::nullopt;
    m_preferences.remove(snapshotKey());
    m_preferences.sync();
    if (!snapshot || !snapshot->isFresh(m_clock.now()))
        return;
    if (snapshot->original.isEmpty() && snapshot->optimized.isEmpty())
        return;
    show(snapshot->original, std::nullopt, QSizeF(0, 0), snapshot->recipeID);
    m_state.setRecipeNote(tr("App updated · previous content restored"));
    // No run stands behind restored content: never leave it spinning as if one were running.
    showResult(snapshot->optimized);
    m_state.setRestored(true);
}

} // namespace corvane::panel
