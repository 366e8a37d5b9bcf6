#pragma once
#include "platform/Preferences.h"
#include <QSet>
#include <QSettings>
#include <functional>
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
// The values held in memory are Corvane's own: the settings library reads a file changed on disk
// again before it writes, so every push first looks at the file. A file another writer changed into
// settings is merged as usual. One that cannot be read as settings (not in the INI form, binary
// bytes, no setting at all in a file that holds something) is copied aside, and then written over
// at once with what memory holds and nothing else; while no copy can be made, no push writes the
// file. Found later, it gives nothing to memory. Found at start, it gives memory only the settings
// Corvane knows (a key the KeyLimit gives a size) whose values are whole text within that size and
// read back the same once written: a file with junk after its settings keeps them, while keys read
// out of random bytes are dropped. A file that vanished or was emptied is written back whole as well.
//
// A push that left no file behind (a link into a folder that is missing) wrote nothing: a failure,
// named after the folder the link leads to. Links are written through, never replaced.
class SettingsPreferences final : public Preferences {
public:
    // The largest value, in UTF-8 bytes, that Corvane stores under a key; 0 for a key it does not know.
    using KeyLimit = std::function<qsizetype(const QString& key)>;

    // knownKeys: what is kept from a file found damaged at start (nothing without it).
    explicit SettingsPreferences(const QString& filePath = defaultPath(), KeyLimit knownKeys = {});
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
    void readChangedFile();
    void noteDamage(const QString& reason, const QByteArray& raw, bool whileRunning);
    void holdWhole();
    bool keepDamagedAside();
    bool emptyDamagedFile();
    void failPush(const QString& folder, const QString& reason);
    void noteWrite(const QString& key);
    qint64 pendingBytes() const;

    KeyLimit m_knownKeys;
    std::unique_ptr<QSettings> m_settings;
    QSet<QString> m_unsaved; // keys written since the last push that landed
    Stamp m_before;          // the file before the first of those writes
    Stamp m_known;           // the file as last read, judged or written
    bool m_rewrite = false;  // the damaged file is still on disk: emptied before the settings library reads it
    std::optional<SaveFailure> m_failure;
    std::optional<DamagedFile> m_damaged;
    QByteArray m_damagedBytes; // the damaged file as read, until a copy of it is kept
    QString m_keepFailure;     // why the copy could not be made
};

} // namespace corvane::platform::linux_
