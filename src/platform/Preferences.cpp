#include "platform/Preferences.h"
#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace corvane::platform {

namespace {

// The stored value when the key holds a usable one.
std::optional<QVariant> present(const Preferences& prefs, const QString& key) {
    std::optional<QVariant> v = prefs.value(key);
    if (!v || !v->isValid())
        return std::nullopt;
    return v;
}

// A finite number truncated toward zero when the result fits in 64 bits; nothing otherwise (the
// cast of an out-of-range double is undefined).
std::optional<qint64> truncatedInteger(double d) {
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (!std::isfinite(d) || d >= kLimit || d < -kLimit)
        return std::nullopt;
    return qint64(d);
}

bool isWholeNumber(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<QString> Preferences::string(const QString& key) const {
    const std::optional<QVariant> v = present(*this, key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v->toByteArray());
    if (!v->canConvert<QString>())
        return std::nullopt;
    return v->toString();
}

std::optional<qint64> Preferences::integer(const QString& key) const {
    const std::optional<QVariant> v = present(*this, key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::ULongLong && v->toULongLong() > quint64(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    if (isWholeNumber(*v))
        return v->toLongLong();
    switch (v->typeId()) {
    case QMetaType::Bool:
        return v->toBool() ? 1 : 0;
    case QMetaType::Double:
    case QMetaType::Float:
        return truncatedInteger(v->toDouble());
    default: {
        const QString s = v->toString().trimmed();
        bool ok = false;
        qint64 i = s.toLongLong(&ok);
        if (ok)
            return i;
        // Whole-number text that does not fit in 64 bits is out of range, even where the nearest
        // double would fit.
        static const QRegularExpression wholeNumber(QStringLiteral("^[+-]?[0-9]+$"));
        if (wholeNumber.match(s).hasMatch())
            return std::nullopt;
        if (const double d = s.toDouble(&ok); ok)
            return truncatedInteger(d);
        if (s == QLatin1String("true"))
            return 1;
        if (s == QLatin1String("false"))
            return 0;
        return std::nullopt;
    }
    }
}

std::optional<double> Preferences::number(const QString& key) const {
    const std::optional<QVariant> v = present(*this, key);
    if (!v)
        return std::nullopt;
    if (isWholeNumber(*v))
        return v->toDouble();
    switch (v->typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return v->toDouble();
    case QMetaType::Bool:
        return v->toBool() ? 1.0 : 0.0;
    default: {
        bool ok = false;
        double d = v->toString().trimmed().toDouble(&ok);
        if (ok)
            return d;
        return std::nullopt;
    }
    }
}

std::optional<bool> Preferences::boolean(const QString& key) const {
    const std::optional<QVariant> v = present(*this, key);
    if (!v)
        return std::nullopt;
    if (isWholeNumber(*v))
        return v->toLongLong() != 0;
    switch (v->typeId()) {
    case QMetaType::Bool:
        return v->toBool();
    case QMetaType::Double:
        return v->toDouble() != 0.0;
    default: {
        const QString s = v->toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("yes"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("no"))
            return false;
        bool ok = false;
        double d = s.toDouble(&ok);
        if (ok)
            return d != 0.0;
        return std::nullopt;
    }
    }
}

std::optional<QByteArray> Preferences::bytes(const QString& key) const {
    const std::optional<QVariant> v = present(*this, key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::QByteArray)
        return v->toByteArray();
    if (v->canConvert<QString>())
        return v->toString().toUtf8();
    return std::nullopt;
}

} // namespace corvane::platform
