#include "services/UpdateService.h"
#include "platform/Preferences.h"
#include "stores/DiagLog.h"
#include <QStringList>

namespace corvane::services {

namespace {
UpdateService* g_shared = nullptr;
}

UpdateService::UpdateService(platform::Preferences& preferences, QString currentVersion, QObject* parent)
    : QObject(parent), m_preferences(preferences), m_currentVersion(std::move(currentVersion)) {
    if (m_currentVersion.isEmpty())
        m_currentVersion = QStringLiteral("0.0");
}

UpdateService& UpdateService::shared() {
    if (!g_shared)
        qFatal("UpdateService::shared() used before the application wired it");
    return *g_shared;
}

void UpdateService::setShared(UpdateService* service) { g_shared = service; }

int UpdateService::compareVersions(const QString& a, const QString& b) {
    const QStringList pa = a.trimmed().split(QLatin1Char('.'));
    const QStringList pb = b.trimmed().split(QLatin1Char('.'));
    const qsizetype n = std::max(pa.size(), pb.size());
    for (qsizetype i = 0; i < n; ++i) {
        const qlonglong x = i < pa.size() ? pa[i].toLongLong() : 0;
        const qlonglong y = i < pb.size() ? pb[i].toLongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool UpdateService::isUpdateRequired() const {
    const QString minimum = m_preferences.string(QString::fromLatin1(minVersionKey)).value_or(QString()).trimmed();
    return !minimum.isEmpty() && compareVersions(minimum, m_currentVersion) > 0;
}

void UpdateService::cleanupStaleStaging() {}

void UpdateService::startAutoChecks() {}

QCoro::Task<> UpdateService::checkAndInstall(bool) { co_return; }

void UpdateService::showForcedUpdateWindow() {
    if (m_presenter)
        m_presenter();
    else
        stores::DiagLog::event(QStringLiteral("update: a required update is pending (running v") + m_currentVersion +
                               QLatin1Char(')'));
}

} // namespace corvane::services
