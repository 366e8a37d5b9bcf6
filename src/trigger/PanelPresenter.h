#pragma once
// What the engine asks of the floating result panel. Implemented by FloatingPanelController (UI
// layer); tests use a recording fake. Main thread only.
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>

namespace corvane::trigger {

class PanelPresenter {
public:
    virtual ~PanelPresenter() = default;

    // elementTopLeft: the field's top-left corner in Qt global logical coordinates (y down), or
    // nothing to place the panel near the pointer. elementSize: the field's size. keepLine: the line
    // of text the user works on in the field (the caret's or the selection's), when known: where the
    // panel cannot stand beside the field, it covers neither that line nor the pointer.
    virtual void show(const QString& originalText, std::optional<QPointF> elementTopLeft, QSizeF elementSize,
                      const QString& recipeId, const std::optional<QRectF>& keepLine = std::nullopt) = 0;
    virtual void showDraft(std::optional<QPointF> elementTopLeft, QSizeF elementSize, const QString& recipeId,
                           const std::optional<QRectF>& keepLine = std::nullopt) = 0;
    // Puts a description in the draft box that showDraft() opened: one the user wrote before.
    virtual void setDraftText(const QString& description) = 0;
    // Draft submitted: switch the panel to optimizing with the recipe that will run.
    virtual void beginStreamingResult(const QString& recipeId) = 0;
    virtual void updateResult(const QString& textSoFar) = 0;
    // A streamed piece: the answer so far grew by `piece` and is now `textSoFar`. A panel that keeps
    // the text itself takes only the piece, so that a long answer costs no more per token than a
    // short one; the default hands over the whole text.
    virtual void appendResult(const QString& piece, const QString& textSoFar) {
        Q_UNUSED(piece);
        updateResult(textSoFar);
    }
    virtual void showResult(const QString& finalText) = 0;
    virtual void showError(const QString& message) = 0;
    virtual void showErrorMessage(const QString& message) = 0;
    // An error-only panel about a field the run could not read, kept clear of keepFree (the field's
    // window, Qt global logical coordinates): the user is to select the text there while it shows.
    // Where it has to stand inside the window, it leaves keepLine free too.
    virtual void showErrorMessageBeside(const QString& message, const QRectF& keepFree,
                                        const std::optional<QRectF>& keepLine = std::nullopt) {
        Q_UNUSED(keepFree);
        Q_UNUSED(keepLine);
        showErrorMessage(message);
    }
    virtual void hide() = 0;
    virtual bool isPanelVisible() const = 0;
};

} // namespace corvane::trigger
