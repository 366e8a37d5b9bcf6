#include "app/AppState.h"
#include "platform/fake/FakeClock.h"
#include <gtest/gtest.h>

using corvane::app::AppState;
using corvane::platform::fake::FakeClock;
using A = corvane::trigger::AppActivity;

namespace {

struct Recorder {
    explicit Recorder(AppState& state) {
        QObject::connect(&state, &AppState::activityChanged, [this](A a) { seen.push_back(a); });
    }
    std::vector<A> seen;
};

} // namespace

TEST(AppState, DoneAndErrorReturnToIdleAfterTheirDelays) {
    FakeClock clock;
    AppState state(clock);
    state.setActivity(A::Done);
    clock.advance(1999);
    EXPECT_EQ(state.activity(), A::Done);
    clock.advance(1);
    EXPECT_EQ(state.activity(), A::Idle);

    state.setActivity(A::Error);
    clock.advance(2999);
    EXPECT_EQ(state.activity(), A::Error);
    clock.advance(1);
    EXPECT_EQ(state.activity(), A::Idle);
}

TEST(AppState, AnyNewActivityCancelsThePendingReset) {
    FakeClock clock;
    AppState state(clock);
    Recorder rec(state);
    state.setActivity(A::Error);
    clock.advance(1000);
    state.setActivity(A::Triggered);
    clock.advance(5000);
    EXPECT_EQ(state.activity(), A::Triggered);

    // A second done restarts the full window.
    state.setActivity(A::Done);
    clock.advance(1500);
    state.setActivity(A::Done);
    clock.advance(1999);
    EXPECT_EQ(state.activity(), A::Done);
    clock.advance(1);
    EXPECT_EQ(state.activity(), A::Idle);

    // Idle while a reset is pending: idle at once, and the stale reset publishes nothing more.
    state.setActivity(A::Done);
    state.setActivity(A::Idle);
    const auto before = rec.seen.size();
    clock.advance(3000);
    EXPECT_EQ(rec.seen.size(), before);
}

TEST(AppState, EveryAssignmentIsPublishedEvenTheSameValue) {
    FakeClock clock;
    AppState state(clock);
    Recorder rec(state);
    state.setActivity(A::Optimizing);
    state.setActivity(A::Optimizing);
    EXPECT_EQ(rec.seen, (std::vector<A>{A::Optimizing, A::Optimizing}));
}
