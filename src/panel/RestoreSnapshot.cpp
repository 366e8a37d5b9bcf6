#include "panel/RestoreSnapshot.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace corvane::panel {

namespace {
QDateTime referenceDate() { return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC); }
// Far beyond any real date; larger values would overflow the millisecond arithmetic.
constexpr double maxReferenceSeconds = 1e11;
} // namespace

double RestoreSnapshot::referenceSeconds(const QDateTime& date) {
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

std::optional<QDateTime> RestoreSnapshot::fromReferenceSeconds(double seconds) {
    if (!std::isfinite(seconds) || std::abs(seconds) > maxReferenceSeconds)
        return std::nullopt;
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0)));
}

QByteArray RestoreSnapshot::toJson() const {
    QJsonObject o;
    o.insert(QStringLiteral("original"), original);
    o.insert(QStringLiteral("optimized"), optimized);
    o.insert(QStringLiteral("recipeID"), recipeID);
    o.insert(QStringLiteral("date"), referenceSeconds(date));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<RestoreSnapshot> RestoreSnapshot::fromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue original = o.value(QStringLiteral("original"));
    const QJsonValue optimized = o.value(QStringLiteral("optimized"));
    const QJsonValue recipeID = o.value(QStringLiteral("recipeID"));
    const QJsonValue date = o.value(QStringLiteral("date"));
    if (!original.isString() || !optimized.isString() || !recipeID.isString() || !date.isDouble())
        return std::nullopt;
    const auto when = fromReferenceSeconds(date.toDouble());
    if (!when)
        return std::nullopt;
    return RestoreSnapshot{original.toString(), optimized.toString(), recipeID.toString(), *when};
}

bool RestoreSnapshot::isFresh(const QDateTime& now) const {
    const double age = double(date.msecsTo(now)) / 1000.0;
    return age < maxAgeSeconds;
}

} // namespace corvane::panel
