#include "stores/StorageWatch.h"
#include "platform/Clock.h"
#include "stores/DiagLog.h"

namespace corvane::stores {

StorageWatch::StorageWatch(platform::Preferences& preferences, platform::Clock& clock, QObject* parent)
    : QObject(parent), m_prefs(preferences), m_clock(clock) {
    m_prefs.setPushObserver([this] { pushed(); });
    noteDamage();
}

// Each damage is told once; a copy made after it was told is only logged.
void StorageWatch::noteDamage() {
    const std::optional<platform::DamagedFile> now = m_prefs.damagedFile();
    if (!now || now == m_damaged)
        return;
    const std::optional<platform::DamagedFile> before = std::exchange(m_damaged, now);
    if (before && before->count == now->count) {
        if (!now->keptAs.isEmpty())
            DiagLog::event(QStringLiteral("Preferences: the damaged %1 was kept as %2").arg(now->path, now->keptAs));
        return;
    }
    const QString found = now->whileRunning ? QStringLiteral("Preferences: %1 was changed on disk and cannot be read "
                                                             "as settings (%2)")
                                            : QStringLiteral("Preferences: %1 cannot be read as settings (%2)");
    const QString done = now->whileRunning ? QStringLiteral("the settings in memory are written back over it")
                                           : QStringLiteral("settings it could not read start from their defaults");
    DiagLog::event(found.arg(now->path, now->reason) +
                   (now->keptAs.isEmpty()
                        ? QStringLiteral(" and no copy of it could be made; nothing is written over it until one is "
                                         "(told the user)")
                        : QStringLiteral("; kept it as %1, %2 (told the user)").arg(now->keptAs, done)));
    // The damage found at start is told by the application once its tray is up.
    if (now->whileRunning)
        Q_EMIT damagedFound(damagedTitle(), damagedMessage(*now));
}

StorageWatch::~StorageWatch() { m_prefs.setPushObserver({}); }

QString StorageWatch::title() { return tr("Settings cannot be saved"); }

QString StorageWatch::message(const platform::SaveFailure& failure) {
    return tr("Corvane cannot write to %1: %2.\nYour settings, app rules and activity log are kept while Corvane "
              "runs and saved as soon as the folder can be written again; quitting before then loses the "
              "changes.")
        .arg(failure.folder, failure.reason);
}

QString StorageWatch::damagedTitle() { return tr("Settings file damaged"); }

QString StorageWatch::damagedMessage(const platform::DamagedFile& damaged) {
    const QString read =
        damaged.whileRunning
            ? tr("Corvane's settings file %1 was changed by another program and can no longer be read as settings "
                 "(%2). Corvane keeps the settings it had and writes them back.")
                  .arg(damaged.path, damaged.reason)
            : tr("Corvane could not read its settings file %1 (%2). The settings it could still read are kept; any "
                 "others are back to their defaults: look over the API settings, recipes and app rules.")
                  .arg(damaged.path, damaged.reason);
    if (damaged.keptAs.isEmpty())
        return read + QLatin1Char(' ') +
               tr("No copy of the damaged file could be made, so Corvane saves nothing over it for now.");
    return read + QLatin1Char(' ') + tr("The damaged file was kept as %1.").arg(damaged.keptAs);
}

void StorageWatch::pushed() {
    noteDamage();
    const std::optional<platform::SaveFailure> now = m_prefs.saveFailure();
    if (now == m_failure) {
        if (now)
            scheduleRetry();
        return;
    }
    const std::optional<platform::SaveFailure> before = std::exchange(m_failure, now);
    if (!now) {
        DiagLog::event(QStringLiteral("Preferences saved again in ") + before->folder);
        Q_EMIT saveRecovered();
        return;
    }
    if (before) {
        // Still failing, for another reason: logged, but the user has been told already.
        DiagLog::event(QStringLiteral("Preferences still cannot be saved in %1: %2").arg(now->folder, now->reason));
    } else {
        DiagLog::event(QStringLiteral("Preferences cannot be saved in %1: %2 (kept in memory, told the user)")
                           .arg(now->folder, now->reason));
        Q_EMIT saveFailed(title(), message(*now));
    }
    scheduleRetry();
}

void StorageWatch::scheduleRetry() {
    if (std::exchange(m_retryPending, true))
        return;
    m_clock.schedule(retryMs, this, [this] {
        m_retryPending = false;
        if (m_failure)
            m_prefs.sync();
    });
}

void StorageWatch::pushBeforeQuit() {
    m_prefs.sync();
    if (const auto failure = m_prefs.saveFailure())
        DiagLog::event(QStringLiteral("Quitting with preferences not saved in %1: %2").arg(failure->folder, failure->reason));
}

} // namespace corvane::stores
