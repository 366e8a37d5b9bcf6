#pragma once
#include "platform/Preferences.h"
#include <QMap>
#include <QSet>

namespace corvane::platform::fake {

// Preferences in memory. Values can be seeded as text to mimic what the INI backend hands back.
// storedValues() is what the last successful push left in "storage"; failPushes() makes storage
// refuse pushes, as a read-only or full folder does.
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
        m_unsaved.insert(key);
        ++m_writes;
    }
    void remove(const QString& key) override {
        if (m_values.remove(key))
            m_unsaved.insert(key);
    }
    QStringList keys() const override { return m_values.keys(); }

    void sync() override {
        if (m_unsaved.isEmpty())
            return;
        if (m_refusal) {
            m_failure = m_refusal;
        } else {
            m_stored = m_values;
            m_unsaved.clear();
            m_failure.reset();
        }
        notifyPushed();
    }
    std::optional<SaveFailure> saveFailure() const override { return m_failure; }
    bool isUnsaved(const QString& key) const override { return m_failure && m_unsaved.contains(key); }

    std::optional<DamagedFile> damagedFile() const override { return m_damaged; }

    // Until called with nothing, every push fails for this reason.
    void failPushes(std::optional<SaveFailure> failure) { m_refusal = std::move(failure); }
    // The damaged file the next push reports, as the file backend finds one.
    void damage(std::optional<DamagedFile> damaged) { m_damaged = std::move(damaged); }
    const QMap<QString, QVariant>& storedValues() const { return m_stored; }

    int writeCount() const { return m_writes; }
    void clear() { m_values.clear(); }

private:
    QMap<QString, QVariant> m_values;
    QMap<QString, QVariant> m_stored;
    QSet<QString> m_unsaved;
    std::optional<SaveFailure> m_refusal;
    std::optional<SaveFailure> m_failure;
    std::optional<DamagedFile> m_damaged;
    int m_writes = 0;
};

} // namespace corvane::platform::fake
