#pragma once
// The fixture every end-to-end scenario starts from: a scripted model server on 127.0.0.1, the real
// corvane binary pointed at it, and corvane's panel as the accessibility bus shows it.
#include "e2e/CorvaneProcess.h"
#include "e2e/Desktop.h"
#include "e2e/PanelProbe.h"
#include "support/TestHttpServer.h"
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>

// Readable failure messages for Qt's strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << '"' << b.toStdString() << '"'; }
inline void PrintTo(const QRect& r, std::ostream* os) { *os << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height(); }

namespace corvane::e2e {

// An OpenAI-compatible streamed answer whose events arrive gapMs apart. Unfinished, it stops after
// the tokens (no end marker) and keeps the connection open.
test::ScriptedResponse streamedAnswer(const QStringList& tokens, int gapMs, bool finished = true);

class Scenario : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts corvane against the server (the endpoint is filled in).
    void startCorvane(CorvaneProcess::Settings settings = {});

    // The user taps the space bar three times in the focused app.
    void tripleSpace();
    // Waits until n requests reached the model server.
    bool waitForRequests(int n);
    // The i-th request's JSON body, and its user message.
    QJsonObject requestBody(int i) const;
    QString userMessage(int i) const;

    bool waitForTitle(const QString& title);
    bool waitPanelHidden();
    // Waits until the newest activity record has this status.
    bool waitForRecord(const QString& status);

    // The user's text and the model's answer never reach the diagnostics log.
    void expectDiagnosticsKeepNoText(const QStringList& texts) const;

    // Saves a screenshot named after the test and the step.
    void shot(const QString& step) const;
    // What the panel and the diagnostics log show, for failure messages.
    std::string context() const;
    // A path in the scenario's own scratch folder.
    QString scratch(const QString& name) const { return m_scratch.filePath(name); }

    test::TestHttpServer server;
    std::unique_ptr<CorvaneProcess> corvane;
    std::optional<PanelProbe> panel;

private:
    QTemporaryDir m_scratch;
};

} // namespace corvane::e2e
