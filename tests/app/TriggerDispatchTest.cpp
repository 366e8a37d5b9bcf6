// Trigger gate and hotkey sync over fakes: what a space tap, the menu or a hotkey does to a busy or
// idle engine, and when the hotkeys are registered again.
#include "app/TriggerDispatch.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeHotkeyGrabber.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "stores/AppProfileStore.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

struct FakeEngine : trigger::EngineControl {
    bool idle = true;
    bool failed = false;
    QStringList calls;
    bool isIdle() const override { return idle; }
    bool isAwaitingInstruction() const override { return false; }
    bool hasFailed() const override { return failed; }
    trigger::RecipeSource currentRecipeSource() const override { return {}; }
    QString currentBundleID() const override { return {}; }
    void finishDraft(const QString&) override {}
    void replaceText() override {}
    void cancel() override {}
    void abandon(bool silent) override {
        calls << QStringLiteral("abandon(%1)").arg(silent);
        idle = true;
    }
    void rerun(std::optional<QString>) override {}
    void stageManualRecipe(const QString&) override {}
    void rememberAsAppDefault(const QString&) override {}
};

struct FakePanel : trigger::PanelPresenter {
    bool visible = false;
    void show(const QString&, std::optional<QPointF>, QSizeF, const QString&, const std::optional<QRectF>&) override {}
    void showDraft(std::optional<QPointF>, QSizeF, const QString&, const std::optional<QRectF>&) override {}
    void setDraftText(const QString&) override {}
    void beginStreamingResult(const QString&) override {}
    void updateResult(const QString&) override {}
    void showResult(const QString&) override {}
    void showError(const QString&) override {}
    void showErrorMessage(const QString&) override {}
    void hide() override { visible = false; }
    bool isPanelVisible() const override { return visible; }
};

struct FakeUsage : trigger::UsageEvents {
    QStringList events;
    void track(const QString& event, const QVariantMap& props) override {
        events << event + QLatin1Char(':') + props.value(QStringLiteral("source")).toString();
    }
};

struct Fixture {
    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    platform::fake::FakeClock clock;
    platform::fake::FakeHotkeyGrabber grabber;
    stores::KeychainHelper keychain{secrets};
    stores::SettingsStore settings{prefs, keychain};
    stores::AppProfileStore rules{prefs, clock, {QStringLiteral("en-US")}};
    trigger::HotkeyCenter hotkeys{grabber, clock};
    FakeEngine engine;
    FakePanel panel;
    FakeUsage usage;
    QList<std::optional<QString>> triggers;
    QList<trigger::TriggerSource> sources;
    app::TriggerDispatch dispatch{engine,
                                  [this](std::optional<QString> forced, trigger::TriggerSource source) -> QCoro::Task<> {
                                      triggers << forced;
                                      sources << source;
                                      co_return;
                                  },
                                  panel, usage, hotkeys, settings, rules};

    void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        clock.advance(0);
    }
};

} // namespace

TEST(TriggerDispatch, GateAgainstTheEngineAndThePanel) {
    const struct {
        bool idle;
        bool panelVisible;
        bool started;
        bool abandoned;
        bool ownWindowFrontmost = false;
        bool failed = false;
    } cases[] = {
        {true, false, true, false},
        {true, true, true, false},
        {false, true, false, false}, // a run in progress or a result on screen: ignored, nothing reported
        {false, false, true, true},  // busy with nothing on screen: stale run dropped silently
        {true, false, false, false, true},  // typed in Corvane's own window: never a run against ourselves
        {false, false, false, false, true}, // ... and no stale run is dropped for it either
        {false, true, true, true, false, true}, // a failed run's panel (its advice followed): closed, new run
    };
    for (const auto& c : cases) {
        Fixture f;
        f.engine.idle = c.idle;
        f.engine.failed = c.failed;
        f.panel.visible = c.panelVisible;
        f.dispatch.setOwnWindowCheck([&c] { return c.ownWindowFrontmost; });
        f.dispatch.triggerFromMonitor();
        f.settle();
        EXPECT_EQ(f.triggers.size(), c.started ? 1 : 0);
        EXPECT_EQ(f.usage.events, c.started ? QStringList{QStringLiteral("trigger:space")} : QStringList{});
        EXPECT_EQ(f.engine.calls, c.abandoned ? QStringList{QStringLiteral("abandon(1)")} : QStringList{});
        EXPECT_EQ(f.panel.visible, c.panelVisible && !c.failed);
    }
}

TEST(TriggerDispatch, HotkeysForceTheRuleRecipeReadAtPressTime) {
    Fixture f;
    f.rules.setMapping(QStringLiteral("org.example.Editor"), QStringLiteral("Editor"), QStringLiteral("concise"));
    f.rules.setHotkey(QStringLiteral("org.example.Editor"), 12, 0x40000);
    f.dispatch.dispatchHotkey(QStringLiteral("global"));
    f.dispatch.dispatchHotkey(QStringLiteral("org.example.Editor"));
    f.dispatch.dispatchHotkey(QStringLiteral("org.example.Deleted"));
    f.settle();
    ASSERT_EQ(f.triggers.size(), 3);
    EXPECT_EQ(f.triggers[0], std::nullopt);
    EXPECT_EQ(f.triggers[1], QStringLiteral("concise"));
    EXPECT_EQ(f.triggers[2], std::nullopt);
    EXPECT_EQ(f.usage.events.count(QStringLiteral("trigger:hotkey")), 3);

    f.dispatch.triggerSelected();
    f.dispatch.triggerFromMonitor();
    f.settle();
    EXPECT_EQ(f.usage.events.mid(3), (QStringList{QStringLiteral("trigger:space"), QStringLiteral("trigger:menu")}));
    // Only space taps stay silent where no field has the focus.
    using trigger::TriggerSource;
    EXPECT_EQ(f.sources, (QList{TriggerSource::Command, TriggerSource::Command, TriggerSource::Command,
                                TriggerSource::SpaceTaps, TriggerSource::Command}));
}

TEST(TriggerDispatch, HotkeysAreRegisteredAgainOnlyWhenTheirSignatureChanges) {
    Fixture f;
    EXPECT_EQ(f.dispatch.hotkeySignature(), QStringLiteral("true|49|786432"));
    f.dispatch.refreshHotkeysIfNeeded();
    const int afterFirst = f.grabber.grabCalls();
    EXPECT_GT(afterFirst, 0);
    f.dispatch.refreshHotkeysIfNeeded();
    EXPECT_EQ(f.grabber.grabCalls(), afterFirst);

    // A rule key without modifiers changes the signature but is not registered.
    f.rules.setMapping(QStringLiteral("org.example.A"), QStringLiteral("A"), QStringLiteral("optimize"));
    f.rules.setHotkey(QStringLiteral("org.example.A"), 12, std::nullopt);
    EXPECT_EQ(f.dispatch.hotkeySignature(), QStringLiteral("true|49|786432|org.example.A:12,-1"));
    f.settings.setHotkeyEnabled(false);
    f.dispatch.refreshHotkeysIfNeeded();
    EXPECT_TRUE(f.grabber.grabs().isEmpty());
    EXPECT_TRUE(f.dispatch.hotkeySignature().startsWith(QStringLiteral("false|")));
}
