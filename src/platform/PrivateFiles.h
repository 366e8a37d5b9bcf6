#pragma once
// Files that hold the user's data (preferences with previews of their texts, the diagnostics log,
// secrets) are readable by the user alone: folders 0700 and files 0600, whatever the umask, and
// existing ones of ours with wider rights are narrowed (shared places such as /tmp or a device never are).
#include <QByteArray>
#include <QString>

namespace corvane::platform::privatefiles {

// Creates folder and any missing parents with mode 0700; an existing folder that grants anything to
// group or others is narrowed to 0700 (its parents are left as they are). False when it cannot exist,
// with errno telling why.
bool ensureFolder(const QString& folder);
// Narrows an existing file that grants anything to group or others to 0600. False when it exists
// and cannot be narrowed.
bool narrowFile(const QString& path);
// The same for an open file descriptor.
bool narrowFile(int fd);
// Writes all of bytes to fd, going on after an interrupted write; false, with errno telling why,
// when a write fails.
bool writeAll(int fd, const QByteArray& bytes);
// Writes bytes to a new owner-only file beside path, named path + "." + label + "-" + the UTC time
// as 2026-12-07T221500 (with "-2", "-3"... when that name is taken), and returns its path; "" when
// no copy could be made, with the system's reason in error. A copy of the same bytes kept so before
// is returned instead of a new one.
QString keepCopyBeside(const QString& path, const QString& label, const QByteArray& bytes, QString* error);

} // namespace corvane::platform::privatefiles
