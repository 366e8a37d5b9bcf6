#pragma once
#include "platform/Preferences.h"
#include "platform/linux/IniFormat.h"
#include "platform/linux/SettingsFile.h"
#include <QObject>
#include <QSet>
#include <functional>
#include <optional>

namespace corvane::platform::linux_ {

// Preferences in an INI file: $XDG_CONFIG_HOME/corvane/corvane.conf.
// Byte arrays (JSON values) are stored as @ByteArray(...); numbers and booleans come back as text
// and are parsed by the typed readers of Preferences.
//
// Memory holds Corvane's values; the file is their copy on disk. Writes are pushed once per
// event-loop turn (and on sync()): the whole file is written anew beside the old one and renamed
// over it (SettingsFile), so the file always holds its previous bytes or all the new ones. A push
// that did not land keeps the written values in memory, says why, and leaves the old file whole.
//
// Every push first looks at the file. One that another writer changed is judged from its bytes: a
// change of values under keys Corvane holds is taken into memory (values Corvane wrote since its
// last push win). A file that cannot be read as settings (not in the INI form, NUL or non-text
// bytes, no setting at all), that lacks settings the file held before, or that holds keys Corvane
// neither holds nor knows (or known keys with values Corvane never writes) is damaged: its bytes are
// copied aside, and then the file is written over with what memory holds and nothing else; while no
// copy can be made, no push writes the file. A file that vanished or was emptied is written back
// whole. A file that could not be judged is neither merged nor written over.
//
// Found at start, a damaged file gives memory only the settings Corvane knows (a key the KeyLimit
// gives a size) whose values are whole text within that size and read back the same once written: a
// file with junk after its settings keeps them, while keys read out of random bytes are dropped. An
// empty file is damaged too: Corvane never leaves one.
//
// Only a regular file, or a link to one, is read or replaced; anything else there fails every push,
// as a read-only folder does. Links are written through, never replaced; a push through a link into
// a folder that is missing fails, named after that folder.
class SettingsPreferences final : public Preferences {
public:
    // The largest value, in UTF-8 bytes, that Corvane stores under a key; 0 for a key it does not know.
    using KeyLimit = std::function<qsizetype(const QString& key)>;

    // knownKeys: what is kept from a file found damaged at start, and what a changed file may add.
    explicit SettingsPreferences(const QString& filePath = defaultPath(), KeyLimit knownKeys = {});
    ~SettingsPreferences() override;
    static QString defaultPath();

    bool contains(const QString& key) const override { return m_values.contains(key); }
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    QStringList keys() const override { return m_values.keys(); }
    void sync() override;
    std::optional<SaveFailure> saveFailure() const override { return m_failure; }
    bool isUnsaved(const QString& key) const override { return m_failure && m_unsaved.contains(key); }
    std::optional<DamagedFile> damagedFile() const override { return m_damaged; }
    QString filePath() const { return m_path; }

private:
    void judgeFileAtStart();
    bool takeChangedFile();
    std::optional<QString> unaccountedIn(const ini::Values& found) const;
    void noteDamage(const QString& reason, const QByteArray& raw, bool whileRunning);
    void holdWhole();
    bool keepDamagedAside();
    void failPush(const QString& folder, const QString& reason);
    void noteWrite(const QString& key);
    ini::Values keptValues(const ini::Values& found) const;

    QString m_path;
    KeyLimit m_knownKeys;
    ini::Values m_values;         // what Corvane holds
    ini::Values m_onDisk;         // the file's settings as last read or written
    QSet<QString> m_unsaved;      // keys written or removed since the last push that landed
    settingsfile::Stamp m_known;  // the file as last read, judged or written
    bool m_judged = false;        // whether m_known is a file that was judged (or written)
    std::optional<SaveFailure> m_failure;
    std::optional<DamagedFile> m_damaged;
    QByteArray m_damagedBytes; // the damaged file as read, until a copy of it is kept
    QString m_keepFailure;     // why the copy could not be made
    QObject m_turn;            // the queued push of this event-loop turn
    bool m_pushQueued = false;
};

} // namespace corvane::platform::linux_
