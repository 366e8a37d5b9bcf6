#pragma once
// Generic-password items: (service, account) -> secret text.
#include <QString>
#include <optional>

namespace corvane::platform {

struct SecretResult {
    bool ok = false;      // the operation reached the store and succeeded
    QString error;        // a plain sentence when ok is false
};

class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The stored secret, or nothing when there is none or it cannot be read.
    virtual std::optional<QString> load(const QString& service, const QString& account) = 0;
    virtual SecretResult save(const QString& service, const QString& account, const QString& secret) = 0;
    virtual SecretResult remove(const QString& service, const QString& account) = 0;
};

} // namespace corvane::platform
