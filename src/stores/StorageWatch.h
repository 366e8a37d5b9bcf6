#pragma once
// Watches whether the preferences (settings, recipes, app rules, the activity log) reach the disk.
// The first push that fails writes one diagnostics line naming the folder and the reason and tells
// the user once (saveFailed); the values stay in memory, and the watch pushes them again every
// retryMs until a push lands, as does every later change. A push that lands writes one line and
// ends the episode (saveRecovered); a later failure is told again. A preferences file found damaged
// at start is logged with where its copy was kept; each damage found later is logged and told once
// (damagedFound), even while no copy of an earlier one could be made yet. Main thread only.
#include "platform/Preferences.h"
#include <QObject>
#include <optional>

namespace corvane::platform {
class Clock;
}

namespace corvane::stores {

class StorageWatch : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 retryMs = 30'000;

    StorageWatch(platform::Preferences& preferences, platform::Clock& clock, QObject* parent = nullptr);
    ~StorageWatch() override;

    // The failure being told about; nothing while everything is saved.
    std::optional<platform::SaveFailure> failure() const { return m_failure; }
    // The user's words for a failure.
    static QString title();
    static QString message(const platform::SaveFailure& failure);
    // The user's words for a preferences file found damaged.
    static QString damagedTitle();
    static QString damagedMessage(const platform::DamagedFile& damaged);
    // The last try, when the app quits: logs what is lost if the folder still refuses.
    void pushBeforeQuit();

Q_SIGNALS:
    void saveFailed(const QString& title, const QString& message);
    void saveRecovered();
    void damagedFound(const QString& title, const QString& message);

private:
    void pushed();
    void noteDamage();
    void scheduleRetry();

    platform::Preferences& m_prefs;
    platform::Clock& m_clock;
    std::optional<platform::SaveFailure> m_failure;
    bool m_retryPending = false;
    std::optional<platform::DamagedFile> m_damaged; // the damage logged last
};

} // namespace corvane::stores
