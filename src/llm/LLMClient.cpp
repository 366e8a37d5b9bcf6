#include "llm/LLMClient.h"
#include "llm/LLMStream.h"
#include "stores/SettingsStore.h"
#include <QCoreApplication>
#include <QNetworkAccessManager>

namespace corvane::llm {

LLMClient::LLMClient() : LLMClient(stores::SettingsStore::shared()) {}

LLMClient::LLMClient(stores::SettingsStore& store, QNetworkAccessManager* network)
    : m_store(store), m_network(network) {}

LLMClient::~LLMClient() = default;

QNetworkAccessManager& LLMClient::network() {
    static QPointer<QNetworkAccessManager> shared;
    if (!shared)
        shared = new QNetworkAccessManager(QCoreApplication::instance());
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
    return std::make_unique<LLMStream>(m_store, m_network ? *m_network : network(), std::move(params));
}

} // namespace corvane::llm
