// The interval timer on a clock that the tests move by hand.
#include <gtest/gtest.h>

#include <cmath>

#include <tessel/error.h>
#include <tessel/timeout.h>

#include "support/errors.h"

using namespace tessel;

namespace {

class TimeoutTest : public ::testing::Test {
protected:
    void SetUp() override { clsTimeout::SetClock([this] { return now; }); }
    void TearDown() override { clsTimeout::SetClock(nullptr); }

    double now = 1000.0;
};

}  // namespace

// Each timer starts at `start` and is read at the times listed, in order.
TEST_F(TimeoutTest, RunsUntilTheEndMarkAcrossMidnightAndNeverEndsWhenADayOrLonger) {
    constexpr tmoStates R = tmoRunning, E = tmoExpired;
    const std::vector<std::pair<double, tmoStates>> neverEnds = {{500.0, R}, {43200.0, R}, {86399.99, R}, {0.0, R},
                                                                 {499.0, R}, {500.0, R},   {501.0, R}};
    const struct {
        double start;
        float interval;
        std::vector<std::pair<double, tmoStates>> at;
    } cases[] = {
        // The end mark itself still counts as running; a clock gone back does not revive it.
        {1000.0, 2.0f, {{1000.0, R}, {1002.0, R}, {1002.001, E}, {1000.0, E}}},
        {1000.0, 0.0f, {{1000.0, R}, {1000.01, E}}},  // interval 0: expires once the clock has moved on
        {1000.0, -1.0f, {{1000.0, E}}},
        {86399.5, 1.0f, {{86399.9, R}, {0.2, R}, {0.6, E}}},
        {500.0, 86400.0f, neverEnds},
        {500.0, 200000.0f, neverEnds},
    };
    for (const auto& c : cases) {
        now = c.start;
        clsTimeout t;
        EXPECT_EQ(t.State(), tmoReady);
        t.Start(c.interval);
        for (auto [time, state] : c.at) {
            now = time;
            EXPECT_EQ(t.State(), state) << c.interval << " s from " << c.start << ", at " << time;
        }
    }
}

TEST_F(TimeoutTest, StartWithoutValueRestartsWithTheIntervalAndClearKeepsIt) {
    clsTimeout t;
    t.Start(5.0f);
    now = 1010.0;  // expired by now
    t.Start(0.0f);
    EXPECT_FLOAT_EQ(t.Interval(), 5.0f);
    now = 1014.0;
    EXPECT_EQ(t.State(), tmoRunning);
    now = 1015.5;
    EXPECT_EQ(t.State(), tmoExpired);
    t.Clear();
    EXPECT_EQ(t.State(), tmoReady);
    EXPECT_FLOAT_EQ(t.Interval(), 5.0f);
    t.Interval(3.0f);  // writing the interval does not start anything
    EXPECT_EQ(t.State(), tmoReady);
    EXPECT_EQ(test::CaughtError([&] { t.Start(INFINITY); }).Number, kErrOverflow);
    EXPECT_EQ(t.State(), tmoReady) << "an overflowing end mark leaves the timer as it was";
}

TEST_F(TimeoutTest, SecondsUntilExpiryMatchesTheStateRule) {
    clsTimeout t;
    EXPECT_LT(t.SecondsUntilExpiry(), 0.0);
    t.Start(86400.0f);
    EXPECT_LT(t.SecondsUntilExpiry(), 0.0) << "never expires";
    t.Start(2.0f);
    EXPECT_NEAR(t.SecondsUntilExpiry(), 2.0, 1e-3);
    // Just past the moment it names, State must say expired.
    now += t.SecondsUntilExpiry() + 1e-6;
    EXPECT_EQ(t.State(), tmoExpired);

    now = 86399.0;
    clsTimeout late;
    late.Start(3.0f);
    EXPECT_NEAR(late.SecondsUntilExpiry(), 3.0, 0.01);
    now = 1.0;
    EXPECT_NEAR(late.SecondsUntilExpiry(), 1.0, 0.01);
    now = 2.01;
    EXPECT_DOUBLE_EQ(late.SecondsUntilExpiry(), 0.0);
    EXPECT_EQ(late.State(), tmoExpired);
}
