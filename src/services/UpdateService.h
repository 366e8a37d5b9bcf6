#pragma once
// The update gate: a run is refused while the stored minimum version ("updateMinVersion", from the
// last update manifest) is newer than the running version.
#include "trigger/UpdateGate.h"
#include <QObject>
#include <functional>
#include <qcoro/qcorotask.h>

namespace corvane::platform {
class Preferences;
}

namespace corvane::services {

class UpdateService final : public QObject, public trigger::UpdateGate {
    Q_OBJECT
public:
    static constexpr const char* minVersionKey = "updateMinVersion";

    UpdateService(platform::Preferences& preferences, QString currentVersion, QObject* parent = nullptr);
    static UpdateService& shared();
    static void setShared(UpdateService* service);

    // What the updater is doing, published through statusChanged().
    struct Status {
        enum class Kind { Idle, Checking, Available, Downloading, UpToDate, Failed };
        Kind kind = Kind::Idle;
        QString version;        // Available
        QString notes;          // Available
        double progress = 0.0;  // Downloading, 0 to 1
        QString message;        // Failed
    };

    Status status() const { return m_status; }
    // Removes leftover staging folders beside the install (never the install itself).
    void cleanupStaleStaging();
    // A check 15 s from now, then every 6 h, each only while "updateAutoCheck" is on.
    void startAutoChecks();
    // Returns at once while a check or a download runs.
    QCoro::Task<> checkAndInstall(bool manual);

    QString currentVersion() const { return m_currentVersion; }
    bool isUpdateRequired() const override;
    void showForcedUpdateWindow() override;
    // The UI layer shows the blocking window; without one the request goes to the diagnostics log.
    void setForcedUpdatePresenter(std::function<void()> presenter) { m_presenter = std::move(presenter); }

    // -1, 0 or 1 as a is older than, equal to or newer than b ("1.10" > "1.9"; missing parts are 0).
    static int compareVersions(const QString& a, const QString& b);

Q_SIGNALS:
    void statusChanged();

private:
    platform::Preferences& m_preferences;
    Status m_status;
    QString m_currentVersion;
    std::function<void()> m_presenter;
};

} // namespace corvane::services
