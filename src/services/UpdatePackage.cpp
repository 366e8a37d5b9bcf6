#include "services/UpdatePackage.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>
#include <sodium.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <vector>

extern char** environ;

namespace corvane::services::updatepkg {

namespace {

QString tr(const char* english) { return QCoreApplication::translate("UpdateService", english); }

// How many folders deep an install may nest below its top. Every walk of an install (the package
// scan, the narrowing of modes, the removal, the swap script's) goes no deeper: each level holds a
// handle and a frame of the walk, and a leftover nested thousands deep must neither exhaust them
// nor stall the start. Real installs nest a handful of levels.
constexpr int maxDepth = 128;
// What the walks return for a tree nested deeper than that, beside the errno values.
constexpr int tooDeep = -1;

QString tooDeepReason() { return tr("its folders nest more than %1 levels deep").arg(maxDepth); }
QString describe(int error) { return error == tooDeep ? tooDeepReason() : QString::fromLocal8Bit(::strerror(error)); }

// libarchive and libsodium (with what they pull in) are opened the first time an update is checked
// or unpacked rather than at start: every run of the app would carry them, and few runs need them.
#define CORVANE_ARCHIVE_FUNCTIONS(F)                                                                              \
    F(archive_read_new) F(archive_read_free) F(archive_read_support_filter_gzip) F(archive_read_support_format_tar) \
    F(archive_read_open_filename) F(archive_error_string) F(archive_read_next_header) F(archive_read_data_skip)     \
    F(archive_read_data_block) F(archive_entry_pathname) F(archive_entry_hardlink) F(archive_entry_filetype)       \
    F(archive_entry_symlink) F(archive_entry_size) F(archive_entry_set_pathname) F(archive_entry_perm)             \
    F(archive_entry_set_perm) F(archive_write_disk_new) F(archive_write_free) F(archive_write_disk_set_options)   \
    F(archive_write_header) F(archive_write_data_block) F(archive_write_finish_entry) F(archive_write_close)
#define CORVANE_SODIUM_FUNCTIONS(F)                                                                               \
    F(sodium_init) F(crypto_sign_init) F(crypto_sign_update) F(crypto_sign_final_verify) F(crypto_sign_final_create)
#define CORVANE_DECLARE(name) decltype(&::name) name = nullptr;
#define CORVANE_SLOT(name) {#name, reinterpret_cast<void**>(&api.name)},

// Opens the library for good and fills every slot; the reason when the library or a function is missing.
QString openLibrary(const char* soname, std::initializer_list<std::pair<const char*, void**>> slots) {
    void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return QStringLiteral("%1 cannot be loaded").arg(QString::fromLocal8Bit(soname));
    for (const auto& [name, slot] : slots) {
        *slot = ::dlsym(handle, name);
        if (!*slot)
            return QStringLiteral("%1 lacks %2").arg(QString::fromLocal8Bit(soname), QString::fromLatin1(name));
    }
    return {};
}

struct ArchiveLibrary {
    CORVANE_ARCHIVE_FUNCTIONS(CORVANE_DECLARE)
    QString missing; // why it cannot be used; empty when it can
};

const ArchiveLibrary& archiveLibrary() {
    static const ArchiveLibrary library = [] {
        ArchiveLibrary api;
        api.missing = openLibrary(CORVANE_LIBARCHIVE_SONAME, {CORVANE_ARCHIVE_FUNCTIONS(CORVANE_SLOT)});
        return api;
    }();
    return library;
}

struct SodiumLibrary {
    CORVANE_SODIUM_FUNCTIONS(CORVANE_DECLARE)
};

// Null when libsodium cannot be loaded or initialised: nothing then verifies.
const SodiumLibrary* sodium() {
    static const std::optional<SodiumLibrary> library = []() -> std::optional<SodiumLibrary> {
        SodiumLibrary api;
        if (!openLibrary(CORVANE_LIBSODIUM_SONAME, {CORVANE_SODIUM_FUNCTIONS(CORVANE_SLOT)}).isEmpty() ||
            api.sodium_init() < 0)
            return std::nullopt;
        return api;
    }();
    return library ? &*library : nullptr;
}

QByteArray decodeSignature(const QByteArray& text) {
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != crypto_sign_BYTES)
        return {};
    return decoded.decoded;
}

struct ReadArchive {
    const ArchiveLibrary& lib = archiveLibrary();
    archive* a = lib.missing.isEmpty() ? lib.archive_read_new() : nullptr;
    ~ReadArchive() {
        if (a)
            lib.archive_read_free(a);
    }
    bool open(const QString& path) {
        if (!a)
            return false;
        lib.archive_read_support_filter_gzip(a);
        lib.archive_read_support_format_tar(a);
        return lib.archive_read_open_filename(a, QFile::encodeName(path).constData(), 64 * 1024) == ARCHIVE_OK;
    }
    QString error() const {
        if (!a)
            return tr("unreadable archive");
        const char* text = lib.archive_error_string(a);
        return text ? QString::fromLocal8Bit(text) : tr("unreadable archive");
    }
};

// The entry's path relative to the package root ("./bin/x" → "bin/x"); "" for the root itself.
// Nothing when it is absolute or climbs with "..".
std::optional<QStringList> relativeParts(const char* rawName) {
    const QString name = QFile::decodeName(rawName ? rawName : "");
    if (name.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QStringList parts;
    for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return std::nullopt;
        parts << part;
    }
    return parts;
}

// A symbolic link stays inside when its target, taken from the link's own folder, never climbs
// above the package root and passes through none of the package's links (a link resolved that way
// could lead anywhere).
bool linkStaysInside(const QStringList& linkParts, const char* rawTarget, const QSet<QString>& links) {
    const QString target = QFile::decodeName(rawTarget ? rawTarget : "");
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    QStringList at = linkParts.mid(0, linkParts.size() - 1);
    const QStringList steps = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QString& part = steps[i];
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (at.isEmpty())
                return false;
            at.removeLast();
            continue;
        }
        at << part;
        // The last step may name a link (a chain of links, each checked on its own); an earlier one may not.
        if (i + 1 < steps.size() && links.contains(at.join(QLatin1Char('/'))))
            return false;
    }
    return true;
}

