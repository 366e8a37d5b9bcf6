#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "services/TelemetryService.h"
#include "services/UpdateService.h"
#include <gtest/gtest.h>

using namespace corvane;
using platform::fake::FakeClock;
using platform::fake::MemoryPreferences;

TEST(Telemetry, NothingIsKeptWithoutConsent) {
    MemoryPreferences prefs;
    FakeClock clock;
    services::TelemetryService telemetry(prefs, clock);
    telemetry.track(QStringLiteral("result"), {{QStringLiteral("ok"), true}});
    EXPECT_FALSE(prefs.contains(QStringLiteral("telemetryQueue")));
    prefs.setValue(QStringLiteral("telemetryConsent"), QStringLiteral("false"));
    telemetry.track(QStringLiteral("result"));
    EXPECT_FALSE(prefs.contains(QStringLiteral("telemetryQueue")));
}

TEST(Telemetry, ConsentedEventsQueueWithTimeAndKeepTheNewest120) {
    MemoryPreferences prefs;
    FakeClock clock;
    prefs.setValue(QStringLiteral("telemetryConsent"), true);
    prefs.setValue(QStringLiteral("telemetryQueue"), QByteArray("{not json"));
    services::TelemetryService telemetry(prefs, clock);
    for (int i = 0; i < 125; ++i)
        telemetry.track(QStringLiteral("e%1").arg(i), {{QStringLiteral("n"), i}});
    const auto queue = telemetry.queuedEvents();
    ASSERT_EQ(queue.size(), 120);
    EXPECT_EQ(queue.first().value(QStringLiteral("event")).toString(), QStringLiteral("e5"));
    EXPECT_EQ(queue.last().value(QStringLiteral("n")).toInt(), 124);
    EXPECT_EQ(queue.last().value(QStringLiteral("ts")).toLongLong(), clock.now().toMSecsSinceEpoch());
}

TEST(UpdateGate, RequiredOnlyWhenTheStoredMinimumIsNewer) {
    const struct {
        const char* minimum;
        const char* running;
        bool required;
    } cases[] = {
        {"", "1.2.0", false},      {"1.2.0", "1.2.0", false}, {"1.2", "1.2.0", false},
        {"1.2.1", "1.2.0", true},  {"1.10", "1.9", true},     {"1.9", "1.10", false},
        {" 2.0 ", "1.99.9", true}, {"0.1", "", true},
    };
    for (const auto& c : cases) {
        MemoryPreferences prefs;
        if (*c.minimum)
            prefs.setValue(QStringLiteral("updateMinVersion"), QString::fromLatin1(c.minimum));
        FakeClock clock;
        services::UpdateService updates(prefs, clock, QString::fromLatin1(c.running));
        EXPECT_EQ(updates.isUpdateRequired(), c.required) << c.minimum << " vs " << c.running;
    }
}
