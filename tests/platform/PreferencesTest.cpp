#include "platform/fake/MemoryPreferences.h"
#include "platform/linux/SettingsPreferences.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <limits>
#include <gtest/gtest.h>

using namespace corvane::platform;

// The INI backend hands numbers and booleans back as text; the typed readers must parse them the
// same way whatever the backend.
TEST(Preferences, IniValuesParseOnReadAfterReopen) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/corvane.conf"));
    {
        linux_::SettingsPreferences prefs(path);
        prefs.setValue(QStringLiteral("triggerSpaceCount"), 4);
        prefs.setValue(QStringLiteral("triggerIntervalMs"), 612.5);
        prefs.setValue(QStringLiteral("hotkeyEnabled"), false);
        prefs.setValue(QStringLiteral("apiModel"), QStringLiteral("gpt-4o"));
        prefs.setValue(QStringLiteral("json"), QByteArray("[{\"id\":\"x\"}]"));
        prefs.sync();
    }
    linux_::SettingsPreferences prefs(path);
    EXPECT_EQ(prefs.integer(QStringLiteral("triggerSpaceCount")), 4);
    EXPECT_EQ(prefs.number(QStringLiteral("triggerIntervalMs")), 612.5);
    EXPECT_EQ(prefs.boolean(QStringLiteral("hotkeyEnabled")), false);
    EXPECT_EQ(prefs.string(QStringLiteral("apiModel")), QStringLiteral("gpt-4o"));
    EXPECT_EQ(prefs.bytes(QStringLiteral("json")), QByteArray("[{\"id\":\"x\"}]"));
    EXPECT_FALSE(prefs.integer(QStringLiteral("missing")).has_value());
}

TEST(Preferences, UnparsableValuesReadAsAbsent) {
    fake::MemoryPreferences prefs;
    prefs.setValue(QStringLiteral("n"), QStringLiteral("twelve"));
    prefs.setValue(QStringLiteral("b"), QStringLiteral("maybe"));
    EXPECT_FALSE(prefs.integer(QStringLiteral("n")).has_value());
    EXPECT_FALSE(prefs.number(QStringLiteral("n")).has_value());
    EXPECT_FALSE(prefs.boolean(QStringLiteral("b")).has_value());
    prefs.setValue(QStringLiteral("n"), QStringLiteral(" 7 "));
    EXPECT_EQ(prefs.integer(QStringLiteral("n")), 7);
}

namespace {
// Writes the INI file by hand, as a user editing it would.
void writeIni(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\n" + text);
}
} // namespace

TEST(Preferences, NumbersOutsideTheIntegerRangeReadAsAbsent) {
    struct Case {
        const char* line;
        std::optional<qint64> integer;
    };
    const Case cases[] = {
        {"9.3e18", std::nullopt},
        {"1e300", std::nullopt},
        {"-1e300", std::nullopt},
        {"9223372036854775808", std::nullopt},  // 2^63
        {"-9223372036854775809", std::nullopt},
        {"18446744073709551615", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9.2e18", qint64(-9200000000000000000LL)},
        {"12.7", 12},
        {"-3", -3},
    };
    QTemporaryDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        // One file each: the INI reader caches files it has read.
        const QString path = dir.filePath(QStringLiteral("corvane/%1.conf").arg(++n));
        writeIni(path, QByteArray("minTextLength=") + c.line + '\n');
        linux_::SettingsPreferences prefs(path);
        EXPECT_EQ(prefs.integer(QStringLiteral("minTextLength")), c.integer);
    }
    // The same through typed values a backend may hand over.
    fake::MemoryPreferences memory;
    for (const QVariant& v : {QVariant(9.3e18), QVariant(-1e300), QVariant(float(1e30f)),
                              QVariant(quint64(std::numeric_limits<quint64>::max()))}) {
        memory.setValue(QStringLiteral("n"), v);
        EXPECT_FALSE(memory.integer(QStringLiteral("n")).has_value()) << v.toString().toStdString();
    }
}
