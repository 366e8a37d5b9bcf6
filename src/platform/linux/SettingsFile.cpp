#include "platform/linux/SettingsFile.h"
#include "platform/PrivateFiles.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform::linux_::settingsfile {

namespace {

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

Stamp stampFrom(const struct stat& st) {
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// What is there in place of a file, in the user's words.
QString notAFile(const QString& path, mode_t mode) {
    const char* kind = S_ISFIFO(mode)                     ? "a named pipe"
                       : S_ISDIR(mode)                    ? "a folder"
                       : S_ISSOCK(mode)                   ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                          : "something other";
    return QStringLiteral("%1 is %2, not a file").arg(QFileInfo(path).fileName(), QLatin1String(kind));
}

QByteArray newFilePrefix(const QString& target) {
    const QFileInfo info(target);
    return QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".new-"));
}

} // namespace

Stamp stampOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return stampFrom(st);
}

QString writtenPath(const QString& path) {
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.absoluteFilePath();
}

Found read(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const auto missingOr = [&](int error) {
        return error == ENOENT || error == ENOTDIR ? Found{} : Found{Found::Kind::Refused, {}, {}, systemReason(error)};
    };
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return missingOr(errno);
    if (!S_ISREG(st.st_mode))
        return {Found::Kind::Refused, {}, {}, notAFile(path, st.st_mode)};
    // Not blocking: what is opened may no longer be what was looked at.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return missingOr(errno);
    Found found{Found::Kind::File, {}, {}, {}};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        found = {Found::Kind::Refused, {}, {}, notAFile(path, st.st_mode)};
    } else {
        found.stamp = stampFrom(st);
        QFile file;
        if (!file.open(fd, QIODevice::ReadOnly))
            found = {Found::Kind::Refused, {}, {}, file.errorString()};
        else
            found.bytes = file.readAll();
    }
    ::close(fd);
    return found;
}

Replaced replace(const QString& path, const QByteArray& bytes) {
    const QString target = writtenPath(path);
    Replaced result;
    result.folder = QFileInfo(target).absolutePath();
    const auto fail = [&](const QString& reason) {
        result.reason = reason;
        return result;
    };
    // The config folder is made when missing; a folder a link leads to (a drive not mounted) never is.
    if (target == QFileInfo(path).absoluteFilePath())
        privatefiles::ensureFolder(result.folder);
    const QByteArray native = QFile::encodeName(target);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return fail(systemReason(ELOOP));
        if (!S_ISREG(st.st_mode))
            return fail(notAFile(target, st.st_mode));
        // A file made read-only stays as it is, as its owner meant.
        if (::access(native.constData(), W_OK) != 0)
            return fail(systemReason(errno));
    }
    QByteArray name = newFilePrefix(target) + "XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(systemReason(errno));
    int error = 0;
    if (::fchmod(fd, 0600) != 0 || !privatefiles::writeAll(fd, bytes) || ::fsync(fd) != 0 || ::fstat(fd, &st) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(name.constData(), native.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(name.constData());
        return fail(systemReason(error));
    }
    // The folder is not flushed: after a crash the rename may be undone, which leaves the previous
    // file whole, while the push does not wait on the whole file system's journal.
    result.ok = true;
    result.stamp = stampFrom(st);
    return result;
}

void removeLeftovers(const QString& path) {
    const QString target = writtenPath(path);
    const QFileInfo info(target);
    QDir folder = info.dir();
    for (const QString& name : folder.entryList({QLatin1Char('.') + info.fileName() + QStringLiteral(".new-??????")},
                                                QDir::Files | QDir::Hidden))
        folder.remove(name);
}

} // namespace corvane::platform::linux_::settingsfile
