#include "llm/APIVendor.h"
#include "StoresFixture.h"
#include <QSet>
#include <QUrl>

using corvane::llm::APIFormat;
using corvane::llm::APIVendor;

TEST(ProviderCatalog, RowsAreUniqueAndEndpointsWellFormed) {
    const auto& rows = APIVendor::all();
    ASSERT_EQ(rows.size(), 17);
    EXPECT_EQ(rows.first().id, QStringLiteral("openai"));
    QSet<QString> ids;
    int openAICompatible = 0;
    for (const APIVendor& v : rows) {
        SCOPED_TRACE(v.id.toStdString());
        ids.insert(v.id);
        openAICompatible += v.format == APIFormat::OpenAI;
        if (v.id == QLatin1String("custom")) {
            EXPECT_TRUE(v.endpoint.isEmpty());
            continue;
        }
        const QUrl url(v.endpoint);
        EXPECT_FALSE(v.endpoint.endsWith(QLatin1Char('/')));
        const bool local = v.id == QLatin1String("ollama") || v.id == QLatin1String("lmstudio");
        EXPECT_EQ(url.scheme(), local ? QStringLiteral("http") : QStringLiteral("https"));
        if (local) {
            EXPECT_EQ(url.host() + url.path(), QStringLiteral("127.0.0.1/v1"));
        }
    }
    EXPECT_EQ(ids.size(), 17);
    EXPECT_EQ(openAICompatible, 15);
    EXPECT_EQ(QUrl(APIVendor::by(QStringLiteral("ollama")).endpoint).port(), 11434);
    EXPECT_EQ(QUrl(APIVendor::by(QStringLiteral("lmstudio")).endpoint).port(), 1234);
    // The two own formats speak paths that start at the root.
    EXPECT_TRUE(QUrl(APIVendor::by(QStringLiteral("anthropic")).endpoint).path().isEmpty());
    EXPECT_TRUE(QUrl(APIVendor::by(QStringLiteral("gemini")).endpoint).path().isEmpty());
}

TEST(ProviderCatalog, LookupFallsBackToFirstRowAndNeverTranslatesOldNames) {
    for (const char* id : {"", "nope", "OpenAI", "DeepSeek", "OPENAI", " openai"})
        EXPECT_EQ(APIVendor::by(QString::fromLatin1(id)).id, QStringLiteral("openai")) << id;
    EXPECT_EQ(APIVendor::by(QStringLiteral("deepseek")).name, QStringLiteral("DeepSeek"));
}

TEST(ProviderCatalog, LegacyNamesMapBothWays) {
    const auto& map = APIVendor::legacyIDMap();
    ASSERT_EQ(map.size(), 5);
    for (auto it = map.begin(); it != map.end(); ++it) {
        EXPECT_EQ(APIVendor::by(it.value()).id, it.value()) << "every legacy target is a catalog row";
        EXPECT_EQ(APIVendor::legacyName(it.value()), it.key());
    }
    EXPECT_EQ(map.value(QStringLiteral("硅基流动")), QStringLiteral("siliconflow"));
    EXPECT_FALSE(APIVendor::legacyName(QStringLiteral("groq")).has_value());
}

TEST(ProviderCatalog, KnownModelsFollowTheIdAlone) {
    const APIVendor handMade{QStringLiteral("deepseek"), QStringLiteral("x"), QString(), APIFormat::Gemini};
    EXPECT_EQ(handMade.knownModels().first(), QStringLiteral("deepseek-chat"));
    const APIVendor unknown{QStringLiteral("elsewhere"), QStringLiteral("x"), QString(), APIFormat::OpenAI};
    EXPECT_TRUE(unknown.knownModels().isEmpty());
    EXPECT_TRUE(APIVendor::by(QStringLiteral("custom")).knownModels().isEmpty());
    EXPECT_EQ(APIVendor::by(QStringLiteral("openai")).knownModels().first(), QStringLiteral("gpt-4o"));
}

TEST(APIFormatTest, OnlyExactRawValuesParse) {
    for (const APIFormat format : APIFormat::allCases())
        EXPECT_EQ(APIFormat::fromRawValue(format.rawValue()), format);
    for (const char* bad : {"OpenAI", " openai", "openai ", "", "claude"})
        EXPECT_FALSE(APIFormat::fromRawValue(QString::fromLatin1(bad)).has_value()) << bad;
    EXPECT_EQ(APIFormat(APIFormat::Gemini).modelsPath(), QStringLiteral("/v1beta/models"));
}
