#pragma once
// The user's preferences domain: one value per key. Values are kept as the backend stores them
// (an INI file stores text); callers parse on read through the typed helpers.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace corvane::platform {

class Preferences {
public:
    virtual ~Preferences() = default;

    virtual bool contains(const QString& key) const = 0;
    // The raw stored value, or nothing when the key holds nothing.
    virtual std::optional<QVariant> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;
    virtual QStringList keys() const = 0;
    // Pushes pending writes to storage (no-op for memory backends).
    virtual void sync() {}

    // Typed reads. A stored value that cannot be parsed as the asked type reads as absent.
    std::optional<QString> string(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<QByteArray> bytes(const QString& key) const;
};

} // namespace corvane::platform
