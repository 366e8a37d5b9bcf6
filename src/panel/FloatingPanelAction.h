#pragma once
// What the panel's view asks the panel controller to do. A plain value, copied when sent.
#include <QString>

namespace corvane::panel {

struct FloatingPanelAction {
    enum class Kind { SwitchRecipe, BeginDraft, Replace, Retry, Cancel, Dismiss, RememberRecipe };

    Kind kind = Kind::Dismiss;
    QString text; // the recipe id of SwitchRecipe, the instruction of BeginDraft; empty otherwise

    static FloatingPanelAction switchRecipe(QString recipeId) { return {Kind::SwitchRecipe, std::move(recipeId)}; }
    static FloatingPanelAction beginDraft(QString instruction) { return {Kind::BeginDraft, std::move(instruction)}; }
    static FloatingPanelAction replace() { return {Kind::Replace, {}}; }
    static FloatingPanelAction retry() { return {Kind::Retry, {}}; }
    static FloatingPanelAction cancel() { return {Kind::Cancel, {}}; }
    static FloatingPanelAction dismiss() { return {Kind::Dismiss, {}}; }
    static FloatingPanelAction rememberRecipe() { return {Kind::RememberRecipe, {}}; }
};

} // namespace corvane::panel
