#pragma once
// The user's preferences domain: one value per key. Values are kept as the backend stores them
// (an INI file stores text); callers parse on read through the typed helpers.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <optional>

namespace corvane::platform {

// Why written values did not reach storage: the folder that could not be written and the system's
// reason ("Read-only file system", "No space left on device").
struct SaveFailure {
    QString folder;
    QString reason;
    bool operator==(const SaveFailure&) const = default;
};

// The file of stored preferences as last found when it could not be read as such (at start, or
// changed by another writer later): why, and the copy of its bytes kept beside it ("" while none
// could be made; nothing is written over the file until one is). Nothing read from it is used but,
// at start, the settings Corvane knows whose values are whole text.
struct DamagedFile {
    QString path;
    QString reason;
    QString keptAs;
    bool whileRunning = false; // found after start: the settings held in memory were written back
    int count = 1;             // the damages found in this run so far, this one included
    bool operator==(const DamagedFile&) const = default;
};

class Preferences {
public:
    virtual ~Preferences() = default;

    virtual bool contains(const QString& key) const = 0;
    // The raw stored value, or nothing when the key holds nothing.
    virtual std::optional<QVariant> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;
    virtual QStringList keys() const = 0;
    // Pushes pending writes to storage (no-op for memory backends). Writes that do not reach
    // storage stay in memory, readable as usual, and go out with the next push; what storage held
    // before is left whole.
    virtual void sync() {}
    // Why the last push failed; nothing once a push has stored everything written.
    virtual std::optional<SaveFailure> saveFailure() const { return std::nullopt; }
    // Whether the key holds a value that a failed push could not store yet.
    virtual bool isUnsaved(const QString& key) const {
        Q_UNUSED(key);
        return false;
    }
    // The file last found damaged; nothing while it has always been whole (or there is no file).
    virtual std::optional<DamagedFile> damagedFile() const { return std::nullopt; }
    // Called after every push that had writes to store, whatever came of it (one observer).
    void setPushObserver(std::function<void()> observer) { m_pushObserver = std::move(observer); }

    // Typed reads. A stored value that cannot be parsed as the asked type reads as absent.
    std::optional<QString> string(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<QByteArray> bytes(const QString& key) const;

protected:
    void notifyPushed() const {
        if (m_pushObserver)
            m_pushObserver();
    }

private:
    std::function<void()> m_pushObserver;
};

} // namespace corvane::platform
