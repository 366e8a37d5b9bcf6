#pragma once
#include "platform/Preferences.h"
#include <QSet>
#include <QSettings>
#include <memory>
#include <optional>

namespace corvane::platform::linux_ {

// Preferences in an INI file: $XDG_CONFIG_HOME/corvane/corvane.conf.
// Byte arrays (JSON values) are stored as @ByteArray(...); numbers and booleans come back as text
// and are parsed by the typed readers of Preferences.
//
// Writes are pushed to the file once per event-loop turn (and on sync()). Every push is checked:
// the file is rewritten through a temporary file and a rename, so a push landed exactly when the
// file on disk is a new one. A push that did not land leaves the old file whole and keeps the
// written values in memory; its reason is found by writing a file of that size in the folder.
//
// A file that cannot be read as settings (not in the INI form, binary bytes, no setting at all in
// a file that holds something) is copied aside before anything is written over it; while no copy
// can be made, no push writes the file.
class SettingsPreferences final : public Preferences {
public:
    explicit SettingsPreferences(const QString& filePath = defaultPath());
    ~SettingsPreferences() override;
    static QString defaultPath();

    bool contains(const QString& key) const override;
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    QStringList keys() const override;
    void sync() override;
    std::optional<SaveFailure> saveFailure() const override { return m_failure; }
    bool isUnsaved(const QString& key) const override { return m_failure && m_unsaved.contains(key); }
    std::optional<DamagedFile> damagedFile() const override { return m_damaged; }
    QString filePath() const;

    // The file as found on disk; equal stamps mean the file was not replaced.
    struct Stamp {
        quint64 device = 0, inode = 0;
        qint64 size = -1, modifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };

private:
    void judgeFile();
    bool keepDamagedAside();
    void noteWrite(const QString& key);
    qint64 pendingBytes() const;

    std::unique_ptr<QSettings> m_settings;
    QSet<QString> m_unsaved; // keys written since the last push that landed
    Stamp m_before;          // the file before the first of those writes
    std::optional<SaveFailure> m_failure;
    std::optional<DamagedFile> m_damaged;
    QByteArray m_damagedBytes; // the damaged file as read, until a copy of it is kept
    QString m_keepFailure;     // why the copy could not be made
};

} // namespace corvane::platform::linux_
