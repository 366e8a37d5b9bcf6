// The space-tap trigger as the user types, on the fake key tap and a virtual clock.
#include "platform/VirtualKeys.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeKeyTap.h"
#include "platform/fake/MemorySystemLog.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/fake/MemorySecretStore.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"
#include "trigger/EventMonitor.h"
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <memory>

using namespace corvane;
using platform::fake::FakeClock;
using platform::fake::FakeKeyTap;
using trigger::EventMonitor;

namespace {

constexpr qint64 kSpace = platform::keys::Space;
constexpr qint64 kKeyA = 0;
constexpr qint64 kShift = 56;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct FakeTapSettings final : trigger::TapSettings {
    qint64 count = 3;
    double intervalMs = 500;
    double cooldown = 2;
    mutable int reads = 0;
    qint64 triggerSpaceCount() const override { return ++reads, count; }
    double triggerIntervalMs() const override { return ++reads, intervalMs; }
    double cooldownSeconds() const override { return ++reads, cooldown; }
};

enum class Act { Space, KeyA, ShiftDown, ShiftUp, SpaceDown, SpaceRepeat, SpaceUp, SetCount };

struct Step {
    double atSeconds;
    Act act;
    qint64 value = 0;
};

class EventMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        stores::DiagLog::configure(&log, &clock, QString());
        monitor.reset();
        settings = FakeTapSettings{};
        monitor = std::make_unique<EventMonitor>(tap, clock, settings);
        monitor->onTrigger = [this] { ++fired; };
        fired = 0;
        origin = clock.uptimeMs();
    }
    void TearDown() override { stores::DiagLog::configure(nullptr, nullptr, QString()); }

    // Plays the steps at their times (seconds after the test's start) and lets the loop run.
    void play(const std::vector<Step>& steps) {
        for (const Step& s : steps) {
            clock.advance(origin + qint64(std::llround(s.atSeconds * 1000)) - clock.uptimeMs());
            switch (s.act) {
            case Act::Space: tap.tap(kSpace); break;
            case Act::KeyA: tap.tap(kKeyA); break;
            case Act::ShiftDown: tap.press(kShift); break;
            case Act::ShiftUp: tap.release(kShift); break;
            case Act::SpaceDown:
            case Act::SpaceRepeat: tap.press(kSpace); break;
            case Act::SpaceUp: tap.release(kSpace); break;
            case Act::SetCount: settings.count = s.value; break;
            }
            clock.advance(0);
        }
    }

    std::vector<Step> spacesAt(std::initializer_list<double> times) {
        std::vector<Step> out;
        for (double t : times)
            out.push_back({t, Act::Space});
        return out;
    }

    QStringList logLines() const { return log.lines(); }

    FakeClock clock;
    FakeKeyTap tap;
    FakeTapSettings settings;
    platform::fake::MemorySystemLog log;
    std::unique_ptr<EventMonitor> monitor;
    int fired = 0;
    qint64 origin = 0;
};

struct PatternCase {
    const char* name;
    std::vector<Step> steps;
    int expectedFires;
};

