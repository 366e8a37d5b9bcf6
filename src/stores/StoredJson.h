#pragma once
// Helpers for JSON values kept under preference keys: the stored forms of dates, UUIDs and strings,
// an ordered object writer, and a slot that never overwrites data it could not read without first
// keeping the raw bytes aside.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QUuid>
#include <QVariant>
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
// Hyphenated UUID text of either letter case, no braces.
std::optional<QUuid> parseUuid(const QString& text);

// A JSON array whose elements all decode; nothing when the text or any element does not.
template <class T, class Decode>
std::optional<QList<T>> decodeArray(const QByteArray& bytes, Decode decode) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<T> out;
    const QJsonArray array = doc.array();
    out.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return std::nullopt;
        std::optional<T> item = decode(element.toObject());
        if (!item)
            return std::nullopt;
        out.push_back(std::move(*item));
    }
    return out;
}

// "[" + each element's JSON joined by "," + "]".
template <class T, class Encode>
QByteArray encodeArray(const QList<T>& items, Encode encode) {
    QByteArray out = "[";
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i)
            out += ',';
        out += encode(items[i]);
    }
    out += ']';
    return out;
}
} // namespace storedjson

// Writes one JSON object with its keys in the order they are added.
class JsonObjectWriter {
public:
    JsonObjectWriter& add(const QString& key, const QString& value);
    JsonObjectWriter& add(const QString& key, double value);
    JsonObjectWriter& add(const QString& key, qint64 value);
    JsonObjectWriter& addRaw(const QString& key, const QByteArray& json);
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
    // The stored bytes, or nothing when the key is absent. A value that is not text reads as no bytes.
    std::optional<QByteArray> read() const;
    // Reports that the bytes read could not be decoded; remembered for the next write.
    void markUnreadable(const QByteArray& raw, const QString& reason);
    // The key the unreadable bytes were kept under, once they have been.
    const QString& keptAsideKey() const { return m_keptAsideKey; }
    void write(const QByteArray& json);
    // Stores value under "<key>.corrupt-<seconds since 2001>" (with "-2", "-3"... when taken) and
    // returns that key.
    QString keepAside(const QVariant& value);
    static constexpr const char* keptAsideMark = ".corrupt-";

private:
    platform::Preferences& m_prefs;
    platform::Clock& m_clock;
    QString m_key;
    std::optional<QVariant> m_unreadable; // the stored value exactly as the backend handed it over
    QString m_keptAsideKey;
};

} // namespace corvane::stores
