#include "stores/OptimizationLogger.h"
#include "platform/Clock.h"
#include "stores/Graphemes.h"
#include <QtGlobal>
#include <atomic>

namespace corvane::stores {

namespace {
std::atomic<OptimizationLogger*> g_shared{nullptr};
} // namespace

OptimizationLogger& OptimizationLogger::shared() {
    OptimizationLogger* logger = g_shared.load();
    if (!logger)
        qFatal("OptimizationLogger::shared() used before the composition root set it");
    return *logger;
}

void OptimizationLogger::setShared(OptimizationLogger* logger) { g_shared.store(logger); }

OptimizationLogger::OptimizationLogger(platform::Preferences& preferences, platform::Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_slot(preferences, clock, QString::fromLatin1(storageKey)) {
    const auto stored = m_slot.read();
    if (!stored)
        return;
    if (auto records = OptimizationLog::listFromJson(*stored))
        m_entries = std::move(*records);
    else
        m_slot.markUnreadable(*stored, QStringLiteral("not a JSON array of activity records"));
}

void OptimizationLogger::log(OptimizationLog::LogStatus status, const QString& original,
                             std::optional<QString> optimized, std::optional<QString> detail,
                             std::optional<QString> recipe, std::optional<QString> context) {
    OptimizationLog record;
    record.id = QUuid::createUuid();
    record.timestamp = m_clock.now();
    record.status = status;
    record.originalPreview = graphemes::prefix(original, OptimizationLog::previewLength);
    if (optimized)
        record.optimizedPreview = graphemes::prefix(*optimized, OptimizationLog::previewLength);
    record.detail = std::move(detail);
    record.recipeName = std::move(recipe);
    record.context = std::move(context);

    m_entries.prepend(std::move(record));
    if (m_entries.size() > maxEntries)
        m_entries.resize(maxEntries);
    save();
    Q_EMIT entriesChanged();
}

void OptimizationLogger::clearAll() {
    m_entries.clear();
    save();
    Q_EMIT entriesChanged();
}

void OptimizationLogger::save() { m_slot.write(OptimizationLog::listToJson(m_entries)); }

} // namespace corvane::stores
