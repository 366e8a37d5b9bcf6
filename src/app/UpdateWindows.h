#pragma once
// The updater's windows: the forced-update window (built once, reused), the alerts of a check the
// user asked for, and the question before installing. The forced-update window appears on its own
// while the user types, so it never takes the keyboard focus and has no default button.
#include "services/UpdatePresenter.h"
#include <QObject>
#include <QPointer>
#include <functional>

#include <QMessageBox>
#include <QWidget>

class QLabel;

namespace corvane::app {

class UpdateWindows final : public QObject, public services::UpdatePresenter {
    Q_OBJECT
public:
    // updateNow runs when the user asks the forced-update window to update.
    explicit UpdateWindows(std::function<void()> updateNow, QObject* parent = nullptr);
    ~UpdateWindows() override;

    void showForcedUpdate(const QString& detail) override;
    void showAlert(const QString& title, const QString& text) override;
    QCoro::Task<bool> askToInstall(const QString& version, const QString& notes) override;
    void raiseQuestion() override;
    void showManualUpdate(const QString& version, const QString& notes, const QString& howTo) override;

    // The forced-update window once built (for tests), else null.
    QWidget* forcedWindow() const { return m_forced; }

private:
    QMessageBox* message(const QString& title, const QString& text, const QString& informative);

    std::function<void()> m_updateNow;
    QPointer<QWidget> m_forced;
    QLabel* m_forcedDetail = nullptr;
    QPointer<QMessageBox> m_message;
    QPointer<QMessageBox> m_question;
};

} // namespace corvane::app
