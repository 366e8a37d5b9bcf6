#pragma once
// What the updater shows the user. The UI layer implements it with windows; tests record the calls.
// Nothing here may run a modal loop: questions are answered through the returned task.
#include <QString>
#include <qcoro/qcorotask.h>

namespace corvane::services {

class UpdatePresenter {
public:
    virtual ~UpdatePresenter() = default;

    // The blocking forced-update window, built on first use; later calls refresh its text.
    virtual void showForcedUpdate(const QString& detail) = 0;
    // An alert for a check or an install the user asked for.
    virtual void showAlert(const QString& title, const QString& text) = 0;
    // Asks before installing version; true installs.
    virtual QCoro::Task<bool> askToInstall(const QString& version, const QString& notes) = 0;
    // The user asked again while that question is still open: bring it to the front.
    virtual void raiseQuestion() {}
    // A newer version exists but this copy cannot update itself: says how to update instead.
    virtual void showManualUpdate(const QString& version, const QString& notes, const QString& howTo) = 0;
};

} // namespace corvane::services
