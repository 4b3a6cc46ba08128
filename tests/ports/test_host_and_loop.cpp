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

using namespace tessel;
using namespace std::chrono_literals;

namespace {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override { DefaultHostControl().Reset(); DoEvents(); }
    void TearDown() override {
        DefaultHostControl().Reset();
        DoEvents();
        SetHostErrors(nullptr);
        SetHostControl(nullptr);
    }
};

// A bound no test should ever reach: a wait that returns before it was woken.
constexpr auto kLongBound = 30s;

void OnSignal(int) { DefaultHostControl().RequestStop(); }

}  // namespace

TEST_F(HostTest, RequestStopFromAnotherThreadWakesASleepingLoop) {
    std::thread stopper([] {
        std::this_thread::sleep_for(50ms);
        DefaultHostControl().RequestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    const std::size_t ran = WaitForEvents(kLongBound);
    stopper.join();
    EXPECT_GE(ran, 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kLongBound);
    EXPECT_TRUE(CurrentHostControl().StopRequested());
    EXPECT_EQ(CurrentHostControl().RunState() & kRunStateStopMask, 8);
}

TEST_F(HostTest, RequestStopFromASignalHandlerWakesASleepingLoop) {
    struct sigaction action {}, previous{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t self = pthread_self();
    std::thread signaller([self] {
        std::this_thread::sleep_for(50ms);
        pthread_kill(self, SIGUSR1);
    });
    const auto start = std::chrono::steady_clock::now();
    // The handler may interrupt the wait itself; keep waiting until the stop is seen.
    for (int i = 0; i < 10 && !CurrentHostControl().StopRequested(); ++i) WaitForEvents(kLongBound);
    signaller.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(CurrentHostControl().StopRequested());
    EXPECT_LT(std::chrono::steady_clock::now() - start, kLongBound);
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

TEST_F(HostTest, DelayEndsEarlyOnTheRunState) {
    std::thread stopper([] {
        std::this_thread::sleep_for(50ms);
        DefaultHostControl().SetRunState(1);
    });
    float seconds = 30.0f;
    const auto start = std::chrono::steady_clock::now();
    CurrentHostControl().Delay(seconds);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, kLongBound);
    EXPECT_EQ(CurrentHostControl().RunState(), 1);
}

TEST_F(HostTest, RaiseGoesThroughTheHostsErrorService) {
    struct Recording : HostErrors {
        int32_t number = 0;
        std::string source;
        void Raise(int32_t Number, const Variant& Source, const Variant&, const Variant&, const Variant&) override {
            number = Number;
            source = Source.ToString();
            throw std::runtime_error("host's own exception");
        }
    };
    auto recording = std::make_shared<Recording>();
    SetHostErrors(recording);
    EXPECT_THROW(RaiseError(42, "here", "what"), std::runtime_error);
    EXPECT_EQ(recording->number, 42);
    EXPECT_EQ(recording->source, "here");
}

TEST_F(HostTest, AHostRaiseThatReturnsStillEndsTheMember) {
    struct Returning : HostErrors {
        void Raise(int32_t, const Variant&, const Variant&, const Variant&, const Variant&) override {}
    };
    SetHostErrors(std::make_shared<Returning>());
    try {
        RaiseError(7, "src", "desc", "help.chm", 12, "detail");
        FAIL();
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number, 7);
        EXPECT_EQ(e.Source, "src");
        EXPECT_EQ(e.Description, "desc");
        EXPECT_EQ(e.HelpFile, "help.chm");
        EXPECT_EQ(e.HelpContext, 12);
        EXPECT_EQ(e.Detail, "detail");
    }
}

TEST_F(HostTest, ThreadsCanInstallTheirOwnHostControl) {
    struct Halted : HostControl {
        int32_t RunState() override { return 8; }
        bool StopRequested() override { return false; }
    };
    SetHostControl(std::make_shared<Halted>());
    EXPECT_EQ(CurrentHostControl().RunState(), 8);
    std::thread other([] { EXPECT_EQ(CurrentHostControl().RunState(), 0); });
    other.join();
    SetHostControl(nullptr);
    EXPECT_EQ(CurrentHostControl().RunState(), 0);
}