QString scan(const QString& archivePath, qint64 maxUnpackedBytes) {
    ReadArchive in;
    if (!in.lib.missing.isEmpty())
        return tr("The update could not be unpacked (%1).").arg(in.lib.missing);
    if (!in.open(archivePath))
        return tr("The update package is damaged (%1).").arg(in.error());
    struct Link {
        QStringList parts;
        QByteArray target;
        QString shown;
    };
    std::vector<Link> linkEntries;
    QSet<QString> links;
    std::vector<std::pair<QStringList, QString>> paths;
    archive_entry* entry = nullptr;
    qint64 total = 0;
    int count = 0;
    int r;
    while ((r = in.lib.archive_read_next_header(in.a, &entry)) == ARCHIVE_OK) {
        const char* raw = in.lib.archive_entry_pathname(entry);
        const QString shown = QFile::decodeName(raw ? raw : "");
        const auto parts = relativeParts(raw);
        if (!parts)
            return tr("The update package was refused: the entry \"%1\" points outside its folder.").arg(shown);
        if (parts->size() > maxDepth)
            return tr("The update package was refused: the entry \"%1\" lies more than %2 folders deep.")
                .arg(shown, QString::number(maxDepth));
        if (in.lib.archive_entry_hardlink(entry))
            return tr("The update package was refused: the entry \"%1\" is a hard link.").arg(shown);
        const auto type = in.lib.archive_entry_filetype(entry);
        if (type == AE_IFLNK) {
            const char* target = in.lib.archive_entry_symlink(entry);
            if (parts->isEmpty())
                return tr("The update package was refused: the link \"%1\" points outside its folder.").arg(shown);
            linkEntries.push_back({*parts, QByteArray(target ? target : ""), shown});
            links.insert(parts->join(QLatin1Char('/')));
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            return tr("The update package was refused: the entry \"%1\" is not a file or a folder.").arg(shown);
        }
        paths.emplace_back(*parts, shown);
        total += std::max<la_int64_t>(0, in.lib.archive_entry_size(entry));
        if (total > maxUnpackedBytes || ++count > 100000)
            return tr("The update package was refused: it unpacks to more than allowed.");
        if (in.lib.archive_read_data_skip(in.a) != ARCHIVE_OK)
            return tr("The update package is damaged (%1).").arg(in.error());
    }
    if (r != ARCHIVE_EOF)
        return tr("The update package is damaged (%1).").arg(in.error());
    if (count == 0)
        return tr("The update package is empty.");
    // Links are judged against the whole package: one packed later may still be passed through.
    for (const Link& link : linkEntries) {
        if (!linkStaysInside(link.parts, link.target.constData(), links))
            return tr("The update package was refused: the link \"%1\" points outside its folder.").arg(link.shown);
    }
    for (const auto& [parts, shown] : paths) {
        for (qsizetype n = 1; n < parts.size(); ++n) {
            if (links.contains(parts.mid(0, n).join(QLatin1Char('/'))))
                return tr("The update package was refused: the entry \"%1\" lies behind a link.").arg(shown);
        }
    }
    return {};
}

