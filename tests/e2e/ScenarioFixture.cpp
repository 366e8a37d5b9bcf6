#include "e2e/ScenarioFixture.h"
#include <QJsonArray>
#include <QJsonDocument>

namespace corvane::e2e {

test::ScriptedResponse streamedAnswer(const QStringList& tokens, int gapMs, bool finished) {
    test::ScriptedResponse response;
    response.header("Content-Type", "text/event-stream");
    response.keepOpen = !finished;
    const QList<QByteArray> events = test::providers::openAIStream(tokens, finished).split('\n');
    // Events are separated by blank lines; each becomes one piece of the body.
    QByteArray event;
    for (const QByteArray& line : events) {
        if (!line.isEmpty()) {
            event += line + '\n';
            continue;
        }
        if (event.isEmpty())
            continue;
        response.then(event + '\n', response.pieces.isEmpty() ? 0 : gapMs);
        event.clear();
    }
    return response;
}

void Scenario::SetUp() {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "runs inside the headless desktop session (tests/support/session.sh)";
    ASSERT_TRUE(m_scratch.isValid());
    ASSERT_TRUE(server.listen());
}

void Scenario::TearDown() {
    if (HasFailure())
        shot(QStringLiteral("failure"));
    corvane.reset();
}

void Scenario::startCorvane(CorvaneProcess::Settings settings) {
    settings.endpoint = server.baseUrl();
    corvane = std::make_unique<CorvaneProcess>(settings);
    QString why;
    ASSERT_TRUE(corvane->start(&why)) << why.toStdString();
    panel.emplace(corvane->pid());
}

void Scenario::tripleSpace() {
    ASSERT_TRUE(pressKeys({QStringLiteral("space"), QStringLiteral("space"), QStringLiteral("space")}));
}

bool Scenario::waitForRequests(int n) {
    return waitUntil([&] { return server.requests().size() >= n; });
}

QJsonObject Scenario::requestBody(int i) const {
    return QJsonDocument::fromJson(server.requests().value(i).body).object();
}

QString Scenario::userMessage(int i) const {
    for (const QJsonValue& m : requestBody(i).value(QStringLiteral("messages")).toArray())
        if (m.toObject().value(QStringLiteral("role")) == QLatin1String("user"))
            return m.toObject().value(QStringLiteral("content")).toString();
    return {};
}

bool Scenario::waitForTitle(const QString& title) {
    return waitUntil([&] { return panel->title() == title; });
}

bool Scenario::waitPanelHidden() {
    return waitUntil([&] { return !panel->visible(); });
}

bool Scenario::waitForRecord(const QString& status) {
    return waitUntil([&] {
        const auto records = corvane->activity();
        return !records.isEmpty() && records.first().status == status;
    });
}

void Scenario::expectDiagnosticsKeepNoText(const QStringList& texts) const {
    const QString log = corvane->diagLog();
    ASSERT_FALSE(log.isEmpty());
    for (const QString& text : texts)
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            EXPECT_FALSE(log.contains(line.trimmed())) << "the diagnostics log holds \"" << line.toStdString() << '"';
}

void Scenario::shot(const QString& step) const {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString test = info ? QString::fromUtf8(info->test_suite_name()) + QLatin1Char('-') +
                                    QString::fromUtf8(info->name())
                              : QStringLiteral("e2e");
    screenshot(QString(test + QLatin1Char('-') + step).replace(QLatin1Char('/'), QLatin1Char('_')));
}

std::string Scenario::context() const {
    QString out = QStringLiteral("\nPanel:\n") + (panel ? panel->describe() : QStringLiteral("  (no corvane)\n"));
    if (corvane)
        for (const ActivityRecord& r : corvane->activity())
            out += QStringLiteral("Record: %1 %2\n").arg(r.status, r.detail);
    if (corvane)
        out += QStringLiteral("Diagnostics:\n") + corvane->diagLog() + QStringLiteral("Output:\n") + corvane->output();
    return out.toStdString();
}

} // namespace corvane::e2e
