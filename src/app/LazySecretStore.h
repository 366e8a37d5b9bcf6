#pragma once
// A secret store made on its first use: finding out which keychain the session offers costs a
// bus round trip and loads the keychain libraries, which start-up does not need.
#include "platform/SecretStore.h"
#include "platform/SecretStoreLocation.h"
#include <functional>
#include <memory>

namespace corvane::app {

// Where the keys live is asked of the made store; asking makes it, as the settings window needs the answer.
class LazySecretStore final : public platform::SecretStore, public platform::SecretStoreLocation {
public:
    using Factory = std::function<std::unique_ptr<platform::SecretStore>()>;
    explicit LazySecretStore(Factory factory) : m_factory(std::move(factory)) {}

    std::optional<QString> load(const QString& service, const QString& account) override {
        return store().load(service, account);
    }
    platform::SecretResult save(const QString& service, const QString& account, const QString& secret) override {
        return store().save(service, account, secret);
    }
    platform::SecretResult remove(const QString& service, const QString& account) override {
        return store().remove(service, account);
    }
    platform::SecretLookup lookup(const QString& service, const QString& account) override {
        return store().lookup(service, account);
    }
    QCoro::Task<bool> unlock(const QString& service, const QString& account) override {
        return store().unlock(service, account);
    }
    bool isMade() const { return m_store != nullptr; }

    bool usesSecretService() const override {
        const auto* where = location();
        return !where || where->usesSecretService();
    }
    QString fallbackReason() const override { return location() ? location()->fallbackReason() : QString(); }
    QString fallbackPath() const override { return location() ? location()->fallbackPath() : QString(); }

private:
    const platform::SecretStoreLocation* location() const {
        return dynamic_cast<const platform::SecretStoreLocation*>(&store());
    }
    platform::SecretStore& store() const {
        if (!m_store)
            m_store = m_factory();
        return *m_store;
    }

    Factory m_factory;
    mutable std::unique_ptr<platform::SecretStore> m_store;
};

} // namespace corvane::app
