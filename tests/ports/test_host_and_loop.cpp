// Host services and the message loop: stops must reach a sleeping loop at
// once, from another thread or from a signal handler.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include <tessel/error.h>
#include <tessel/events.h>
#include <tessel/host.h>

#include "support/errors.h"

using namespace tessel;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override { DefaultHostControl().Reset(); DoEvents(); }
    void TearDown() override {
        SetUp();
        SetHostErrors(nullptr);
        SetHostControl(nullptr);
    }
};

// A bound no test should ever reach: a wait that returns before it was woken.
constexpr auto kLongBound = 30s;

// Runs fn on another thread 50 ms from now, while the caller sleeps.
std::thread After50ms(std::function<void()> fn) {
    return std::thread([fn = std::move(fn)] {
        std::this_thread::sleep_for(50ms);
        fn();
    });
}

void OnSignal(int) { DefaultHostControl().RequestStop(); }

}  // namespace

TEST_F(HostTest, RequestStopFromAnotherThreadWakesASleepingLoopAndTheRunStateEndsADelay) {
    std::thread stopper = After50ms([] { DefaultHostControl().RequestStop(); });
    auto start = Clock::now();
    EXPECT_GE(WaitForEvents(kLongBound), 1u);
    stopper.join();
    EXPECT_LT(Clock::now() - start, kLongBound);
    EXPECT_TRUE(CurrentHostControl().StopRequested());
    EXPECT_EQ(CurrentHostControl().RunState() & kRunStateStopMask, 8);

    DefaultHostControl().Reset();
    stopper = After50ms([] { DefaultHostControl().SetRunState(1); });
    float seconds = 30.0f;
    start = Clock::now();
    CurrentHostControl().Delay(seconds);
    stopper.join();
    EXPECT_LT(Clock::now() - start, kLongBound);
    EXPECT_EQ(CurrentHostControl().RunState(), 1);
}

TEST_F(HostTest, RequestStopFromASignalHandlerWakesASleepingLoop) {
    struct sigaction action {}, previous{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::thread signaller = After50ms([self = pthread_self()] { pthread_kill(self, SIGUSR1); });
    const auto start = Clock::now();
    // The handler may interrupt the wait itself; keep waiting until the stop is seen.
    for (int i = 0; i < 10 && !CurrentHostControl().StopRequested(); ++i) WaitForEvents(kLongBound);
    signaller.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(CurrentHostControl().StopRequested());
    EXPECT_LT(Clock::now() - start, kLongBound);
}

TEST_F(HostTest, DoEventsRunsPostedWorkWithoutBlocking) {
    int ran = 0;
    Post([&] { ++ran; });
    Post([&] { ++ran; });
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(DoEvents(), 2u);
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(DoEvents(), 0u);
}

// The host's service raises its own exception; when it returns instead, the
// member still ends with the error as raised.
TEST_F(HostTest, RaiseGoesThroughTheHostsErrorService) {
    struct Recording : HostErrors {
        int32_t number = 0;
        std::string source;
        bool returns = false;
        void Raise(int32_t Number, const Variant& Source, const Variant&, const Variant&, const Variant&) override {
            number = Number;
            source = Source.ToString();
            if (!returns) throw std::runtime_error("host's own exception");
        }
    };
    auto recording = std::make_shared<Recording>();
    SetHostErrors(recording);
    EXPECT_THROW(RaiseError(42, "here", "what"), std::runtime_error);
    EXPECT_EQ(recording->number, 42);
    EXPECT_EQ(recording->source, "here");
    recording->returns = true;
    const ComError e = test::CaughtError([] { RaiseError(7, "src", "desc", "help.chm", 12, "detail"); });
    EXPECT_EQ(recording->number, 7);
    EXPECT_EQ(std::tie(e.Number, e.Source, e.Description, e.HelpFile, e.HelpContext, e.Detail),
              std::tuple(7, "src", "desc", "help.chm", 12, "detail"));
}

TEST_F(HostTest, ThreadsCanInstallTheirOwnHostControl) {
    struct Halted : HostControl {
        int32_t RunState() override { return 8; }
        bool StopRequested() override { return false; }
    };
    SetHostControl(std::make_shared<Halted>());
    EXPECT_EQ(CurrentHostControl().RunState(), 8);
    std::thread([] { EXPECT_EQ(CurrentHostControl().RunState(), 0); }).join();
    SetHostControl(nullptr);
    EXPECT_EQ(CurrentHostControl().RunState(), 0);
}
