#include "stores/StoredJson.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"
#include "stores/DiagLog.h"
#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace corvane::stores {

namespace storedjson {

namespace {
// 2001-01-01 00:00:00 UTC in milliseconds since 1970.
constexpr qint64 kEpoch2001Ms = 978307200000LL;

} // namespace

double secondsSince2001(const QDateTime& time) {
    return double(time.toMSecsSinceEpoch() - kEpoch2001Ms) / 1000.0;
}

QDateTime fromSecondsSince2001(double seconds) {
    return QDateTime::fromMSecsSinceEpoch(kEpoch2001Ms + qint64(std::llround(seconds * 1000.0)), Qt::UTC);
}

QString uuidText(const QUuid& uuid) { return uuid.toString(QUuid::WithoutBraces).toUpper(); }

QString newUuidText() { return uuidText(QUuid::createUuid()); }

// Escapes what JSON requires and nothing more; other characters are written as UTF-8.
QByteArray quoted(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[(c >> 4) & 0xF];
                out += hex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

QByteArray number(double value) {
    if (!std::isfinite(value))
        return "null";
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

std::optional<QUuid> parseUuid(const QString& text) {
    static const QRegularExpression shape(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

} // namespace storedjson

JsonObjectWriter& JsonObjectWriter::addRaw(const QString& key, const QByteArray& json) {
    if (!m_body.isEmpty())
        m_body += ',';
    m_body += storedjson::quoted(key);
    m_body += ':';
    m_body += json;
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(const QString& key, const QString& value) {
    return addRaw(key, storedjson::quoted(value));
}

JsonObjectWriter& JsonObjectWriter::add(const QString& key, double value) { return addRaw(key, storedjson::number(value)); }

JsonObjectWriter& JsonObjectWriter::add(const QString& key, qint64 value) { return addRaw(key, QByteArray::number(value)); }

QByteArray JsonObjectWriter::finish() const { return '{' + m_body + '}'; }

StoredJson::StoredJson(platform::Preferences& preferences, platform::Clock& clock, QString key)
    : m_prefs(preferences), m_clock(clock), m_key(std::move(key)) {}

std::optional<QByteArray> StoredJson::read() const {
    if (!m_prefs.contains(m_key))
        return std::nullopt;
    // A value the backend does not hand back as text (an INI line it parsed as a list, a rectangle or
    // an invalid variant) is still something stored: it reads as bytes that decode as nothing, so the
    // caller marks it unreadable and it is set aside in its own form before the first write.
    return m_prefs.bytes(m_key).value_or(QByteArray());
}

void StoredJson::markUnreadable(const QByteArray& raw, const QString& reason) {
    // Keep the value in the backend's own form (a hand-edited INI line may come back as a list).
    m_unreadable = m_prefs.value(m_key).value_or(QVariant(raw));
    const int type = m_unreadable->typeId();
    const QString why = type == QMetaType::QByteArray || type == QMetaType::QString
                            ? reason
                            : reason + QStringLiteral("; stored as ") +
                                  QString::fromLatin1(m_unreadable->isValid() ? m_unreadable->typeName() : "an invalid value");
    DiagLog::event(QStringLiteral("stores: the value under \"%1\" cannot be read (%2); it is kept until it is set "
                                  "aside at the next save")
                       .arg(m_key, why));
}

QString StoredJson::keepAside(const QVariant& value) {
    const auto stamp = qint64(std::floor(storedjson::secondsSince2001(m_clock.now())));
    const QString base = m_key + QLatin1String(keptAsideMark) + QString::number(stamp);
    QString aside = base;
    for (int n = 2; m_prefs.contains(aside); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    m_prefs.setValue(aside, value);
    m_keptAsideKey = aside;
    return aside;
}

void StoredJson::write(const QByteArray& json) {
    if (m_unreadable) {
        const QString size = QString::number(m_unreadable->toByteArray().size());
        const QString aside = keepAside(*m_unreadable);
        m_unreadable.reset();
        DiagLog::event(QStringLiteral("stores: unreadable value of \"%1\" (%2 bytes) kept aside under \"%3\"")
                           .arg(m_key, size, aside));
    }
    m_prefs.setValue(m_key, json);
}

} // namespace corvane::stores
