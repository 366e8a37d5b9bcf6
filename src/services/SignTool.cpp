// Makes the update key pair and signs update files (the manifest and the package), for
// scripts/package and for operators.
//   corvane-sign keygen SECRET-FILE        writes a new secret key, prints the public key
//   corvane-sign pubkey SECRET-FILE        prints the public key of a secret key
//   corvane-sign sign SECRET-FILE FILE...  writes FILE.sig beside each file
#include "services/UpdatePackage.h"
#include <QFile>
#include <QTextStream>
#include <sodium.h>

namespace {

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

QByteArray readSecret(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto decoded = QByteArray::fromBase64Encoding(file.readAll().trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == crypto_sign_SECRETKEYBYTES ? decoded.decoded : QByteArray();
}

QByteArray publicOf(const QByteArray& secret) { return secret.right(crypto_sign_PUBLICKEYBYTES); }

} // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0 || argc < 3) {
        err() << "usage: corvane-sign keygen SECRET-FILE | pubkey SECRET-FILE | sign SECRET-FILE FILE...\n";
        return 2;
    }
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString secretPath = QString::fromLocal8Bit(argv[2]);
    QTextStream out(stdout);
    if (command == QLatin1String("keygen")) {
        if (QFile::exists(secretPath)) {
            err() << secretPath << " exists; not overwritten\n";
            return 1;
        }
        QByteArray pk(crypto_sign_PUBLICKEYBYTES, '\0');
        QByteArray sk(crypto_sign_SECRETKEYBYTES, '\0');
        crypto_sign_keypair(reinterpret_cast<unsigned char*>(pk.data()), reinterpret_cast<unsigned char*>(sk.data()));
        QFile file(secretPath);
        if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
            file.write(sk.toBase64() + '\n') < 0) {
            err() << "cannot write " << secretPath << '\n';
            return 1;
        }
        out << pk.toBase64() << '\n';
        return 0;
    }
    const QByteArray secret = readSecret(secretPath);
    if (secret.isEmpty()) {
        err() << "no secret key in " << secretPath << '\n';
        return 1;
    }
    if (command == QLatin1String("pubkey")) {
        out << publicOf(secret).toBase64() << '\n';
        return 0;
    }
    if (command != QLatin1String("sign") || argc < 4) {
        err() << "unknown command " << command << '\n';
        return 2;
    }
    for (int i = 3; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            err() << "cannot read " << path << '\n';
            return 1;
        }
        const QByteArray signature = corvane::services::updatepkg::signBytes(file.readAll(), secret);
        QFile sig(path + QStringLiteral(".sig"));
        if (signature.isEmpty() || !sig.open(QIODevice::WriteOnly) || sig.write(signature) < 0) {
            err() << "cannot sign " << path << '\n';
            return 1;
        }
    }
    return 0;
}
