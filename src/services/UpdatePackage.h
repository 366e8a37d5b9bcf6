#pragma once
// The pieces of an install that touch bytes and files: signatures, hashes, the safe unpacking of a
// package into a staging folder, and the detached swap script.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvane::services::updatepkg {

// An Ed25519 public key written as base64 or hex; empty when it is neither or not 32 bytes.
QByteArray decodePublicKey(const QString& text);

// Signatures are Ed25519 over the SHA-512 prehash of the whole content (streamable), kept as base64
// text in a ".sig" file beside the signed file.
bool verifyBytes(const QByteArray& data, const QByteArray& signatureText, const QByteArray& publicKey);
bool verifyFile(const QString& path, const QByteArray& signatureText, const QByteArray& publicKey);
// The signature text for data (used by the signing tool and by tests).
QByteArray signBytes(const QByteArray& data, const QByteArray& secretKey);

// Lower-case hex SHA-256 of a file; empty when it cannot be read.
QString sha256OfFile(const QString& path);

// Unpacks a .tar.gz into target (which must not exist yet). Refuses, before writing anything,
// entries that would land outside target: absolute paths, "..", links pointing out or through
// another link of the package, hard links, devices. No entry keeps group or other write access.
// Returns an error sentence, or an empty string on success; a failed unpack may leave target
// behind for the caller's removeStaging(). Entries nested more than 128 folders deep are refused.
QString unpack(const QString& archivePath, const QString& target, qint64 maxUnpackedBytes);
// The last step of unpack: no entry of the tree at path keeps more than 0755. Never follows a link,
// enters another mount or goes more than 128 folders deep. Returns an error sentence, or "".
QString narrowModes(const QString& path);

// Removes path as the entry it is, never what a link points at: a link or a file goes alone, a
// folder with everything in it (read-only folders included), without following links or crossing
// into other file systems nor going more than 128 folders deep. Entries of other users are left
// alone. Returns "" once nothing is left at path (or nothing was there), else a sentence naming
// what could not be removed.
QString removeStaging(const QString& path);

// The swap script run with the shell after this process ends.
QByteArray swapScript();
// Starts program with args in a session of its own, standard streams on /dev/null, without waiting.
bool spawnDetached(const QString& program, const QStringList& args, QString* error);

} // namespace corvane::services::updatepkg