QString extract(const QString& archivePath, const QString& target, qint64 maxUnpackedBytes) {
    ReadArchive in;
    if (!in.lib.missing.isEmpty())
        return tr("The update could not be unpacked (%1).").arg(in.lib.missing);
    if (!in.open(archivePath))
        return tr("The update package is damaged (%1).").arg(in.error());
    std::unique_ptr<archive, int (*)(archive*)> out(in.lib.archive_write_disk_new(), in.lib.archive_write_free);
    const auto writeFailed = [&] {
        return tr("The update could not be unpacked (%1).")
            .arg(QString::fromLocal8Bit(in.lib.archive_error_string(out.get())));
    };
    in.lib.archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM |
                                                         ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                         ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_NO_OVERWRITE);
    // Links above the staging folder are the user's own business; only those inside are checked.
    const QFileInfo info(target);
    const QByteArray root = QFile::encodeName(QDir(info.absolutePath()).canonicalPath() + QLatin1Char('/') + info.fileName());
    archive_entry* entry = nullptr;
    qint64 written = 0;
    int r;
    while ((r = in.lib.archive_read_next_header(in.a, &entry)) == ARCHIVE_OK) {
        const auto parts = relativeParts(in.lib.archive_entry_pathname(entry));
        if (!parts || parts->isEmpty())
            continue; // the root itself (already made); escapes were refused by the scan
        const QByteArray path = root + '/' + QFile::encodeName(parts->join(QLatin1Char('/')));
        in.lib.archive_entry_set_pathname(entry, path.constData());
        // What the package grants its owner only: nobody else may change the installed program.
        in.lib.archive_entry_set_perm(entry, in.lib.archive_entry_perm(entry) & 0755);
        if (in.lib.archive_write_header(out.get(), entry) != ARCHIVE_OK)
            return writeFailed();
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int d;
        while ((d = in.lib.archive_read_data_block(in.a, &block, &size, &offset)) == ARCHIVE_OK) {
            written += qint64(size);
            if (written > maxUnpackedBytes)
                return tr("The update package was refused: it unpacks to more than allowed.");
            if (in.lib.archive_write_data_block(out.get(), block, size, offset) != ARCHIVE_OK)
                return writeFailed();
        }
        if (d != ARCHIVE_EOF)
            return tr("The update package is damaged (%1).").arg(in.error());
        if (in.lib.archive_write_finish_entry(out.get()) != ARCHIVE_OK)
            return writeFailed();
    }
    if (r != ARCHIVE_EOF)
        return tr("The update package is damaged (%1).").arg(in.error());
    if (in.lib.archive_write_close(out.get()) != ARCHIVE_OK)
        return writeFailed();
    return {};
}

// The id of the mount that holds the entry name of the folder open at folder (name "" for the
// folder itself); nothing when it cannot be told. A folder of the same file system bound elsewhere
// keeps its device number: only the mount tells it apart.
std::optional<quint64> mountId(int folder, const char* name) {
    struct statx sx {};
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name ? 0 : AT_EMPTY_PATH);
    if (::statx(folder, name, flags, STATX_MNT_ID, &sx) == 0 && (sx.stx_mask & STATX_MNT_ID))
        return sx.stx_mnt_id;
    // Kernels before 5.8: the same id (the one /proc/self/mountinfo lists), from a handle on the entry.
    const int fd = *name ? ::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC) : ::dup(folder);
    if (fd < 0)
        return std::nullopt;
    QFile info(QStringLiteral("/proc/self/fdinfo/%1").arg(fd));
    std::optional<quint64> id;
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : info.readAll().split('\n')) {
            bool ok = false;
            const quint64 value = line.startsWith("mnt_id:") ? line.mid(7).trimmed().toULongLong(&ok) : 0;
            if (ok)
                id = value;
        }
    }
    ::close(fd);
    return id;
}

