#include "platform/fake/FakeClock.h"
#include <QObject>
#include <gtest/gtest.h>
#include <memory>

using corvane::platform::fake::FakeClock;

namespace {

QCoro::Task<> sleeper(FakeClock& clock, QStringList& trace) {
    trace << QStringLiteral("start");
    co_await clock.sleep(30);
    trace << QStringLiteral("after30");
    co_await clock.sleep(180);
    trace << QStringLiteral("after210");
}

} // namespace

TEST(FakeClock, TimersFireInDueOrderAndCoroutinesResumeOnAdvance) {
    FakeClock clock;
    QStringList trace;
    QObject ctx;
    clock.schedule(50, &ctx, [&] { trace << QStringLiteral("t50"); });
    clock.schedule(10, &ctx, [&] { trace << QStringLiteral("t10"); });
    auto task = sleeper(clock, trace);
    EXPECT_EQ(trace, QStringList{QStringLiteral("start")});
    clock.advance(29);
    EXPECT_EQ(trace, (QStringList{QStringLiteral("start"), QStringLiteral("t10")}));
    clock.advance(1);
    EXPECT_EQ(trace.last(), QStringLiteral("after30"));
    clock.advance(500);
    EXPECT_EQ(trace, (QStringList{QStringLiteral("start"), QStringLiteral("t10"), QStringLiteral("after30"),
                                  QStringLiteral("t50"), QStringLiteral("after210")}));
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST(FakeClock, TimerOfDestroyedContextIsDropped) {
    FakeClock clock;
    bool fired = false;
    {
        auto ctx = std::make_unique<QObject>();
        clock.schedule(10, ctx.get(), [&] { fired = true; });
    }
    clock.advance(20);
    EXPECT_FALSE(fired);
}

TEST(FakeClock, UptimeAndWallTimeMoveTogether) {
    FakeClock clock;
    const auto wall = clock.now();
    const auto up = clock.uptimeMs();
    clock.advance(1500);
    EXPECT_EQ(clock.uptimeMs() - up, 1500);
    EXPECT_EQ(wall.msecsTo(clock.now()), 1500);
}
