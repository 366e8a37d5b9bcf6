#pragma once
// Where the secret store keeps its items, so the settings window can tell the user plainly when
// keys live in a file rather than in the desktop keyring.
#include <QString>

namespace corvane::platform {

class SecretStoreLocation {
public:
    virtual ~SecretStoreLocation() = default;
    // True when items go to the desktop keyring (Secret Service).
    virtual bool usesSecretService() const = 0;
    // Without a keyring: why there is none, and the owner-only file that holds the items.
    virtual QString fallbackReason() const = 0;
    virtual QString fallbackPath() const = 0;
};

} // namespace corvane::platform
