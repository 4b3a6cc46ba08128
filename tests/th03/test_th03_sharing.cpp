// Channel objects sharing loggers: opened once per thread, closed after the
// last user, counted once however often a host says on-line.
#include <thread>

#include "th03_fixture.h"

namespace tessel::test {
namespace {

using TH03Sharing = TH03Test;

// Whichever leaves first, and whether by off-line or by release.
TEST_F(TH03Sharing, TwoChannelsOfOneLoggerOpenItOnceAndCloseItAfterTheLastLeaves) {
    for (const bool firstLeavesFirst : {true, false}) {
        for (const bool release : {false, true}) {
            SCOPED_TRACE(testing::Message() << "first leaves first " << firstLeavesFirst << ", release " << release);
            th03sim_reset();
            std::shared_ptr<clsTH03> one = Channel("COM1", "1"), two = Channel("COM1", "2");
            one->OnLine(true);
            two->OnLine(true);
            EXPECT_EQ(CallLog(), "th03_open_unit(1) = 1\nth03_set_channel(1, 1, 1, 10) = 1\n"
                                 "th03_set_channel(1, 2, 1, 10) = 1\n");
            EXPECT_EQ(Table(), "2: 1/2");
            auto leave = [release](std::shared_ptr<clsTH03>& th03) { release ? th03.reset() : th03->OnLine(false); };
            leave(firstLeavesFirst ? one : two);
            EXPECT_EQ(th03sim_calls("th03_close_unit"), 0);
            auto& staying = firstLeavesFirst ? two : one;
            EXPECT_TRUE(staying->OnLine());
            EXPECT_NO_THROW(staying->value());
            leave(staying);
            EXPECT_TRUE(Logged("th03_close_unit(1) = 1"));
            EXPECT_EQ(th03sim_calls("th03_close_unit"), 1);
            EXPECT_EQ(th03sim_open_count(1), 0);
            EXPECT_EQ(Table(), "0: 0/0 closed");
        }
    }
}

// Off-line before on-line changes nothing; on-line again selects the new
// channel and counts the object once, which one off-line undoes.
TEST_F(TH03Sharing, OnLineAgainCountsTheObjectOnceAndSelectsTheNewChannel) {
    auto th03 = Channel("COM1", "1");
    th03->OnLine(false);
    th03->OnLine(true);
    th03->Settings()->Item("Channel")->Value(-1, -1, Variant("3"));
    th03->OnLine(true);
    EXPECT_EQ(th03sim_calls("th03_open_unit"), 1);
    EXPECT_TRUE(Logged("th03_set_channel(1, 3, 1, 10) = 1"));
    EXPECT_EQ(Table(), "1: 1/1");
    th03sim_set_next_reading(1, 3, 1234);
    EXPECT_DOUBLE_EQ(th03->value(), 12.34);
    th03->OnLine(false);
    th03->OnLine(false);
    EXPECT_EQ(th03sim_open_count(1), 0);
    EXPECT_EQ(th03sim_calls("th03_close_unit"), 1);
    EXPECT_EQ(Table(), "0: 0/0 closed");
}

// Loggers on two ports are opened and closed each on its own: another port
// leaves the old logger, and a port without one leaves the object off-line
// holding no slot, however often it tries.
TEST_F(TH03Sharing, OnLineAgainWithAnotherPortLeavesTheOldLoggerAndAFailedOpenHoldsNoSlot) {
    auto th03 = Channel("COM1", "1"), other = Channel("COM2", "2");
    th03->OnLine(true);
    other->OnLine(true);
    th03->Settings()->Item("Comm Port")->Value(-1, -1, Variant("COM2"));
    th03->OnLine(true);
    EXPECT_EQ(th03sim_open_count(1), 0);
    EXPECT_EQ(th03sim_open_count(2), 1);
    EXPECT_EQ(Table(), "2: 0/0 closed 2/2");
    th03->Settings()->Item("Comm Port")->Value(-1, -1, Variant("COM3"));
    for (int attempt = 0; attempt < 3; ++attempt) {
        ExpectError([&] { th03->OnLine(true); }, kObjectErrorBase, "clsTH03.IPortSetup_Online",
                    "TH-03 at com port 3 failed to open");
        EXPECT_FALSE(th03->OnLine());
        EXPECT_EQ(Table(), "1: 0/0 closed 2/1");
    }
    th03->OnLine(false);
    th03.reset();
    EXPECT_EQ(Table(), "1: 0/0 closed 2/1");
    other->OnLine(false);
    EXPECT_EQ(th03sim_open_count(2), 0);
    th03sim_plug(3);
    auto late = Channel("COM3", "2");
    late->OnLine(true);
    EXPECT_TRUE(late->OnLine());
}

TEST_F(TH03Sharing, TheTableStartsAfreshOnlyWhenAnObjectIsCreatedWhileNothingIsOnLine) {
    auto a = Channel("COM1", "1"), b = Channel("COM2", "1");
    a->OnLine(true);
    a->OnLine(false);
    b->OnLine(true);  // the closed slot of COM1 stays, as no object was created meanwhile
    EXPECT_EQ(Table(), "1: 0/0 closed 2/1");
    auto c = Channel("COM2", "2");  // b is on-line: c joins b's logger
    c->OnLine(true);
    EXPECT_EQ(th03sim_calls("th03_open_unit"), 2);
    EXPECT_EQ(Table(), "2: 0/0 closed 2/2");
    b.reset();
    c.reset();
    auto d = Channel("COM2", "1");  // nothing on-line: the table starts afresh
    EXPECT_EQ(Table(), "0:");
    d->OnLine(true);
    EXPECT_EQ(Table(), "1: 2/1");
}

TEST_F(TH03Sharing, EachThreadOpensTheLoggerForItsOwnObjects) {
    auto here = Channel("COM1", "1");
    here->OnLine(true);
    std::string there;
    std::thread([&] {
        auto th03 = Channel("COM1", "2");
        EXPECT_NO_THROW(th03->OnLine(true));
        there = Table();
        EXPECT_NO_THROW(th03->value());
    }).join();
    EXPECT_EQ(th03sim_calls("th03_open_unit"), 2);
    EXPECT_EQ(th03sim_calls("th03_close_unit"), 1);  // the other thread's object left with its thread
    EXPECT_EQ(there, "1: 1/1");
    EXPECT_EQ(Table(), "1: 1/1");
    EXPECT_TRUE(here->OnLine());
    EXPECT_EQ(th03sim_open_count(1), 1);
}

}  // namespace
}  // namespace tessel::test
