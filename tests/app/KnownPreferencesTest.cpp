// What a settings file found damaged at start may give back: the keys Corvane stores, and JSON kept
// aside only under names of the shape the stores write.
#include "app/KnownPreferences.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "stores/StoredJson.h"
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using corvane::app::knownPreferenceLimit;

// A key a class declares ("constexpr const char* fooKey = \"foo\"") and the list lacks would be
// dropped after a damaged start. The keychain's accounts are the only declared keys that are no
// preference.
TEST(KnownPreferences, CoverEveryKeyTheSourcesDeclare) {
    const QRegularExpression declared(QStringLiteral(R"re(constexpr\s+const\s+char\s*\*\s*(\w*Key)\s*=\s*"([^"]*)")re"));
    const QStringList keychainAccounts{QStringLiteral("apiKey"), QStringLiteral("deviceID")};
    QDirIterator files(QStringLiteral(CORVANE_SOURCE_DIR "/src"), {QStringLiteral("*.h"), QStringLiteral("*.cpp")},
                       QDir::Files, QDirIterator::Subdirectories);
    int seen = 0;
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        for (const QRegularExpressionMatch& m : declared.globalMatch(QString::fromUtf8(file.readAll()))) {
            if (keychainAccounts.contains(m.captured(2)))
                continue;
            ++seen;
            EXPECT_GT(knownPreferenceLimit(m.captured(2)), 0) << file.fileName().toStdString() << ": " << m.captured(1).toStdString();
        }
    }
    EXPECT_GT(seen, 30);
}

// Names StoredJson gives kept-aside JSON pass; other names after the mark (keys read out of random
// bytes, 100 of them decoded as U+FFFD) do not.
TEST(KnownPreferences, KeepKeptAsideJsonOnlyUnderNamesTheStoresWrite) {
    corvane::platform::fake::FakeClock clock;
    corvane::platform::fake::MemoryPreferences prefs;
    corvane::stores::StoredJson slot(prefs, clock, QStringLiteral("optimization_logs"));
    for (const QString& written : {slot.keepAside(QByteArray("[")), slot.keepAside(QByteArray("{"))})
        EXPECT_GT(knownPreferenceLimit(written), 0) << written.toStdString();
    const QString junk[] = {QStringLiteral("optimization_logs.corrupt-") + QString(100, QChar::ReplacementCharacter),
                            QStringLiteral("optimization_logs.corrupt-"), QStringLiteral("optimization_logs.corrupt-12x"),
                            QStringLiteral("optimization_logs.corrupt-12-0"), QStringLiteral("apiEndpoint.corrupt-12")};
    for (const QString& key : junk)
        EXPECT_EQ(knownPreferenceLimit(key), 0) << key.toStdString();
}
