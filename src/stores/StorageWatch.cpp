#include "stores/StorageWatch.h"
#include "platform/Clock.h"
#include "stores/DiagLog.h"

namespace corvane::stores {

StorageWatch::StorageWatch(platform::Preferences& preferences, platform::Clock& clock, QObject* parent)
    : QObject(parent), m_prefs(preferences), m_clock(clock) {
    m_prefs.setPushObserver([this] { pushed(); });
    if (const auto damaged = m_prefs.damagedFile()) {
        m_damagedUnkept = damaged->keptAs.isEmpty();
        DiagLog::event(m_damagedUnkept
                           ? QStringLiteral("Preferences: %1 cannot be read as settings (%2) and no copy of it could "
                                            "be made; nothing is written over it until one is (told the user)")
                                 .arg(damaged->path, damaged->reason)
                           : QStringLiteral("Preferences: %1 cannot be read as settings (%2); kept it as %3, settings "
                                            "not read start from their defaults (told the user)")
                                 .arg(damaged->path, damaged->reason, damaged->keptAs));
    }
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
    const QString read = tr("Corvane could not read its settings file %1 (%2). Settings it could not read are back to "
                            "their defaults: look over the API settings, recipes and app rules.")
                             .arg(damaged.path, damaged.reason);
    if (damaged.keptAs.isEmpty())
        return read + QLatin1Char(' ') +
               tr("No copy of the damaged file could be made, so Corvane saves nothing over it for now.");
    return read + QLatin1Char(' ') + tr("The damaged file was kept as %1.").arg(damaged.keptAs);
}

void StorageWatch::pushed() {
    if (m_damagedUnkept)
        if (const auto damaged = m_prefs.damagedFile(); damaged && !damaged->keptAs.isEmpty()) {
            m_damagedUnkept = false;
            DiagLog::event(QStringLiteral("Preferences: the damaged %1 was kept as %2").arg(damaged->path, damaged->keptAs));
        }
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
