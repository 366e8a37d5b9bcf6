#include "llm/APIVendor.h"
#include "StoresFixture.h"
#include <QSet>
#include <QUrl>

using corvane::llm::APIFormat;
using corvane::llm::APIVendor;

TEST(ProviderCatalog, RowsAreCompleteUniqueAndWellFormed) {
    const auto& rows = APIVendor::all();
    ASSERT_EQ(rows.size(), 17);
    EXPECT_EQ(rows.first().id, QStringLiteral("openai"));
    EXPECT_EQ(rows.last().id, QStringLiteral("custom"));
    EXPECT_TRUE(rows.last().endpoint.isEmpty());

    QSet<QString> ids;
    int openAICompatible = 0;
    for (const APIVendor& v : rows) {
        SCOPED_TRACE(v.id.toStdString());
        ids.insert(v.id);
        if (v.format == APIFormat::OpenAI)
            ++openAICompatible;
        if (v.id == QLatin1String("custom"))
            continue;
        EXPECT_FALSE(v.endpoint.endsWith(QLatin1Char('/')));
        const QUrl url(v.endpoint);
        ASSERT_TRUE(url.isValid());
        if (v.id == QLatin1String("ollama") || v.id == QLatin1String("lmstudio")) {
            EXPECT_EQ(url.scheme(), QStringLiteral("http"));
            EXPECT_EQ(url.host(), QStringLiteral("127.0.0.1"));
        } else {
            EXPECT_EQ(url.scheme(), QStringLiteral("https"));
        }
    }
    EXPECT_EQ(ids.size(), 17);
    EXPECT_EQ(openAICompatible, 15);
}

TEST(ProviderCatalog, FixedPathsAndLocalServers) {
    struct Case {
        const char* id;
        const char* path;
        int port;
    };
    const Case cases[] = {
        {"openai", "/v1", -1},          {"anthropic", "", -1},     {"gemini", "", -1},
        {"groq", "/openai/v1", -1},     {"openrouter", "/api/v1", -1}, {"zhipu", "/api/paas/v4", -1},
        {"dashscope", "/compatible-mode/v1", -1}, {"volces", "/api/v3", -1},
        {"ollama", "/v1", 11434},       {"lmstudio", "/v1", 1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const APIVendor v = APIVendor::by(QString::fromLatin1(c.id));
        ASSERT_EQ(v.id, QString::fromLatin1(c.id));
        const QUrl url(v.endpoint);
        EXPECT_EQ(url.path(), QString::fromLatin1(c.path));
        EXPECT_EQ(url.port(), c.port);
    }
    EXPECT_EQ(APIVendor::by(QStringLiteral("anthropic")).format, APIFormat::Anthropic);
    EXPECT_EQ(APIVendor::by(QStringLiteral("gemini")).format, APIFormat::Gemini);
}

TEST(ProviderCatalog, LookupFallsBackToFirstRowAndNeverTranslatesOldNames) {
    for (const char* id : {"", "nope", "OpenAI", "DeepSeek", "OPENAI", " openai"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(APIVendor::by(QString::fromLatin1(id)).id, QStringLiteral("openai"));
    }
    EXPECT_EQ(APIVendor::by(QStringLiteral("deepseek")).name, QStringLiteral("DeepSeek"));
}

TEST(ProviderCatalog, LegacyMapAndReverseLookup) {
    const auto& map = APIVendor::legacyIDMap();
    ASSERT_EQ(map.size(), 5);
    EXPECT_EQ(map.value(QStringLiteral("硅基流动")), QStringLiteral("siliconflow"));
    EXPECT_EQ(map.value(QStringLiteral("智谱")), QStringLiteral("zhipu"));
    EXPECT_EQ(map.value(QStringLiteral("自定义")), QStringLiteral("custom"));
    EXPECT_EQ(APIVendor::legacyName(QStringLiteral("deepseek")), QStringLiteral("DeepSeek"));
    EXPECT_EQ(APIVendor::legacyName(QStringLiteral("openai")), QStringLiteral("OpenAI"));
    EXPECT_FALSE(APIVendor::legacyName(QStringLiteral("groq")).has_value());
    for (const QString& id : map.values())
        EXPECT_EQ(APIVendor::by(id).id, id) << "every legacy target must be a catalog row";
}

TEST(ProviderCatalog, KnownModelsByIdOnly) {
    EXPECT_EQ(APIVendor::by(QStringLiteral("openai")).knownModels().first(), QStringLiteral("gpt-4o"));
    EXPECT_EQ(APIVendor::by(QStringLiteral("zhipu")).knownModels().size(), 3);
    EXPECT_EQ(APIVendor::by(QStringLiteral("siliconflow")).knownModels().first(),
              QStringLiteral("Qwen/Qwen2.5-7B-Instruct"));
    for (const char* id : {"xai", "groq", "mistral", "minimax", "ollama", "lmstudio", "custom"})
        EXPECT_TRUE(APIVendor::by(QString::fromLatin1(id)).knownModels().isEmpty()) << id;
    // A row made by hand with a catalog id gets that id's models, whatever its other fields.
    const APIVendor handMade{QStringLiteral("deepseek"), QStringLiteral("x"), QString(), APIFormat::Gemini};
    EXPECT_EQ(handMade.knownModels(), (QStringList{QStringLiteral("deepseek-chat"), QStringLiteral("deepseek-reasoner")}));
    const APIVendor unknown{QStringLiteral("elsewhere"), QStringLiteral("x"), QString(), APIFormat::OpenAI};
    EXPECT_TRUE(unknown.knownModels().isEmpty());
}

TEST(APIFormatTest, RawValuesAreExact) {
    ASSERT_EQ(APIFormat::allCases().size(), 3);
    const struct {
        APIFormat format;
        const char* raw;
        const char* models;
        const char* label;
    } rows[] = {{APIFormat::OpenAI, "openai", "/models", "OpenAI Compatible"},
                {APIFormat::Anthropic, "anthropic", "/v1/models", "Anthropic"},
                {APIFormat::Gemini, "gemini", "/v1beta/models", "Google Gemini"}};
    for (const auto& row : rows) {
        EXPECT_EQ(APIFormat::fromRawValue(QString::fromLatin1(row.raw)), row.format);
        EXPECT_EQ(row.format.rawValue(), QString::fromLatin1(row.raw));
        EXPECT_EQ(row.format.modelsPath(), QString::fromLatin1(row.models));
        EXPECT_EQ(row.format.displayName(), QString::fromLatin1(row.label));
    }
    for (const char* bad : {"OpenAI", " openai", "openai ", "", "claude"})
        EXPECT_FALSE(APIFormat::fromRawValue(QString::fromLatin1(bad)).has_value()) << bad;
}