TEST_F(EventMonitorTest, TapPatternsWithTheDefaults) {
    const std::vector<PatternCase> cases = {
        {"three quick spaces", spacesAt({10.0, 10.4, 10.8}), 1},
        {"a gap longer than the interval restarts", spacesAt({10.0, 10.4, 11.0}), 0},
        {"gaps exactly the interval still count", spacesAt({10.0, 10.5, 11.0}), 1},
        {"only the gap to the previous tap counts, not the age of the first", spacesAt({10.0, 10.45, 10.9}), 1},
        {"another key empties the sequence",
         {{10.0, Act::Space}, {10.4, Act::Space}, {10.6, Act::KeyA}, {10.8, Act::Space}},
         0},
        {"spaces inside the cooldown leave no trace",
         spacesAt({10.0, 10.4, 10.8, 11.0, 11.5, 12.0, 12.5, 12.7, 12.8, 12.9, 13.0}),
         2},
        {"a space just before the cooldown ends is ignored", spacesAt({10.0, 10.4, 10.8, 12.79, 12.8, 12.9}), 1},
        {"Shift held over the taps counts them as spaces",
         {{9.9, Act::ShiftDown}, {10.0, Act::Space}, {10.1, Act::Space}, {10.2, Act::Space}, {10.3, Act::ShiftUp}},
         1},
        {"pressing Shift between taps does not reset",
         {{10.0, Act::Space}, {10.1, Act::ShiftDown}, {10.2, Act::Space}, {10.3, Act::ShiftUp}, {10.4, Act::Space}},
         1},
        {"a held space bar counts once and its repeats neither count nor reset",
         {{10.0, Act::SpaceDown},
          {10.3, Act::SpaceRepeat},
          {10.35, Act::SpaceRepeat},
          {10.4, Act::SpaceUp},
          {10.6, Act::Space}},
         0},
        {"a held space bar then two taps fire",
         {{10.0, Act::SpaceDown},
          {10.2, Act::SpaceRepeat},
          {10.3, Act::SpaceUp},
          {10.45, Act::Space},
          {10.9, Act::Space}},
         1},
        {"lowering the count mid-sequence keeps the newest taps and fires",
         {{10.0, Act::SetCount, 5},
          {10.0, Act::Space},
          {10.1, Act::Space},
          {10.2, Act::Space},
          {10.3, Act::Space},
          {10.35, Act::SetCount, 3},
          {10.4, Act::Space}},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_TRUE(monitor->start());
        play(c.steps);
        EXPECT_EQ(fired, c.expectedFires);
    }
}

struct ClampCase {
    const char* name;
    qint64 count;
    double intervalMs;
    double cooldown;
    std::vector<Step> steps;
    int expectedFires;
};

TEST_F(EventMonitorTest, SettingsOutsideSaneRangesAreClamped) {
    const std::vector<ClampCase> cases = {
        {"a count of 1 needs two taps, never every space", 1, 500, 2, spacesAt({10.0}), 0},
        {"a count of 1 fires on the second tap", 1, 500, 2, spacesAt({10.0, 10.2}), 1},
        {"a negative count needs two taps", -7, 500, 2, spacesAt({10.0, 10.2, 13.0}), 1},
        {"a huge count stops at ten taps", 1'000'000, 500, 2,
         spacesAt({10.0, 10.1, 10.2, 10.3, 10.4, 10.5, 10.6, 10.7, 10.8, 10.9}), 1},
        {"an interval of zero allows 100 ms", 3, 0, 2, spacesAt({10.0, 10.1, 10.2}), 1},
        {"a huge interval allows at most 2 s", 3, 1e12, 2, spacesAt({10.0, 12.0, 14.5, 16.5}), 0},
        {"a non-number interval reads as 500 ms", 3, kNaN, 2, spacesAt({10.0, 10.5, 11.0}), 1},
        {"a non-number interval still breaks at 600 ms", 3, kNaN, 2, spacesAt({10.0, 10.6, 11.2}), 0},
        {"a negative cooldown is no cooldown", 3, 500, -30, spacesAt({10.0, 10.1, 10.2, 10.3, 10.4, 10.5}), 2},
        {"a huge cooldown ends after 60 s", 3, 500, 1e12,
         spacesAt({10.0, 10.1, 10.2, 69.0, 69.1, 69.19, 70.2, 70.3, 70.4}), 2},
        {"a non-number cooldown reads as 2 s", 3, 500, kNaN,
         spacesAt({10.0, 10.1, 10.2, 12.1, 12.15, 12.2, 12.3}), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_TRUE(monitor->start());
        settings.count = c.count;
        settings.intervalMs = c.intervalMs;
        settings.cooldown = c.cooldown;
        play(c.steps);
        EXPECT_EQ(fired, c.expectedFires);
    }
}

TEST_F(EventMonitorTest, TriggerRunsOnALaterTurnOfTheLoop) {
    ASSERT_TRUE(monitor->start());
    tap.tap(kSpace);
    tap.tap(kSpace);
    tap.tap(kSpace);
    EXPECT_EQ(fired, 0) << "the handler must not run inside the tap callback";
    clock.advance(0);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(logLines().contains(QStringLiteral("diag|EventMonitor triple-space FIRED")));
}

TEST_F(EventMonitorTest, PatternCompletingWhileTheMonitorGoesAwayCallsNothing) {
    ASSERT_TRUE(monitor->start());
    for (int i = 0; i < 3; ++i)
        tap.tap(kSpace);
    monitor.reset();
    clock.advance(0);
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(tap.isRunning()) << "a monitor going away stops its tap";

    monitor = std::make_unique<EventMonitor>(tap, clock, settings);
    ASSERT_TRUE(monitor->start());
    for (int i = 0; i < 3; ++i)
        tap.tap(kSpace);
    clock.advance(0);
    EXPECT_EQ(fired, 0) << "no handler installed";
    EXPECT_TRUE(logLines().contains(QStringLiteral("diag|EventMonitor triple-space FIRED")));
}

TEST_F(EventMonitorTest, SpacesInsideTheCooldownReadNoSettings) {
    ASSERT_TRUE(monitor->start());
    for (int i = 0; i < 3; ++i)
        tap.tap(kSpace);
    const int readsAfterFire = settings.reads;
    clock.advance(1000);
    tap.tap(kSpace);
    tap.tap(kSpace);
    EXPECT_EQ(settings.reads, readsAfterFire);
    clock.advance(1000);
    tap.tap(kSpace);
    EXPECT_GT(settings.reads, readsAfterFire) << "the first tap after the cooldown reads count and interval";
}

TEST_F(EventMonitorTest, StartAndStop) {
    EXPECT_FALSE(monitor->isRunning());
    monitor->stop(); // stopping a stopped monitor does nothing
    EXPECT_EQ(tap.startCount(), 0);

    auto untrusted = std::make_unique<EventMonitor>(tap, clock, settings, [] { return false; });
    EXPECT_FALSE(untrusted->start());
    EXPECT_EQ(tap.startCount(), 0) << "no tap without trust";
    EXPECT_TRUE(logLines().contains(QStringLiteral("diag|EventMonitor.start accessibilityTrusted=false")));

    tap.setUnavailable(QStringLiteral("the X server has no XInput 2"));
    EXPECT_FALSE(monitor->start());
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_TRUE(logLines().contains(
        QStringLiteral("diag|EventMonitor.start tapCreate FAILED (the X server has no XInput 2)")));

    tap.setUnavailable({});
    EXPECT_TRUE(monitor->start());
    EXPECT_TRUE(logLines().contains(QStringLiteral("diag|EventMonitor.start tap created OK")));
    tap.tap(kSpace);
    tap.tap(kSpace);
    monitor->stop();
    tap.tap(kSpace); // unseen while stopped
    clock.advance(0);
    EXPECT_EQ(fired, 0);
    EXPECT_TRUE(monitor->start());
    tap.tap(kSpace); // the two earlier taps were kept
    clock.advance(0);
    EXPECT_EQ(fired, 1);
}

TEST_F(EventMonitorTest, TheLogNeverRecordsWhatTheUserTypes) {
    ASSERT_TRUE(monitor->start());
    // "password 1234" typed key by key, with spaces and digits.
    const qint64 typed[] = {35, 0, 1, 1, 13, 31, 15, 2, kSpace, 18, 19, 20, 21, kSpace, kSpace, kSpace};
    for (qint64 key : typed) {
        tap.tap(key);
        clock.advance(40'000); // past every throttle window
    }
    clock.advance(0);
    const QStringList lines = logLines();
    ASSERT_FALSE(lines.isEmpty());
    const QRegularExpression digits(QStringLiteral("[0-9]"));
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains(digits)) << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("keyCode"), Qt::CaseInsensitive)) << line.toStdString();
    }
}

