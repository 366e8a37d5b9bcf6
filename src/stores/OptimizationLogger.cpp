#include "stores/OptimizationLogger.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"
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
    : QObject(parent), m_prefs(preferences), m_clock(clock),
      m_slot(preferences, clock, QString::fromLatin1(storageKey)) {
    const auto stored = m_slot.read();
    if (!stored)
        return;
    if (auto records = OptimizationLog::listFromJson(*stored)) {
        m_entries = std::move(*records);
        m_encoded.reserve(m_entries.size());
        for (const OptimizationLog& record : std::as_const(m_entries))
            m_encoded.append(record.toJson());
    } else
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

    m_encoded.prepend(record.toJson());
    m_entries.prepend(std::move(record));
    if (m_entries.size() > maxEntries) {
        m_entries.resize(maxEntries);
        m_encoded.resize(maxEntries);
    }
    save();
    Q_EMIT entriesChanged();
}

void OptimizationLogger::clearAll() {
    m_entries.clear();
    m_encoded.clear();
    save();
    Q_EMIT entriesChanged();
}

OptimizationLogger::~OptimizationLogger() { flush(); }

void OptimizationLogger::save() {
    qsizetype size = 2 + m_encoded.size();
    for (const QByteArray& json : std::as_const(m_encoded))
        size += json.size();
    QByteArray list;
    list.reserve(size);
    list += '[';
    for (qsizetype i = 0; i < m_encoded.size(); ++i) {
        if (i)
            list += ',';
        list += m_encoded.at(i);
    }
    list += ']';
    m_slot.write(list);
    // One push to storage for every change of this turn; a run's records are on disk before the
    // loop goes on to anything else.
    if (!std::exchange(m_flushPending, true))
        QMetaObject::invokeMethod(this, &OptimizationLogger::flush, Qt::QueuedConnection);
}

void OptimizationLogger::flush() {
    if (!std::exchange(m_flushPending, false))
        return;
    m_prefs.sync();
}

} // namespace corvane::stores