// The names in the folder open at fd (its handle stays open and unmoved for the caller).
bool entryNames(int fd, std::vector<QByteArray>& names) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        if (own >= 0)
            ::close(own);
        return false;
    }
    ::rewinddir(dir);
    while (const dirent* e = ::readdir(dir)) {
        if (::strcmp(e->d_name, ".") != 0 && ::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    return true;
}

// No entry of an install grants more than 0755: nobody but its owner may change the program. A
// folder its owner may not read or enter (0311) is opened up for the walk and narrowed after it,
// so nothing below it is missed. Never follows a link, leaves the staging folder's mount or goes
// deeper than maxDepth (depth: 0 for the staging folder, one more for each folder down). Returns
// 0, or the error that stopped it.
int narrowEntry(int parent, const char* name, quint64 mount, int depth) {
    if (depth > maxDepth)
        return tooDeep;
    struct stat st;
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    const mode_t narrowed = st.st_mode & 0755;
    if (S_ISLNK(st.st_mode))
        return 0;
    // A file bound there is as much another mount as a folder: its mode is not ours to change.
    if (mountId(parent, name) != mount)
        return EXDEV;
    if (!S_ISDIR(st.st_mode))
        return narrowed == (st.st_mode & 07777) || ::fchmodat(parent, name, narrowed, 0) == 0 ? 0 : errno;
    if ((st.st_mode & (S_IRUSR | S_IXUSR)) != (S_IRUSR | S_IXUSR) &&
        ::fchmodat(parent, name, narrowed | S_IRUSR | S_IXUSR, 0) != 0)
        return errno;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    std::vector<QByteArray> names;
    int error = entryNames(fd, names) ? 0 : errno;
    for (const QByteArray& entry : names) {
        if (!error)
            error = narrowEntry(fd, entry.constData(), mount, depth + 1);
    }
    if (!error && ::fchmod(fd, narrowed) != 0)
        error = errno;
    ::close(fd);
    return error;
}

// What a removal could not remove: the first entry and why (no entry: the whole tree).
struct Removal {
    QByteArray failed;
    QString reason;
    bool fail(const QByteArray& path, const QString& why) {
        if (reason.isEmpty()) {
            failed = path;
            reason = why;
        }
        return false;
    }
    bool fail(const QByteArray& path, int error) { return fail(path, QString::fromLocal8Bit(::strerror(error))); }
};

// Removes the entry name of the folder open at parent as what it is: a link or a file alone, a
// folder after its entries. Never enters another mount, a folder bound there included, nor goes
// deeper than maxDepth (a tree nested deeper is named whole: a path that long says nothing).
bool removeEntry(int parent, const char* name, const QByteArray& shown, quint64 mount, int depth, Removal& r) {
    if (depth > maxDepth)
        return r.fail({}, tooDeepReason());
    struct stat st;
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || r.fail(shown, errno);
    const std::optional<quint64> entryMount = mountId(parent, name);
    if (entryMount != mount)
        return r.fail(shown, entryMount ? tr("another file system is mounted there")
                                        : tr("the file system it is on cannot be told"));
    if (st.st_uid != ::geteuid())
        return r.fail(shown, tr("it belongs to another user"));
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(parent, name, 0) != 0 && errno != ENOENT)
            return r.fail(shown, errno);
        return true;
    }
    // A read-only folder of ours is made writable first, or its entries could not go.
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES && ::fchmodat(parent, name, S_IRWXU, 0) == 0)
        fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return r.fail(shown, errno);
    // What was opened is what was looked at: nothing was mounted there meanwhile.
    if (mountId(fd, "") != mount) {
        ::close(fd);
        return r.fail(shown, tr("another file system is mounted there"));
    }
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmod(fd, S_IRWXU);
    std::vector<QByteArray> names;
    if (!entryNames(fd, names)) {
        const int error = errno;
        ::close(fd);
        return r.fail(shown, error);
    }
    bool ok = true;
    for (const QByteArray& entry : names)
        ok = removeEntry(fd, entry.constData(), shown + '/' + entry, mount, depth + 1, r) && ok;
    ::close(fd);
    if (ok && ::unlinkat(parent, name, AT_REMOVEDIR) != 0 && errno != ENOENT)
        return r.fail(shown, errno);
    return ok;
}

} // namespace

