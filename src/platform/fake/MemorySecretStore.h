#pragma once
#include "platform/SecretStore.h"
#include <QMap>
#include <QPair>

namespace corvane::platform::fake {

// Secrets in memory; can be told to fail saves or reads to test the callers' failure paths, or to
// act as a locked keyring that the user unlocks (or not) when asked.
class MemorySecretStore final : public SecretStore {
public:
    std::optional<QString> load(const QString& service, const QString& account) override {
        ++loads;
        if (failLoads || locked)
            return std::nullopt;
        auto it = m_items.find({service, account});
        if (it == m_items.end())
            return std::nullopt;
        return *it;
    }
    SecretResult save(const QString& service, const QString& account, const QString& secret) override {
        if (failSaves)
            return {false, QStringLiteral("The secret store refused the write.")};
        m_items.insert({service, account}, secret);
        return {true, {}};
    }
    SecretResult remove(const QString& service, const QString& account) override {
        if (failSaves)
            return {false, QStringLiteral("The secret store refused the delete.")};
        m_items.remove({service, account});
        return {true, {}};
    }
    SecretLookup lookup(const QString& service, const QString& account) override {
        return {load(service, account), locked && has(service, account)};
    }
    QCoro::Task<bool> unlock(const QString&, const QString&) override {
        ++unlockRequests;
        if (unlockGranted)
            locked = false;
        co_return !locked;
    }
    bool has(const QString& service, const QString& account) const { return m_items.contains({service, account}); }
    QStringList accounts(const QString& service) const {
        QStringList out;
        for (auto it = m_items.begin(); it != m_items.end(); ++it)
            if (it.key().first == service)
                out << it.key().second;
        return out;
    }

    bool failSaves = false;
    bool failLoads = false;
    int loads = 0;
    bool locked = false;        // reads find the items but cannot read them
    bool unlockGranted = false; // the user answers an unlock prompt with the password
    int unlockRequests = 0;

private:
    QMap<QPair<QString, QString>, QString> m_items;
};

} // namespace corvane::platform::fake
