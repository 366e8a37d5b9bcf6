#include "services/UpdatePackage.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>
#include <sodium.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <vector>

extern char** environ;

namespace corvane::services::updatepkg {

namespace {

QString tr(const char* english) { return QCoreApplication::translate("UpdateService", english); }

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
// above the package root.
bool linkStaysInside(const QStringList& linkParts, const char* rawTarget) {
    const QString target = QFile::decodeName(rawTarget ? rawTarget : "");
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    QStringList at = linkParts.mid(0, linkParts.size() - 1);
    for (const QString& part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (at.isEmpty())
                return false;
            at.removeLast();
        } else {
            at << part;
        }
    }
    return true;
}

QString scan(const QString& archivePath, qint64 maxUnpackedBytes) {
    ReadArchive in;
    if (!in.lib.missing.isEmpty())
        return tr("The update could not be unpacked (%1).").arg(in.lib.missing);
    if (!in.open(archivePath))
        return tr("The update package is damaged (%1).").arg(in.error());
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
        if (in.lib.archive_entry_hardlink(entry))
            return tr("The update package was refused: the entry \"%1\" is a hard link.").arg(shown);
        const auto type = in.lib.archive_entry_filetype(entry);
        if (type == AE_IFLNK) {
            if (parts->isEmpty() || !linkStaysInside(*parts, in.lib.archive_entry_symlink(entry)))
                return tr("The update package was refused: the link \"%1\" points outside its folder.").arg(shown);
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            return tr("The update package was refused: the entry \"%1\" is not a file or a folder.").arg(shown);
        }
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
        in.lib.archive_entry_set_perm(entry, in.lib.archive_entry_perm(entry) & 0777);
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
    if (error.isEmpty()) {
        if (QFileInfo::exists(target) || !QDir().mkpath(target))
            return tr("The update could not be staged in %1.").arg(target);
        error = extract(archivePath, target, maxUnpackedBytes);
        if (!error.isEmpty())
            QDir(target).removeRecursively();
    }
    return error;
}

QByteArray swapScript() {
    return QByteArrayLiteral(R"sh(#!/bin/sh
# Swaps a staged Corvane install into place once the running copy has ended, then starts it.
# Arguments: pid install staged old launch workdir log
pid=$1 app=$2 new=$3 old=$4 launch=$5 work=$6 log=${7:-/dev/null}
# Lines in the diagnostics log's own form: local time "MM-dd HH:mm:ss.SSS", a blank, the message.
say() { printf '%s cv-update: %s\n' "$(date +'%m-%d %H:%M:%S.%3N')" "$1" >>"$log" 2>/dev/null; }
start() { "$app/$launch" </dev/null >/dev/null 2>&1 & }
n=0
while kill -0 "$pid" 2>/dev/null; do
  n=$((n + 1))
  if [ "$n" -gt 600 ]; then
    say "the running copy did not end; update abandoned"
    rm -rf "$new" "$work"
    exit 1
  fi
  sleep 0.1
done
rm -rf "$old"
if ! mv "$app" "$old"; then
  say "could not move $app aside; update abandoned"
  rm -rf "$new" "$work"
  start
  exit 1
fi
if ! mv "$new" "$app"; then
  if mv "$old" "$app"; then
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
