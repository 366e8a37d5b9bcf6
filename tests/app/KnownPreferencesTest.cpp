// What a settings file found damaged at start may give back: every key a class declares ("constexpr
// const char* fooKey = \"foo\"", the keychain's accounts aside), and JSON kept aside only under the
// names StoredJson gives it, not under other names after the mark (keys read out of random bytes).
#include "app/KnownPreferences.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "stores/StoredJson.h"
#include <QDirIterator>
#include <QRegularExpression>
#include <gtest/gtest.h>

using corvane::app::knownPreferenceLimit;

TEST(KnownPreferences, AreTheKeysTheSourcesDeclareAndTheNamesJsonIsKeptAsideUnder) {
    const QRegularExpression declared(QStringLiteral(R"re(constexpr\s+const\s+char\s*\*\s*(\w*Key)\s*=\s*"([^"]*)")re"));
    QStringList keys;
    for (QDirIterator it(QStringLiteral(CORVANE_SOURCE_DIR "/src"), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        if (QFile file(it.next()); file.open(QIODevice::ReadOnly))
            for (const QRegularExpressionMatch& m : declared.globalMatch(QString::fromUtf8(file.readAll())))
                keys << m.captured(2);
    keys.removeAll(QStringLiteral("apiKey"));
    keys.removeAll(QStringLiteral("deviceID"));
    EXPECT_GT(keys.size(), 30);
    corvane::platform::fake::FakeClock clock;
    corvane::platform::fake::MemoryPreferences prefs;
    corvane::stores::StoredJson slot(prefs, clock, QStringLiteral("optimization_logs"));
    keys << slot.keepAside(QByteArray("[")) << slot.keepAside(QByteArray("{"));
    for (const QString& key : keys)
        EXPECT_GT(knownPreferenceLimit(key), 0) << key.toStdString();
    for (const QString& tail : {QString(100, QChar::ReplacementCharacter), QString(), QStringLiteral("12x"), QStringLiteral("12-0")})
        EXPECT_EQ(knownPreferenceLimit(QStringLiteral("optimization_logs.corrupt-") + tail), 0) << tail.toStdString();
    EXPECT_EQ(knownPreferenceLimit(QStringLiteral("apiEndpoint.corrupt-12")), 0);
}
