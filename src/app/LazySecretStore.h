#pragma once
// A secret store made on its first use: finding out which keychain the session offers costs a
// bus round trip and loads the keychain libraries, which start-up does not need.
#include "platform/SecretStore.h"
#include <functional>
#include <memory>

namespace corvane::app {

class LazySecretStore final : public platform::SecretStore {
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
    bool isMade() const { return m_store != nullptr; }

private:
    platform::SecretStore& store() {
        if (!m_store)
            m_store = m_factory();
        return *m_store;
    }

    Factory m_factory;
    std::unique_ptr<platform::SecretStore> m_store;
};

} // namespace corvane::app