QByteArray decodePublicKey(const QString& text) {
    const QByteArray raw = text.trimmed().toLatin1();
    if (raw.size() == 2 * crypto_sign_PUBLICKEYBYTES) {
        const QByteArray hex = QByteArray::fromHex(raw);
        if (hex.size() == crypto_sign_PUBLICKEYBYTES && hex.toHex() == raw.toLower())
            return hex;
    }
    const auto decoded = QByteArray::fromBase64Encoding(raw, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded && decoded.decoded.size() == crypto_sign_PUBLICKEYBYTES)
        return decoded.decoded;
    return {};
}

bool verifyBytes(const QByteArray& data, const QByteArray& signatureText, const QByteArray& publicKey) {
    const QByteArray signature = decodeSignature(signatureText);
    const SodiumLibrary* lib = sodium();
    if (!lib || signature.isEmpty() || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    crypto_sign_state state;
    lib->crypto_sign_init(&state);
    lib->crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()));
    return lib->crypto_sign_final_verify(&state, reinterpret_cast<const unsigned char*>(signature.constData()),
                                    reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}

bool verifyFile(const QString& path, const QByteArray& signatureText, const QByteArray& publicKey) {
    const QByteArray signature = decodeSignature(signatureText);
    const SodiumLibrary* lib = sodium();
    if (!lib || signature.isEmpty() || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    crypto_sign_state state;
    lib->crypto_sign_init(&state);
    std::vector<char> buffer(1 << 16);
    qint64 n;
    while ((n = file.read(buffer.data(), qint64(buffer.size()))) > 0)
        lib->crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()), size_t(n));
    if (n < 0)
        return false;
    return lib->crypto_sign_final_verify(&state, reinterpret_cast<const unsigned char*>(signature.constData()),
                                    reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}

QByteArray signBytes(const QByteArray& data, const QByteArray& secretKey) {
    const SodiumLibrary* lib = sodium();
    if (!lib || secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return {};
    crypto_sign_state state;
    lib->crypto_sign_init(&state);
    lib->crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()));
    QByteArray signature(crypto_sign_BYTES, '\0');
    lib->crypto_sign_final_create(&state, reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return signature.toBase64() + '\n';
}

QString sha256OfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QString unpack(const QString& archivePath, const QString& target, qint64 maxUnpackedBytes) {
    QString error = scan(archivePath, maxUnpackedBytes);
    if (!error.isEmpty())
        return error;
    // Never an existing folder, nor through a link.
    const QByteArray path = QFile::encodeName(target);
    if (::mkdir(path.constData(), 0755) != 0)
        return tr("The update could not be staged in %1.").arg(target);
    error = extract(archivePath, target, maxUnpackedBytes);
    // The folders made on the way (the staging folder, those the package implies) took the umask.
    return error.isEmpty() ? narrowModes(target) : error;
}

QString narrowModes(const QString& path) {
    const QFileInfo info(path);
    const int parent = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = parent < 0 ? errno : 0;
    if (parent >= 0) {
        const std::optional<quint64> mount = mountId(parent, "");
        error = mount ? narrowEntry(parent, QFile::encodeName(info.fileName()).constData(), *mount, 0) : EXDEV;
        ::close(parent);
    }
    return error ? tr("The update could not be unpacked (%1).").arg(describe(error)) : QString();
}

