#include "llm/APIVendor.h"
#include <QCoreApplication>
#include <QHash>

namespace corvane::llm {

QList<APIFormat> APIFormat::allCases() { return {OpenAI, Anthropic, Gemini}; }

std::optional<APIFormat> APIFormat::fromRawValue(const QString& raw) {
    for (const APIFormat format : allCases())
        if (format.rawValue() == raw)
            return format;
    return std::nullopt;
}

QString APIFormat::rawValue() const {
    switch (m_value) {
    case Anthropic:
        return QStringLiteral("anthropic");
    case Gemini:
        return QStringLiteral("gemini");
    case OpenAI:
        break;
    }
    return QStringLiteral("openai");
}

QString APIFormat::displayName() const {
    switch (m_value) {
    case Anthropic:
        return QStringLiteral("Anthropic");
    case Gemini:
        return QStringLiteral("Google Gemini");
    case OpenAI:
        break;
    }
    return QCoreApplication::translate("APIFormat", "OpenAI Compatible");
}

QString APIFormat::modelsPath() const {
    switch (m_value) {
    case Anthropic:
        return QStringLiteral("/v1/models");
    case Gemini:
        return QStringLiteral("/v1beta/models");
    case OpenAI:
        break;
    }
    return QStringLiteral("/models");
}

size_t qHash(const APIFormat& format, size_t seed) { return qHash(format.rawValue(), seed); }

const QList<APIVendor>& APIVendor::all() {
    static const QList<APIVendor> rows = [] {
        auto row = [](const char* id, const char* name, const char* endpoint, APIFormat format) {
            return APIVendor{QString::fromUtf8(id), QString::fromUtf8(name), QString::fromUtf8(endpoint), format};
        };
        return QList<APIVendor>{
            row("openai", "OpenAI", "https://api.openai.com/v1", APIFormat::OpenAI),
            row("anthropic", "Anthropic Claude", "https://api.anthropic.com", APIFormat::Anthropic),
            row("gemini", "Google Gemini", "https://generativelanguage.googleapis.com", APIFormat::Gemini),
            row("xai", "xAI Grok", "https://api.x.ai/v1", APIFormat::OpenAI),
            row("groq", "Groq", "https://api.groq.com/openai/v1", APIFormat::OpenAI),
            row("mistral", "Mistral", "https://api.mistral.ai/v1", APIFormat::OpenAI),
            row("openrouter", "OpenRouter", "https://openrouter.ai/api/v1", APIFormat::OpenAI),
            row("deepseek", "DeepSeek", "https://api.deepseek.com/v1", APIFormat::OpenAI),
            row("moonshot", "Moonshot Kimi", "https://api.moonshot.cn/v1", APIFormat::OpenAI),
            row("zhipu", "Zhipu GLM", "https://open.bigmodel.cn/api/paas/v4", APIFormat::OpenAI),
            row("siliconflow", "SiliconFlow", "https://api.siliconflow.cn/v1", APIFormat::OpenAI),
            row("dashscope", "Alibaba Qwen", "https://dashscope.aliyuncs.com/compatible-mode/v1", APIFormat::OpenAI),
            row("volces", "Volcengine Doubao", "https://ark.cn-beijing.volces.com/api/v3", APIFormat::OpenAI),
            row("minimax", "MiniMax", "https://api.minimax.chat/v1", APIFormat::OpenAI),
            row("ollama", "Ollama (local)", "http://127.0.0.1:11434/v1", APIFormat::OpenAI),
            row("lmstudio", "LM Studio (local)", "http://127.0.0.1:1234/v1", APIFormat::OpenAI),
            row("custom", "Custom", "", APIFormat::OpenAI),
        };
    }();
    return rows;
}

APIVendor APIVendor::by(const QString& id) {
    const auto& rows = all();
    for (const APIVendor& vendor : rows)
        if (vendor.id == id)
            return vendor;
    return rows.first();
}

const QMap<QString, QString>& APIVendor::legacyIDMap() {
    static const QMap<QString, QString> map{
        {QStringLiteral("OpenAI"), QStringLiteral("openai")},
        {QStringLiteral("DeepSeek"), QStringLiteral("deepseek")},
        {QStringLiteral("硅基流动"), QStringLiteral("siliconflow")},
        {QStringLiteral("智谱"), QStringLiteral("zhipu")},
        {QStringLiteral("自定义"), QStringLiteral("custom")},
    };
    return map;
}

std::optional<QString> APIVendor::legacyName(const QString& id) {
    const auto& map = legacyIDMap();
    for (auto it = map.begin(); it != map.end(); ++it)
        if (it.value() == id)
            return it.key();
    return std::nullopt;
}

QStringList APIVendor::knownModels() const {
    static const QList<QPair<QString, QStringList>> table{
        {QStringLiteral("openai"), {QStringLiteral("gpt-4o"), QStringLiteral("gpt-4o-mini")}},
        {QStringLiteral("anthropic"), {QStringLiteral("claude-sonnet-4-5"), QStringLiteral("claude-haiku-4-5")}},
        {QStringLiteral("gemini"), {QStringLiteral("gemini-2.5-flash"), QStringLiteral("gemini-2.5-pro")}},
        {QStringLiteral("deepseek"), {QStringLiteral("deepseek-chat"), QStringLiteral("deepseek-reasoner")}},
        {QStringLiteral("zhipu"), {QStringLiteral("glm-4-flash"), QStringLiteral("glm-4-air"), QStringLiteral("glm-4-plus")}},
        {QStringLiteral("siliconflow"),
         {QStringLiteral("Qwen/Qwen2.5-7B-Instruct"), QStringLiteral("deepseek-ai/DeepSeek-V3")}},
        {QStringLiteral("moonshot"), {QStringLiteral("moonshot-v1-8k"), QStringLiteral("kimi-k2-0711-preview")}},
        {QStringLiteral("dashscope"), {QStringLiteral("qwen-turbo"), QStringLiteral("qwen-plus"), QStringLiteral("qwen-max")}},
        {QStringLiteral("volces"),
         {QStringLiteral("doubao-seed-1-6-250615"), QStringLiteral("doubao-1-5-pro-32k-250115")}},
        {QStringLiteral("openrouter"), {QStringLiteral("openai/gpt-4o"), QStringLiteral("anthropic/claude-sonnet-4.5")}},
    };
    for (const auto& [vendorId, models] : table)
        if (vendorId == id)
            return models;
    return {};
}

size_t qHash(const APIVendor& vendor, size_t seed) {
    return qHashMulti(seed, vendor.id, vendor.name, vendor.endpoint, vendor.format.rawValue());
}

} // namespace corvane::llm
