#include "stores/OptimizationLog.h"
#include "stores/StoredJson.h"
#include <QCoreApplication>
#include <cmath>

namespace corvane::stores {

namespace {
struct StatusRow {
    OptimizationLog::LogStatus status;
    const char* raw;   // the stored form: keep byte for byte, earlier logs use it
    const char* label; // translation key and English label
};

constexpr StatusRow kStatuses[] = {
    {OptimizationLog::LogStatus::Triggered, "触发", QT_TRANSLATE_NOOP("OptimizationLog", "Triggered")},
    {OptimizationLog::LogStatus::Optimizing, "优化中", QT_TRANSLATE_NOOP("OptimizationLog", "Optimizing")},
    {OptimizationLog::LogStatus::Completed, "完成", QT_TRANSLATE_NOOP("OptimizationLog", "Completed")},
    {OptimizationLog::LogStatus::Failed, "失败", QT_TRANSLATE_NOOP("OptimizationLog", "Failed")},
    {OptimizationLog::LogStatus::Replaced, "已替换", QT_TRANSLATE_NOOP("OptimizationLog", "Replaced")},
    {OptimizationLog::LogStatus::Cancelled, "已取消", QT_TRANSLATE_NOOP("OptimizationLog", "Cancelled")},
};

const StatusRow& rowOf(OptimizationLog::LogStatus status) {
    for (const StatusRow& row : kStatuses)
        if (row.status == status)
            return row;
    return kStatuses[0];
}

// Absent gives nothing; present must be a string.
bool readOptionalString(const QJsonObject& object, const char* key, std::optional<QString>& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}
} // namespace

QList<OptimizationLog::LogStatus> OptimizationLog::allStatuses() {
    QList<LogStatus> out;
    for (const StatusRow& row : kStatuses)
        out << row.status;
    return out;
}

QString OptimizationLog::rawValue(LogStatus status) { return QString::fromUtf8(rowOf(status).raw); }

std::optional<OptimizationLog::LogStatus> OptimizationLog::statusFromRawValue(const QString& raw) {
    for (const StatusRow& row : kStatuses)
        if (raw == QString::fromUtf8(row.raw))
            return row.status;
    return std::nullopt;
}

QString OptimizationLog::displayName(LogStatus status) {
    return QCoreApplication::translate("OptimizationLog", rowOf(status).label);
}

std::optional<OptimizationLog> OptimizationLog::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue timestamp = object.value(QLatin1String("timestamp"));
    const QJsonValue status = object.value(QLatin1String("status"));
    const QJsonValue original = object.value(QLatin1String("originalPreview"));
    if (!id.isString() || !timestamp.isDouble() || !status.isString() || !original.isString())
        return std::nullopt;
    const auto uuid = storedjson::parseUuid(id.toString());
    const auto logStatus = statusFromRawValue(status.toString());
    const double seconds = timestamp.toDouble();
    // Beyond about ±285,000 years the millisecond count no longer fits; such a date is no date.
    if (!uuid || !logStatus || !std::isfinite(seconds) || std::fabs(seconds) > 9.0e12)
        return std::nullopt;
    OptimizationLog record;
    record.id = *uuid;
    record.timestamp = storedjson::fromSecondsSince2001(seconds);
    record.status = *logStatus;
    record.originalPreview = original.toString();
    if (!readOptionalString(object, "optimizedPreview", record.optimizedPreview) ||
        !readOptionalString(object, "detail", record.detail) ||
        !readOptionalString(object, "recipeName", record.recipeName) ||
        !readOptionalString(object, "context", record.context))
        return std::nullopt;
    return record;
}

QByteArray OptimizationLog::toJson() const {
    JsonObjectWriter writer;
    writer.add("id", storedjson::uuidText(id))
        .add("timestamp", storedjson::secondsSince2001(timestamp))
        .add("status", rawValue(status))
        .add("originalPreview", originalPreview);
    if (optimizedPreview)
        writer.add("optimizedPreview", *optimizedPreview);
    if (detail)
        writer.add("detail", *detail);
    if (recipeName)
        writer.add("recipeName", *recipeName);
    if (context)
        writer.add("context", *context);
    return writer.finish();
}

std::optional<QList<OptimizationLog>> OptimizationLog::listFromJson(const QByteArray& bytes) {
    return storedjson::decodeArray<OptimizationLog>(bytes, &OptimizationLog::fromJson);
}

QByteArray OptimizationLog::listToJson(const QList<OptimizationLog>& records) {
    return storedjson::encodeArray(records, [](const OptimizationLog& r) { return r.toJson(); });
}

} // namespace corvane::stores
