#pragma once
// Helpers for JSON values kept under preference keys: the stored forms of dates, UUIDs and strings,
// an ordered object writer, and a slot that never overwrites data it could not read without first
// keeping the raw bytes aside.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>
#include <optional>

namespace corvane::platform {
class Preferences;
class Clock;
} // namespace corvane::platform

namespace corvane::stores {

namespace storedjson {
// Seconds (with fraction) since 2001-01-01 00:00:00 UTC.
double secondsSince2001(const QDateTime& time);
QDateTime fromSecondsSince2001(double seconds);
// 36-character hyphenated upper-case text.
QString uuidText(const QUuid& uuid);
// A new random UUID as uuidText.
QString newUuidText();
// A JSON string literal, quotes included.
QByteArray quoted(const QString& text);
// A JSON number literal (shortest round-trip form).
QByteArray number(double value);
} // namespace storedjson

// Writes one JSON object with its keys in the order they are added.
class JsonObjectWriter {
public:
    JsonObjectWriter& add(const char* key, const QString& value);
    JsonObjectWriter& add(const char* key, double value);
    JsonObjectWriter& add(const char* key, qint64 value);
    JsonObjectWriter& addRaw(const char* key, const QByteArray& json);
    QByteArray finish() const;

private:
    QByteArray m_body;
};

// One JSON value under one preference key. When the value read at start could not be decoded, the
// first write first copies the raw bytes to "<key>.corrupt-<seconds since 2001>" and logs it, so the
// user's data is never lost.
class StoredJson {
public:
    StoredJson(platform::Preferences& preferences, platform::Clock& clock, QString key);

    const QString& key() const { return m_key; }
    // The stored bytes, or nothing when the key holds nothing.
    std::optional<QByteArray> read() const;
    // Reports that the bytes read could not be decoded; remembered for the next write.
    void markUnreadable(const QByteArray& raw, const QString& reason);
    // The key the unreadable bytes were kept under, once they have been.
    const QString& keptAsideKey() const { return m_keptAsideKey; }
    void write(const QByteArray& json);

private:
    platform::Preferences& m_prefs;
    platform::Clock& m_clock;
    QString m_key;
    std::optional<QByteArray> m_unreadable;
    QString m_keptAsideKey;
};

} // namespace corvane::stores
