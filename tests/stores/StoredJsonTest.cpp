#include "StoresFixture.h"
#include "stores/OptimizationLog.h"
#include "stores/PromptRecipe.h"
#include "stores/StoredJson.h"
#include <QTimeZone>

using namespace corvane::stores;

namespace {

TEST(StoredJsonTest, HostileTextRoundTripsThroughTheStoredForm) {
    const QString texts[] = {
        QString(),
        QStringLiteral("quote \" backslash \\ slash / \\u0041 literal"),
        QString::fromUtf8("nul \0 inside", 12),
        QStringLiteral("\x01\x02\x1f control\b\f\r\n\t"),
        QString::fromUtf8("line\u2028separator \U0001F469\u200D\U0001F4BB emoji 漢字"),
        QStringLiteral("\"},{\"id\":\"injected\",\"name\":\"x\",\"systemPrompt\":\"y"),
    };
    QList<PromptRecipe> recipes;
    for (const QString& t : texts)
        recipes << PromptRecipe{t, t, t};
    const QByteArray json = PromptRecipe::listToJson(recipes);
    const auto back = PromptRecipe::listFromJson(json);
    ASSERT_TRUE(back.has_value()) << json.toStdString();
    EXPECT_EQ(*back, recipes);
}

TEST(StoredJsonTest, ALoneSurrogateStillLeavesReadableJson) {
    QString broken = QStringLiteral("before");
    broken += QChar(0xD800);
    broken += QStringLiteral("after");
    const auto back = PromptRecipe::listFromJson(PromptRecipe::listToJson({PromptRecipe{broken, broken, broken}}));
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->first().name.startsWith(QStringLiteral("before")));
    EXPECT_TRUE(back->first().name.endsWith(QStringLiteral("after")));
}

TEST(StoredJsonTest, DatesHonourOffsetsAndUuidsNeedTheHyphenatedForm) {
    using namespace storedjson;
    EXPECT_EQ(secondsSince2001(QDateTime(QDate(2001, 1, 1), QTime(1, 0), QTimeZone(3600))), 0.0);
    EXPECT_TRUE(parseUuid(QStringLiteral("6f9619ff-8b86-d011-b42d-00cf4fc964ff")).has_value());
    for (const char* bad : {"", "not-a-uuid", "{6F9619FF-8B86-D011-B42D-00CF4FC964FF}",
                            "6F9619FF8B86D011B42D00CF4FC964FF", "6F9619FF-8B86-D011-B42D-00CF4FC964FG"})
        EXPECT_FALSE(parseUuid(QString::fromLatin1(bad)).has_value()) << bad;
}

} // namespace
