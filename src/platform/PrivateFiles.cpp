#include "platform/PrivateFiles.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform::privatefiles {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// Keeps only the owner's own bits of an existing regular file or folder of ours; ok when nothing else
// was set. Shared places (a sticky folder such as /tmp, a device, someone else's folder) are left alone.
bool narrow(const struct stat& st, auto&& change) {
    if ((st.st_mode & 07077) == 0)
        return true;
    const bool ours = st.st_uid == ::geteuid() && !(st.st_mode & S_ISVTX);
    if (!ours || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        return false;
    return change(st.st_mode & 0700) == 0;
}

} // namespace

bool ensureFolder(const QString& folder) {
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    struct stat st {};
    if (::stat(native(clean).constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return false;
        }
        return narrow(st, [&](mode_t m) { return ::chmod(native(clean).constData(), m); });
    }
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !QFileInfo::exists(parent) && !ensureFolder(parent))
        return false;
    // mkdir applies the umask; chmod afterwards makes the mode exact.
    if (::mkdir(native(clean).constData(), kFolderMode) != 0 && errno != EEXIST)
        return false;
    return ::chmod(native(clean).constData(), kFolderMode) == 0;
}

bool narrowFile(const QString& path) {
    struct stat st {};
    if (::stat(native(path).constData(), &st) != 0)
        return errno == ENOENT;
    return narrow(st, [&](mode_t m) { return ::chmod(native(path).constData(), m); });
}

bool narrowFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    return narrow(st, [&](mode_t m) { return ::fchmod(fd, m); });
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        done += std::max<ssize_t>(n, 0);
    }
    return true;
}

QString keepCopyBeside(const QString& path, const QString& label, const QByteArray& bytes, QString* error) {
    const QFileInfo original(path);
    const QString pattern = original.fileName() + QLatin1Char('.') + label + QStringLiteral("-*");
    for (const QFileInfo& kept : original.dir().entryInfoList({pattern}, QDir::Files | QDir::Hidden)) {
        QFile file(kept.filePath());
        if (kept.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes)
            return kept.filePath();
    }
    const QString base = path + QLatin1Char('.') + label + QLatin1Char('-') +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHHmmss"));
    for (int n = 1; n <= 100; ++n) {
        const QString copy = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        const int fd = ::open(native(copy).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
        if (fd < 0 && errno == EEXIST)
            continue;
        int failure = fd < 0 ? errno : 0;
        if (!failure && !writeAll(fd, bytes))
            failure = errno;
        if (fd >= 0 && ::fsync(fd) != 0 && !failure)
            failure = errno;
        if (fd >= 0 && ::close(fd) != 0 && !failure)
            failure = errno;
        if (!failure)
            return copy;
        if (fd >= 0)
            ::unlink(native(copy).constData());
        *error = QString::fromLocal8Bit(std::strerror(failure));
        return {};
    }
    *error = QString::fromLocal8Bit(std::strerror(EEXIST));
    return {};
}

} // namespace corvane::platform::privatefiles
