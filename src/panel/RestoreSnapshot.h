#pragma once
// The panel's content saved across a self-update: stored as JSON bytes under
// "panelRestoreSnapshot" with the keys "original", "optimized", "recipeID" and "date" (seconds
// since 2001-01-01 00:00:00 UTC, fraction included).
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace corvane::panel {

struct RestoreSnapshot {
    QString original;
    QString optimized;
    QString recipeID;
    QDateTime date;

    static constexpr const char* preferenceKey = "panelRestoreSnapshot";
    // A snapshot this many seconds old or older is not shown again.
    static constexpr double maxAgeSeconds = 900;

    QByteArray toJson() const;
    // Nothing unless the bytes are a JSON object with all four keys of the right types.
    static std::optional<RestoreSnapshot> fromJson(const QByteArray& json);

    // Seconds between 2001-01-01 00:00:00 UTC and a point in time, and back.
    static double referenceSeconds(const QDateTime& date);
    static std::optional<QDateTime> fromReferenceSeconds(double seconds);

    // Younger than maxAgeSeconds at now; a date in the future counts as fresh.
    bool isFresh(const QDateTime& now) const;
};

} // namespace corvane::panel
