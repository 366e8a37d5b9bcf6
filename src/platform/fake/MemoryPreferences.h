#pragma once
#include "platform/Preferences.h"
#include <QMap>

namespace corvane::platform::fake {

// Preferences in memory. Values can be seeded as text to mimic what the INI backend hands back.
class MemoryPreferences final : public Preferences {
public:
    bool contains(const QString& key) const override { return m_values.contains(key); }
    std::optional<QVariant> value(const QString& key) const override {
        auto it = m_values.find(key);
        if (it == m_values.end())
            return std::nullopt;
        return *it;
    }
    void setValue(const QString& key, const QVariant& value) override {
        m_values.insert(key, value);
        ++m_writes;
    }
    void remove(const QString& key) override { m_values.remove(key); }
    QStringList keys() const override { return m_values.keys(); }

    int writeCount() const { return m_writes; }
    void clear() { m_values.clear(); }

private:
    QMap<QString, QVariant> m_values;
    int m_writes = 0;
};

} // namespace corvane::platform::fake
