#pragma once
// A user's settings in memory and a real model server on 127.0.0.1: the streams tests read.
#include "llm/HttpConnectionPool.h"
#include "llm/LLMClient.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include "support/TestHttpServer.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QNetworkProxy>
#include <gtest/gtest.h>

namespace corvane::test {

// Everything one stream delivered, and whether anything came after its terminal event.
struct StreamRun {
    QList<llm::StreamEvent> events;
    bool ended = false;

    QString text() const {
        QString all;
        for (const llm::StreamEvent& e : events) {
            if (e.type == llm::StreamEvent::Type::Token)
                all += e.text;
        }
        return all;
    }
    int tokenCount() const {
        return static_cast<int>(std::count_if(events.begin(), events.end(), [](const llm::StreamEvent& e) {
            return e.type == llm::StreamEvent::Type::Token;
        }));
    }
    llm::StreamEvent terminal() const { return events.isEmpty() ? llm::StreamEvent{} : events.last(); }
};

// Tokens only, then exactly one terminal event as the very last event.
inline void expectWellFormed(const StreamRun& run) {
    ASSERT_TRUE(run.ended) << "the stream never ended";
    ASSERT_FALSE(run.events.isEmpty());
    for (qsizetype i = 0; i + 1 < run.events.size(); ++i)
        EXPECT_EQ(run.events[i].type, llm::StreamEvent::Type::Token) << "event " << i << " before the end";
    EXPECT_TRUE(run.events.last().isTerminal());
}

inline void spinUntil(const std::function<bool()>& done, int boundMs = 90000) {
    QDeadlineTimer deadline(boundMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

class LoopbackFixture : public ::testing::Test {
protected:
    void SetUp() override {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        ASSERT_TRUE(server.listen());
        configure(QStringLiteral("openai"), server.baseUrl() + QStringLiteral("/v1"), QStringLiteral("sk-test"));
    }

    void configure(const QString& format, const QString& endpoint, const QString& key, double timeout = 10) {
        store.setApiVendorID(format == QLatin1String("openai") ? QStringLiteral("custom") : format);
        store.setApiFormatRaw(format);
        store.setApiEndpoint(endpoint);
        store.setApiModel(QStringLiteral("model-x"));
        store.setApiKey(key, store.apiVendorID());
        store.setApiTimeout(timeout);
    }

    // Runs one request to its end; afterwards, drains the event loop to catch stray events.
    StreamRun run(const std::function<void(llm::ModelStream&, StreamRun&)>& onEvent = {}) {
        StreamRun result;
        std::unique_ptr<llm::ModelStream> stream = client.optimize(QStringLiteral("Fix: teh cat"),
                                                                    QStringLiteral("Be brief."));
        EXPECT_TRUE(result.events.isEmpty()) << "an event came from inside optimize()";
        QObject::connect(stream.get(), &llm::ModelStream::event, [&](const llm::StreamEvent& e) {
            EXPECT_FALSE(result.ended) << "an event after the terminal event";
            result.events.append(e);
            if (e.isTerminal())
                result.ended = true;
            if (onEvent)
                onEvent(*stream, result);
        });
        spinUntil([&] { return result.ended; });
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        EXPECT_EQ(stream->isFinished(), result.ended);
        return result;
    }

    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    stores::KeychainHelper keychain{secrets};
    stores::SettingsStore store{prefs, keychain};
    TestHttpServer server;
    // How the pool finds a request's proxy (on a worker thread); a test may hold the answer back.
    std::function<QNetworkProxy(const QUrl&)> proxyLookup = llm::HttpConnectionPool::proxyFor;
    llm::HttpConnectionPool pool{nullptr, [this](const QUrl& url) { return proxyLookup(url); }};
    llm::LLMClient client{store, &pool};
};

} // namespace corvane::test
