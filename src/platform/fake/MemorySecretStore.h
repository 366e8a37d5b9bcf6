#pragma once
#include "platform/SecretStore.h"
#include <QMap>
#include <QPair>
#include <coroutine>
#include <vector>

namespace corvane::platform::fake {

// Secrets in memory; can be told to fail saves or reads to test the callers' failure paths, or to
// act as a locked keyring that the user unlocks (or not) when asked: at once, or, with
// promptWaits, once the test answers the prompt through answerPrompt().
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
        if (unreachable)
            return {std::nullopt, false, true};
        return {load(service, account), locked && has(service, account)};
    }
    QCoro::Task<bool> unlock(const QString&, const QString&) override {
        ++unlockRequests;
        if (promptWaits)
            co_await Prompt{m_prompts};
        if (unlockGranted)
            locked = false;
        co_return !locked;
    }
    // The user answers every open prompt (a time-out or a dismissal is a refusal).
    void answerPrompt(bool unlock) {
        unlockGranted = unlock;
        for (const auto prompt : std::exchange(m_prompts, {}))
            prompt.resume();
    }
    int openPrompts() const { return int(m_prompts.size()); }
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
    bool unreachable = false;   // the keyring is gone: lookups get no answer
    bool unlockGranted = false; // the user answers an unlock prompt with the password
    int unlockRequests = 0;
    bool promptWaits = false;   // an unlock waits for answerPrompt()

private:
    struct Prompt {
        std::vector<std::coroutine_handle<>>& open;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) { open.push_back(waiter); }
        void await_resume() const noexcept {}
    };
    std::vector<std::coroutine_handle<>> m_prompts;
    QMap<QPair<QString, QString>, QString> m_items;
};

} // namespace corvane::platform::fake
