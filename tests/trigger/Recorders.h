#pragma once
// Recording stand-ins for what the engine talks to: the panel, the menu-bar activity, usage
// events, the update gate and a scripted model.
#include "llm/ModelClient.h"
#include "trigger/AppActivity.h"
#include "trigger/PanelPresenter.h"
#include "trigger/UpdateGate.h"
#include "trigger/UsageEvents.h"
#include <QPointer>
#include <QStringList>
#include <functional>
#include <stdexcept>
#include <vector>

namespace corvane::testkit {

class RecordingPanel final : public trigger::PanelPresenter {
public:
    // The user's line is kept aside, in lines.
    void show(const QString& originalText, std::optional<QPointF> at, QSizeF size, const QString& recipeId,
              const std::optional<QRectF>& keepLine) override {
        lines.push_back(keepLine);
        calls << QStringLiteral("show(%1|%2|%3x%4|%5)")
                     .arg(originalText, where(at))
                     .arg(size.width())
                     .arg(size.height())
                     .arg(recipeId);
        visible = true;
    }
    void showDraft(std::optional<QPointF> at, QSizeF size, const QString& recipeId,
                   const std::optional<QRectF>& keepLine) override {
        lines.push_back(keepLine);
        calls << QStringLiteral("showDraft(%1|%2x%3|%4)").arg(where(at)).arg(size.width()).arg(size.height()).arg(recipeId);
        visible = true;
    }
    void setDraftText(const QString& description) override {
        calls << QStringLiteral("setDraftText(%1)").arg(description);
    }
    void beginStreamingResult(const QString& recipeId) override {
        calls << QStringLiteral("beginStreamingResult(%1)").arg(recipeId);
    }
    void updateResult(const QString& text) override { calls << QStringLiteral("updateResult(%1)").arg(text); }
    // Recorded as the whole text (updateResult); the pieces are kept aside.
    void appendResult(const QString& piece, const QString& textSoFar) override {
        pieces << piece;
        updateResult(textSoFar);
    }
    void showResult(const QString& text) override { calls << QStringLiteral("showResult(%1)").arg(text); }
    void showError(const QString& message) override { calls << QStringLiteral("showError(%1)").arg(message); }
    void showErrorMessage(const QString& message) override {
        calls << QStringLiteral("showErrorMessage(%1)").arg(message);
        visible = true;
    }
    // Recorded as showErrorMessage; the area and the line to leave free are kept aside.
    void showErrorMessageBeside(const QString& message, const QRectF& keepFree,
                                const std::optional<QRectF>& keepLine) override {
        lines.push_back(keepLine);
        keptFree = keepFree;
        showErrorMessage(message);
    }
    void hide() override {
        calls << QStringLiteral("hide()");
        visible = false;
    }
    bool isPanelVisible() const override { return visible; }

    QStringList calls;
    QStringList pieces;
    std::optional<QRectF> keptFree;
    std::vector<std::optional<QRectF>> lines;
    bool visible = false;

private:
    static QString where(std::optional<QPointF> at) {
        return at ? QStringLiteral("%1,%2").arg(at->x()).arg(at->y()) : QStringLiteral("mouse");
    }
};

class RecordingActivity final : public trigger::ActivitySink {
public:
    void setActivity(trigger::AppActivity activity) override { changes.push_back(activity); }
    std::vector<trigger::AppActivity> changes;
};

class RecordingUsage final : public trigger::UsageEvents {
public:
    void track(const QString& event, const QVariantMap& properties) override { events.push_back({event, properties}); }
    std::vector<std::pair<QString, QVariantMap>> events;
    std::vector<QVariantMap> named(const QString& name) const {
        std::vector<QVariantMap> out;
        for (const auto& [event, props] : events)
            if (event == name)
                out.push_back(props);
        return out;
    }
};

class FakeUpdateGate final : public trigger::UpdateGate {
public:
    bool isUpdateRequired() const override { return required; }
    void showForcedUpdateWindow() override { ++windowShown; }
    bool required = false;
    int windowShown = 0;
};

// A model answer the test plays event by event.
class ScriptedStream final : public llm::ModelStream {
    Q_OBJECT
public:
    void stop() override {
        stopped = true;
        finished = true;
    }
    bool isFinished() const override { return finished; }

    void token(const QString& text) { Q_EMIT event(llm::StreamEvent::token(text)); }
    void done() {
        Q_EMIT event(llm::StreamEvent::done());
        finished = true;
    }
    void error(const QString& message, const QString& kind) {
        Q_EMIT event(llm::StreamEvent::error(message, kind));
        finished = true;
    }

    bool stopped = false;
    bool finished = false;
};

class ScriptedModel final : public llm::ModelClient {
public:
    struct Request {
        QString prompt;
        QString systemPrompt;
        QPointer<ScriptedStream> stream;
    };
    enum class Failure { None, NoStream, Throws };

    std::unique_ptr<llm::ModelStream> optimize(const QString& prompt, const QString& systemPrompt,
                                               const QList<llm::ChatMessage>&) override {
        if (onRequest)
            onRequest();
        if (failure == Failure::Throws)
            throw std::runtime_error("connection pool exhausted");
        auto stream = failure == Failure::NoStream ? nullptr : std::make_unique<ScriptedStream>();
        requests.push_back({prompt, systemPrompt, stream.get()});
        return stream;
    }
    void prewarm() override { ++prewarms; }
    ScriptedStream& last() { return *requests.back().stream; }

    std::vector<Request> requests;
    int prewarms = 0; // connections asked to be opened ahead of a request
    Failure failure = Failure::None;
    std::function<void()> onRequest;  // runs as each request is started
};

} // namespace corvane::testkit
