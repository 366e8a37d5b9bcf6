#pragma once
#include "platform/Preferences.h"
#include <QSettings>
#include <memory>

namespace corvane::platform::linux_ {

// Preferences in an INI file: $XDG_CONFIG_HOME/corvane/corvane.conf.
// Byte arrays (JSON values) are stored as @ByteArray(...); numbers and booleans come back as text
// and are parsed by the typed readers of Preferences.
class SettingsPreferences final : public Preferences {
public:
    explicit SettingsPreferences(const QString& filePath = defaultPath());
    static QString defaultPath();

    bool contains(const QString& key) const override;
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    QStringList keys() const override;
    void sync() override;
    QString filePath() const;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace corvane::platform::linux_
