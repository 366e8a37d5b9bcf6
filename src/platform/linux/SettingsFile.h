#pragma once
// Reading and replacing corvane.conf without ever blocking or leaving it short. Only a regular file
// (or a link to one) is read: a named pipe, device, socket or folder in its place is refused before
// it is opened, and opening never waits should one be swapped in after that check. A new file is
// written whole beside the one it replaces (in the folder a link leads to), owner-only, flushed to
// disk and renamed over it: the file holds either its previous bytes or all the new ones, and a link
// stays a link.
#include <QByteArray>
#include <QString>

namespace corvane::platform::linux_::settingsfile {

// The file as found on disk; equal stamps mean it was not replaced or written since.
struct Stamp {
    quint64 device = 0, inode = 0;
    qint64 size = -1, modifiedNs = 0;
    bool operator==(const Stamp&) const = default;
};

// The stamp of what path leads to; the default stamp when nothing is there.
Stamp stampOf(const QString& path);

struct Found {
    enum class Kind { Missing, File, Refused } kind = Kind::Missing;
    QByteArray bytes;
    Stamp stamp;
    QString reason; // why a file that is there could not be read, in the system's words
};

// The file's bytes, when path leads to a regular file that can be read.
Found read(const QString& path);

struct Replaced {
    bool ok = false;
    Stamp stamp;    // the new file's, when ok
    QString folder; // where it was to be written, and why it could not be
    QString reason;
};

// Replaces what path leads to with a new file of these bytes.
Replaced replace(const QString& path, const QByteArray& bytes);

// Where path leads: the end of its chain of symbolic links.
QString writtenPath(const QString& path);

// Removes the new files that writes cut short (the process killed before its rename) left beside it.
void removeLeftovers(const QString& path);

} // namespace corvane::platform::linux_::settingsfile
