#pragma once
// One engine over the fake desktop, real stores on in-memory preferences, the virtual clock and
// recording stand-ins for everything else. Tests read it as a user's desktop session.
#include "Recorders.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "platform/fake/MemorySystemLog.h"
#include "stores/AppProfileStore.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include "stores/SettingsStore.h"
#include "trigger/TriggerEngine.h"

namespace corvane::testkit {

using platform::fake::FakeField;
using platform::fake::FakeWindow;
using stores::OptimizationLog;
using Status = stores::OptimizationLog::LogStatus;
using trigger::AppActivity;

// The application most scenarios type in, and the sentence its field holds.
inline const QString kEditor = QStringLiteral("org.gnome.TextEditor");
inline const QString kSentence = QStringLiteral("Please fix teh grammer in this sentense");

// The properties of the one usage event a step is expected to send.
inline std::vector<QVariantMap> oneEvent(const QVariantMap& properties) { return {properties}; }

struct EngineHarness {
    platform::fake::FakeClock clock;
    platform::fake::FakeDesktop desktop{clock};
    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    platform::fake::MemorySystemLog systemLog;
    stores::KeychainHelper keychain{secrets};
    stores::SettingsStore settings{prefs, keychain};
    stores::RecipeStore recipes{prefs, clock, {QStringLiteral("en-US")}};
    stores::AppProfileStore profiles{prefs, clock, {QStringLiteral("en-US")}};
    stores::OptimizationLogger logger{prefs, clock};
    ScriptedModel model;
    RecordingPanel panel;
    RecordingActivity activity;
    RecordingUsage usage;
    FakeUpdateGate updates;
    trigger::TriggerEngine engine{{desktop, desktop, desktop.clipboard(), desktop, clock, model, panel, activity, usage,
                                   updates, settings, recipes, profiles, logger}};
    std::vector<QCoro::Task<>> runs;

    EngineHarness() {
        stores::DiagLog::configure(&systemLog, &clock, QString());
        settings.setApiKey(QStringLiteral("sk-test"), settings.apiVendorID());
    }
    ~EngineHarness() { stores::DiagLog::configure(nullptr, nullptr, QString()); }

    // A window of an application, active, with one focused field.
    FakeWindow& app(const QString& appId, const QString& name, quint64 windowId = 7) {
        return desktop.openWindow(windowId, appId, name, 4000 + qint64(windowId));
    }
    std::shared_ptr<FakeField> field(FakeWindow& window, const QString& text, platform::TextRange selection = {},
                                     const QString& role = QStringLiteral("entry")) {
        FakeField f;
        f.text = text;
        f.selection = selection;
        f.role = role;
        return desktop.addField(window, f);
    }

    // The user presses the trigger; every clipboard wait of the run passes on the virtual clock.
    void trigger(std::optional<QString> forced = std::nullopt) {
        runs.push_back(engine.trigger(std::move(forced)));
        clock.runAll();
    }
    // Presses Replace and lets any paste and its check finish.
    void replace() {
        engine.replaceText();
        clock.runAll();
    }
    // A whole answer from the model for the latest request.
    void answer(const QString& text) {
        model.last().token(text);
        model.last().done();
    }

    QStringList diag() const {
        QStringList out;
        for (const auto& line : systemLog.lines())
            out << line.section(QLatin1Char('|'), 1);
        return out;
    }
    std::vector<Status> statuses() const {  // oldest first
        std::vector<Status> out;
        for (const auto& e : logger.entries())
            out.insert(out.begin(), e.status);
        return out;
    }
    const OptimizationLog& lastRecord() const { return logger.entries().first(); }
};

} // namespace corvane::testkit
