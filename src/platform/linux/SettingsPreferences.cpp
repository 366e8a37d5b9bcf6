#include "platform/linux/SettingsPreferences.h"
#include "platform/PrivateFiles.h"
#include <QDir>

namespace corvane::platform::linux_ {

QString SettingsPreferences::defaultPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/corvane/corvane.conf");
}

SettingsPreferences::SettingsPreferences(const QString& filePath) {
    // The file holds previews of the user's texts: made owner-only before anything is written to it
    // (a rewrite keeps the rights of the file it replaces).
    privatefiles::ensureFile(filePath);
    m_settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
}

bool SettingsPreferences::contains(const QString& key) const { return m_settings->contains(key); }

std::optional<QVariant> SettingsPreferences::value(const QString& key) const {
    if (!m_settings->contains(key))
        return std::nullopt;
    return m_settings->value(key);
}

void SettingsPreferences::setValue(const QString& key, const QVariant& value) { m_settings->setValue(key, value); }

void SettingsPreferences::remove(const QString& key) { m_settings->remove(key); }

QStringList SettingsPreferences::keys() const { return m_settings->allKeys(); }

void SettingsPreferences::sync() {
    m_settings->sync();
    privatefiles::narrowFile(m_settings->fileName());
}

QString SettingsPreferences::filePath() const { return m_settings->fileName(); }

} // namespace corvane::platform::linux_