TEST(EventMonitorSettings, TheStoredSettingsAreReadAtEachTap) {
    platform::fake::MemoryPreferences prefs;
    platform::fake::MemorySecretStore secrets;
    stores::KeychainHelper keychain(secrets);
    stores::SettingsStore store(prefs, keychain);
    stores::SettingsStore::setShared(&store);
    FakeClock clock;
    FakeKeyTap tap;
    EventMonitor monitor(tap, clock); // reads the process settings store
    int fired = 0;
    monitor.onTrigger = [&] { ++fired; };
    ASSERT_TRUE(monitor.start());

    auto more = [&](int n, qint64 gapMs) {
        for (int i = 0; i < n; ++i) {
            clock.advance(gapMs);
            tap.tap(kSpace);
        }
        clock.advance(0);
    };
    auto burst = [&](int n, qint64 gapMs) {
        tap.tap(kKeyA); // a new sequence
        more(n, gapMs);
    };
    burst(3, 100);
    EXPECT_EQ(fired, 1) << "the defaults: three taps";

    store.setTriggerSpaceCount(4);
    store.setCooldownSeconds(0);
    clock.advance(3000);
    burst(3, 100);
    EXPECT_EQ(fired, 1) << "a change in the settings window counts from the next tap";
    more(1, 100);
    EXPECT_EQ(fired, 2);

    store.setTriggerIntervalMs(1500);
    burst(4, 1200);
    EXPECT_EQ(fired, 3);

    store.setTriggerSpaceCount(0); // a broken stored value
    burst(1, 100);
    EXPECT_EQ(fired, 3) << "never a trigger on every space";
    more(1, 100);
    EXPECT_EQ(fired, 4);
    stores::SettingsStore::setShared(nullptr);
}

} // namespace