QString removeStaging(const QString& path) {
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    const int parent = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        const int error = errno;
        return error == ENOENT ? QString()
                               : tr("The folder %1 could not be removed (%2).").arg(path, QString::fromLocal8Bit(::strerror(error)));
    }
    // A file system mounted on the leftover itself is no more ours than one mounted inside it.
    Removal r;
    if (const std::optional<quint64> mount = mountId(parent, ""))
        removeEntry(parent, name.constData(), QFile::encodeName(path), *mount, 0, r);
    else
        r.fail(QFile::encodeName(info.absolutePath()), tr("the file system it is on cannot be told"));
    struct stat st;
    const bool gone = ::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
    ::close(parent);
    if (gone)
        return {};
    return tr("The folder %1 could not be removed: %2 (%3). Remove it by hand.")
        .arg(path, r.failed.isEmpty() ? path : QFile::decodeName(r.failed),
             r.reason.isEmpty() ? tr("it came back") : r.reason);
}

QByteArray swapScript() {
    QByteArray script = QByteArrayLiteral(R"sh(#!/bin/sh
# Swaps a staged Corvane install into place once the running copy has ended, then starts it.
# Arguments: pid install staged old launch workdir log
pid=$1 app=$2 new=$3 old=$4 launch=$5 work=$6 log=${7:-/dev/null}
# Lines in the diagnostics log's own form: local time "MM-dd HH:mm:ss.SSS", a blank, the message.
say() { printf '%s cv-update: %s\n' "$(date +'%m-%d %H:%M:%S.%3N')" "$1" >>"$log" 2>/dev/null; }
start() { "$app/$launch" </dev/null >/dev/null 2>&1 & }
# Removes $1 as the entry it is: a link goes alone (never what it points at), a folder with all it
# holds, read-only folders included, but never anything of another mount on it or inside it: a
# folder of the same file system bound there has its device number, so mountpoint (util-linux)
# tells mounts apart. The walk goes top down and stops at the first mount, before anything below
# it is touched. A tree nested deeper than an install may be (@DEPTH@ folders), or holding a path
# of 4000 bytes or more (soon too long for mountpoint, which then fails as for no mount), is left
# whole. True once nothing is left there.
wipe() {
  if [ -d "$1" ] && [ ! -L "$1" ]; then
    command -v mountpoint >/dev/null 2>&1 || return 1
    ! mountpoint -q -- "$1" || return 1
    long=$(printf '%4000s' '' | tr ' ' '?')
    refused=$(LC_ALL=C find "$1" -xdev -maxdepth @DEPTH@ \( -path "$long*" -o -type d -exec mountpoint -q {} \; \) \
      -print -quit -o -type d ! -perm -u=rwx -exec chmod u+rwx {} \; 2>/dev/null)
    [ -z "$refused" ] || return 1
    [ -z "$(find "$1" -xdev -mindepth @BELOW@ -print -quit 2>/dev/null)" ] || return 1
    rm -rf --one-file-system -- "$1" 2>/dev/null
  else
    rm -f "$1"
  fi
  [ ! -e "$1" ] && [ ! -L "$1" ]
}
n=0
while kill -0 "$pid" 2>/dev/null; do
  n=$((n + 1))
  if [ "$n" -gt 600 ]; then
    say "the running copy did not end; update abandoned"
    wipe "$new"; rm -rf "$work"
    exit 1
  fi
  sleep 0.1
done
# -T: a name is replaced as it stands, never taken for a folder to move into (nor a link to one).
if ! wipe "$old"; then
  say "could not remove $old; update abandoned"
  wipe "$new"; rm -rf "$work"
  start
  exit 1
fi
if ! mv -T "$app" "$old"; then
  say "could not move $app aside; update abandoned"
  wipe "$new"; rm -rf "$work"
  start
  exit 1
fi
if ! mv -T "$new" "$app"; then
  if mv -T "$old" "$app"; then
    say "could not move the new version into place; the previous version was put back"
  else
    say "could not move the new version into place; the previous version is in $old"
    exit 1
  fi
fi
rm -rf "$work"
start
say "started $app/$launch"
exit 0
)sh");
    return script.replace("@DEPTH@", QByteArray::number(maxDepth)).replace("@BELOW@", QByteArray::number(maxDepth + 1));
}

bool spawnDetached(const QString& program, const QStringList& args, QString* error) {
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString& a : args)
        storage.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attr);
    // A clean start: no blocked signals, and the shell's own handling of the signals this process
    // may ignore or catch.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGTERM})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0 && error)
        *error = QString::fromLocal8Bit(strerror(rc));
    return rc == 0;
}

} // namespace corvane::services::updatepkg
