#include "platform/Preferences.h"
#include <cmath>

namespace corvane::platform {

namespace {

// The stored value when the key holds a usable one.
std::optional<QVariant> present(const Preferences& prefs, const QString& key) {
    std::optional<QVariant> v = prefs.value(key);
    if (!v || !v->isValid())
        return std::nullopt;
    return v;
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
    if (isWholeNumber(*v))
        return v->toLongLong();
    switch (v->typeId()) {
    case QMetaType::Bool:
        return v->toBool() ? 1 : 0;
    case QMetaType::Double: {
        double d = v->toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        return qint64(d);
    }
    default: {
        const QString s = v->toString().trimmed();
        bool ok = false;
        qint64 i = s.toLongLong(&ok);
        if (ok)
            return i;
        double d = s.toDouble(&ok);
        if (ok && std::isfinite(d))
            return qint64(d);
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
