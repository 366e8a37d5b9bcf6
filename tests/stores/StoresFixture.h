#pragma once
// A fresh "machine" for store tests: preferences, a secret store and a virtual clock, all in memory.
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <gtest/gtest.h>

namespace corvane::stores::test {

// A secret store whose writes can be refused while deletes still work: the case that shows whether
// a caller deletes before it knows the new value is safe.
class SaveRefusingStore final : public platform::SecretStore {
public:
    explicit SaveRefusingStore(platform::SecretStore& inner) : m_inner(inner) {}
    std::optional<QString> load(const QString& service, const QString& account) override {
        return m_inner.load(service, account);
    }
    platform::SecretResult save(const QString& service, const QString& account, const QString& secret) override {
        if (refuseSaves)
            return {false, QStringLiteral("refused")};
        return m_inner.save(service, account, secret);
    }
    platform::SecretResult remove(const QString& service, const QString& account) override {
        return m_inner.remove(service, account);
    }
    bool refuseSaves = false;

private:
    platform::SecretStore& m_inner;
};

class StoresTest : public ::testing::Test {
protected:
    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    platform::fake::FakeClock clock;

    QByteArray stored(const char* key) const { return prefs.bytes(QString::fromLatin1(key)).value_or(QByteArray()); }
    void store(const char* key, const QByteArray& bytes) { prefs.setValue(QString::fromLatin1(key), bytes); }
    QSet<QString> keys() const {
        const QStringList all = prefs.keys();
        return QSet<QString>(all.begin(), all.end());
    }
    // The keys under which unreadable data of `key` was set aside.
    QStringList keptAside(const char* key) const {
        QStringList out;
        for (const QString& k : prefs.keys())
            if (k.startsWith(QString::fromLatin1(key) + QStringLiteral(".corrupt-")))
                out << k;
        return out;
    }
    static QJsonArray array(const QByteArray& bytes) { return QJsonDocument::fromJson(bytes).array(); }
};

} // namespace corvane::stores::test

// Readable gtest output for Qt strings.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << '"' << b.toStdString() << '"'; }
QT_END_NAMESPACE
