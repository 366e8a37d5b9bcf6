#include "llm/LLMClient.h"
#include "llm/HttpConnectionPool.h"
#include "llm/LLMStream.h"
#include "stores/SettingsStore.h"
#include <QCoreApplication>

namespace corvane::llm {

LLMClient::LLMClient() : LLMClient(stores::SettingsStore::shared()) {}

LLMClient::LLMClient(stores::SettingsStore& store, HttpConnectionPool* pool)
    : m_store(store), m_pool(pool ? *pool : sharedPool()) {}

LLMClient::~LLMClient() = default;

HttpConnectionPool& LLMClient::sharedPool() {
    static QPointer<HttpConnectionPool> shared;
    if (!shared)
        shared = new HttpConnectionPool(QCoreApplication::instance());
    return *shared;
}

std::unique_ptr<ModelStream> LLMClient::optimize(const QString& prompt, const QString& systemPrompt,
                                                 const QList<ChatMessage>& history) {
    LLMStream::Params params;
    params.useBuiltIn = m_store.useBuiltInQuota();
    params.endpoint = normalizeEndpoint(m_store.apiEndpoint());
    params.format = m_store.format();
    const QString vendorID = m_store.apiVendorID();
    params.apiKey = m_store.apiKey(vendorID);
    params.model = params.useBuiltIn ? QString::fromLatin1(builtInModel) : m_store.apiModel();
    params.timeout = m_store.apiTimeout();
    params.prompt = prompt;
    params.systemPrompt = systemPrompt;
    params.history = history;
    return std::make_unique<LLMStream>(m_store, m_pool, std::move(params));
}

void LLMClient::prewarm() {
    // The relay is chosen by probes of its own; only a provider's address is known before sending.
    if (m_store.useBuiltInQuota())
        return;
    if (const std::optional<QUrl> url = endpointURL(normalizeEndpoint(m_store.apiEndpoint())))
        m_pool.prewarm(*url);
}

} // namespace corvane::llm
