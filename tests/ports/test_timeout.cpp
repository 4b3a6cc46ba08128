// The interval timer on a clock that the tests move by hand.
#include <gtest/gtest.h>

#include <cmath>

#include <tessel/error.h>
#include <tessel/factory.h>
#include <tessel/timeout.h>

using namespace tessel;

namespace {

class TimeoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        clsTimeout::SetClock([this] { return now; });
    }
    void TearDown() override { clsTimeout::SetClock(nullptr); }

    double now = 1000.0;
};

}  // namespace

TEST_F(TimeoutTest, RunsUntilTheEndMarkThenStaysExpired) {
    clsTimeout t;
    EXPECT_EQ(t.State(), tmoReady);
    t.Start(2.0f);
    EXPECT_EQ(t.State(), tmoRunning);
    now = 1002.0;  // the end mark itself still counts as running
    EXPECT_EQ(t.State(), tmoRunning);
    now = 1002.001;
    EXPECT_EQ(t.State(), tmoExpired);
    now = 1000.0;  // even a clock that goes back does not revive it
    EXPECT_EQ(t.State(), tmoExpired);
    t.Start();
    EXPECT_EQ(t.State(), tmoRunning);
}

TEST_F(TimeoutTest, StartWithoutValueReusesTheInterval) {
    clsTimeout t;
    t.Start(5.0f);
    now = 1010.0;
    t.Start(0.0f);
    EXPECT_FLOAT_EQ(t.Interval(), 5.0f);
    now = 1014.0;
    EXPECT_EQ(t.State(), tmoRunning);
    now = 1015.5;
    EXPECT_EQ(t.State(), tmoExpired);
}

TEST_F(TimeoutTest, ZeroAndNegativeIntervals) {
    clsTimeout fresh;  // interval 0: expires once the clock has moved on
    fresh.Start();
    EXPECT_EQ(fresh.State(), tmoRunning);
    now += 0.01;
    EXPECT_EQ(fresh.State(), tmoExpired);

    clsTimeout negative;
    negative.Start(-1.0f);
    EXPECT_EQ(negative.State(), tmoExpired);
}

TEST_F(TimeoutTest, IntervalAcrossMidnight) {
    now = 86399.5;
    clsTimeout t;
    t.Start(1.0f);
    EXPECT_EQ(t.State(), tmoRunning);
    now = 86399.9;
    EXPECT_EQ(t.State(), tmoRunning);
    now = 0.2;
    EXPECT_EQ(t.State(), tmoRunning);
    now = 0.6;
    EXPECT_EQ(t.State(), tmoExpired);
}

TEST_F(TimeoutTest, ADayOrMoreNeverExpires) {
    for (float interval : {86400.0f, 200000.0f}) {
        now = 500.0;
        clsTimeout t;
        t.Start(interval);
        for (double at : {500.0, 43200.0, 86399.99, 0.0, 499.0, 500.0, 501.0}) {
            now = at;
            EXPECT_EQ(t.State(), tmoRunning) << interval << " at " << at;
        }
        EXPECT_LT(t.SecondsUntilExpiry(), 0.0);
    }
}

TEST_F(TimeoutTest, ClearReturnsToReadyAndKeepsTheInterval) {
    clsTimeout t;
    t.Start(1.0f);
    now += 5.0;
    t.Clear();
    EXPECT_EQ(t.State(), tmoReady);
    EXPECT_FLOAT_EQ(t.Interval(), 1.0f);
    t.Interval(3.0f);  // writing the interval does not start anything
    EXPECT_EQ(t.State(), tmoReady);
}

TEST_F(TimeoutTest, OverflowingEndMarkLeavesTheTimerAsItWas) {
    clsTimeout t;
    try {
        t.Start(INFINITY);
        FAIL() << "no overflow raised";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number, kErrOverflow);
    }
    EXPECT_EQ(t.State(), tmoReady);
}

TEST_F(TimeoutTest, SecondsUntilExpiryMatchesTheStateRule) {
    clsTimeout t;
    EXPECT_LT(t.SecondsUntilExpiry(), 0.0);
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

TEST(Timeout, CreatableByProgramIdentifier) {
    auto obj = CreateObject("Tessel.clsTimeout");
    auto timer = std::dynamic_pointer_cast<clsTimeout>(obj);
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->State(), tmoReady);
    EXPECT_FLOAT_EQ(timer->Interval(), 0.0f);
}
