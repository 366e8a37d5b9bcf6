#pragma once
// The panel's observable model. Only the panel controller writes it, except draftInput, which the
// draft editor edits. Every assignment is announced, also one that stores an equal value: first the
// property's own signal, then changed().
#include "panel/FloatingPanelStatus.h"
#include "panel/RecipeCatalog.h"
#include <QList>
#include <QObject>
#include <QString>

namespace corvane::panel {

class FloatingPanelState : public QObject {
    Q_OBJECT
public:
    explicit FloatingPanelState(QObject* parent = nullptr);

    QString originalText() const { return m_originalText; }
    QString optimizedText() const { return m_optimizedText; }
    FloatingPanelStatus status() const { return m_status; }
    QString errorMessage() const { return m_errorMessage; }
    QList<RecipeChoice> recipes() const { return m_recipes; }
    QString selectedRecipeID() const { return m_selectedRecipeID; }
    QString draftInput() const { return m_draftInput; }
    QString recipeNote() const { return m_recipeNote; }
    bool canRememberRule() const { return m_canRememberRule; }
    // True while the panel shows content restored after an update: no run stands behind it, so
    // the controls that would act on a run are not offered.
    bool restored() const { return m_restored; }

    void setOriginalText(const QString& value);
    void setOptimizedText(const QString& value);
    // optimizedText grows by piece. Announced as an assignment of the whole text, preceded by
    // optimizedTextAppended, so that a view can take just the piece.
    void appendOptimizedText(const QString& piece);
    void setStatus(FloatingPanelStatus value);
    void setErrorMessage(const QString& value);
    void setRecipes(const QList<RecipeChoice>& value);
    void setSelectedRecipeID(const QString& value);
    void setDraftInput(const QString& value);
    void setRecipeNote(const QString& value);
    void setCanRememberRule(bool value);
    void setRestored(bool value);

Q_SIGNALS:
    void originalTextChanged(const QString& value);
    void optimizedTextChanged(const QString& value);
    void optimizedTextAppended(const QString& piece);
    void statusChanged(corvane::panel::FloatingPanelStatus value);
    void errorMessageChanged(const QString& value);
    void recipesChanged();
    void selectedRecipeIDChanged(const QString& value);
    void draftInputChanged(const QString& value);
    void recipeNoteChanged(const QString& value);
    void canRememberRuleChanged(bool value);
    void restoredChanged(bool value);
    // After any property was assigned.
    void changed();

private:
    QString m_originalText;
    QString m_optimizedText;
    FloatingPanelStatus m_status = FloatingPanelStatus::Optimizing;
    QString m_errorMessage;
    QList<RecipeChoice> m_recipes;
    QString m_selectedRecipeID;
    QString m_draftInput;
    QString m_recipeNote;
    bool m_canRememberRule = false;
    bool m_restored = false;
};

} // namespace corvane::panel
