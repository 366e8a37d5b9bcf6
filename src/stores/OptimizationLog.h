#pragma once
// One activity-log record. Stored as a JSON object with the field names as keys; "timestamp" in
// seconds since 2001-01-01 UTC, "id" upper-case, optional fields left out when absent.
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

namespace corvane::stores {

struct OptimizationLog {
    enum class LogStatus { Triggered, Optimizing, Completed, Failed, Replaced, Cancelled };

    QUuid id;
    QDateTime timestamp;
    LogStatus status = LogStatus::Triggered;
    QString originalPreview;
    std::optional<QString> optimizedPreview;
    std::optional<QString> detail;
    std::optional<QString> recipeName;
    std::optional<QString> context;

    bool operator==(const OptimizationLog&) const = default;

    static QList<LogStatus> allStatuses();
    // The stored value ("触发", "优化中", "完成", "失败", "已替换", "已取消").
    static QString rawValue(LogStatus status);
    static std::optional<LogStatus> statusFromRawValue(const QString& raw);
    // The English label shown to the user, through the translation lookup.
    static QString displayName(LogStatus status);

    // Preview length in user-perceived characters.
    static constexpr qsizetype previewLength = 80;

    // Fails on a missing required key, a wrong type, an invalid UUID or an unknown status.
    static std::optional<OptimizationLog> fromJson(const QJsonObject& object);
    QByteArray toJson() const;

    static std::optional<QList<OptimizationLog>> listFromJson(const QByteArray& bytes);
    static QByteArray listToJson(const QList<OptimizationLog>& records);
};

} // namespace corvane::stores
