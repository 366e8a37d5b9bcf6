#include "panel/FloatingPanelState.h"

namespace corvane::panel {

FloatingPanelState::FloatingPanelState(QObject* parent) : QObject(parent) {}

void FloatingPanelState::setOriginalText(const QString& value) {
    m_originalText = value;
    Q_EMIT originalTextChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::setOptimizedText(const QString& value) {
    m_optimizedText = value;
    Q_EMIT optimizedTextChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::appendOptimizedText(const QString& piece) {
    m_optimizedText += piece;
    Q_EMIT optimizedTextAppended(piece);
    Q_EMIT optimizedTextChanged(m_optimizedText);
    Q_EMIT changed();
}

void FloatingPanelState::setStatus(FloatingPanelStatus value) {
    m_status = value;
    Q_EMIT statusChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::setErrorMessage(const QString& value) {
    m_errorMessage = value;
    Q_EMIT errorMessageChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::setRecipes(const QList<RecipeChoice>& value) {
    m_recipes = value;
    Q_EMIT recipesChanged();
    Q_EMIT changed();
}

void FloatingPanelState::setSelectedRecipeID(const QString& value) {
    m_selectedRecipeID = value;
    Q_EMIT selectedRecipeIDChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::setDraftInput(const QString& value) {
    m_draftInput = value;
    Q_EMIT draftInputChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::setRecipeNote(const QString& value) {
    m_recipeNote = value;
    Q_EMIT recipeNoteChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::setCanRememberRule(bool value) {
    m_canRememberRule = value;
    Q_EMIT canRememberRuleChanged(value);
    Q_EMIT changed();
}

void FloatingPanelState::setRestored(bool value) {
    m_restored = value;
    Q_EMIT restoredChanged(value);
    Q_EMIT changed();
}

} // namespace corvane::panel
