// Going on-line and off-line on the simulated bus: board sharing, listener
// check, remote state, clean-up after failures.
#include <algorithm>

#include <tessel/factory.h>

#include "gpib_fixture.h"

namespace tessel::test {
namespace {

using SetupTest = GpibTest;

TEST_F(SetupTest, OnLinePutsTheInstrumentIntoRemoteWithLockoutAndOffLineReturnsItToLocal) {
    EXPECT_FALSE(port->OnLine());
    port->OnLine(true);
    EXPECT_TRUE(port->OnLine());
    EXPECT_EQ(TesselGpibSimRemoteState(0, kPad), 3);
    auto log = CallLog();
    // The thread registers at its first call, which may have been an earlier test's.
    std::erase(log, "RegisterGpibGlobalsForThread");
    std::erase(log, "UnregisterGpibGlobalsForThread");
    EXPECT_EQ(log, (std::vector<std::string>{"ibfind GPIB0", "ibsic 0", "FindLstn 0 1", "ibdev 0 12 0 11 1 0",
                                             "SetRWLS 0", "EnableRemote 0"}));
    port->OnLine(true);  // again: still one board count
    EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 1);
    port->OnLine(false);
    EXPECT_FALSE(port->OnLine());
    EXPECT_EQ(TesselGpibSimRemoteState(0, kPad) & 1, 0);
    EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
    TesselGpibSimClearCallLog();
    port->OnLine(false);  // a second time does nothing
    EXPECT_TRUE(CallLog().empty());
}

// Two objects share the board: ibfind and ibsic once, the board closed only
// when the last one leaves, whichever leaves first and however.
TEST_F(SetupTest, TwoObjectsShareOneBoardUntilTheLastLeavesInEitherOrder) {
    ASSERT_EQ(TesselGpibSimPlace(0, 5, 0, 100), 0);
    for (const bool firstLeavesFirst : {true, false}) {
        for (const bool release : {false, true}) {
            SCOPED_TRACE(testing::Message() << "first leaves first " << firstLeavesFirst << ", release " << release);
            TesselGpibSimClearCallLog();
            std::shared_ptr<clsGPIB> first = MakePort(kPad), second = MakePort(5);
            first->OnLine(true);
            second->OnLine(true);
            EXPECT_EQ(TesselGpibSimCallCount("ibfind"), 1u);
            EXPECT_EQ(TesselGpibSimCallCount("ibsic"), 1u);
            auto leave = [release](std::shared_ptr<clsGPIB>& p) { release ? p.reset() : p->OnLine(false); };
            leave(firstLeavesFirst ? first : second);
            EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 1);
            auto& staying = firstLeavesFirst ? second : first;
            EXPECT_TRUE(staying->OnLine());
            leave(staying);
            EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
            EXPECT_EQ(TesselGpibSimCallCount("ibonl"), 3u);  // two devices, one board
        }
    }
}

TEST_F(SetupTest, NoListenerRaisesWithTheOnlineSourceAndClosesTheBoardAgain) {
    auto absent = MakePort(13);
    ExpectError([&] { absent->OnLine(true); }, kObjectErrorBase + tibENOL, "clsGPIB.IPortSetup_Online",
                "No listener found at board 0, address 13");
    EXPECT_FALSE(absent->OnLine());
    EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
    EXPECT_EQ(TesselGpibSimCallCount("ibdev"), 0u);
    // A board in use by another object stays open.
    port->OnLine(true);
    EXPECT_THROW(absent->OnLine(true), ComError);
    EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 1);
    EXPECT_TRUE(port->OnLine());
}

// A failure of each step: form 1 of the library's error passed on with the
// on-line source; the port off-line and nothing left open.
TEST_F(SetupTest, LibraryFailuresOfEachStepLeaveNothingOpen) {
    struct Case {
        const char* function;
        int iberr;
        const char* description;
        std::size_t enableLocal, ibonl;  // the device, when one was opened, is closed with the board
    };
    const Case cases[] = {
        {"ibfind", 0, "EDVR - DOS error at board 0, address 12", 0, 0},
        {"ibsic", 5, "ESAC - Not system controller at board 0, address 12", 0, 1},
        {"FindLstn", 20, "ETAB - Table overflow at board 0, address 12", 0, 1},
        {"ibdev", 4, "EARG - Invalid argument at board 0, address 12", 0, 1},
        {"SetRWLS", 14, "EBUS - Command error at board 0, address 12", 1, 2},
        {"EnableRemote", 8, " at board 0, address 12", 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        TesselGpibSimClearCallLog();
        TesselGpibSimFailNext(c.function, c.iberr);
        ExpectError([&] { port->OnLine(true); }, kObjectErrorBase + tibEDVR + c.iberr, "clsGPIB.IPortSetup_Online",
                    c.description);
        EXPECT_FALSE(port->OnLine());
        EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
        EXPECT_EQ(TesselGpibSimCallCount("EnableLocal"), c.enableLocal);
        EXPECT_EQ(TesselGpibSimCallCount("ibonl"), c.ibonl);
    }
    port->OnLine(true);  // and the next attempt succeeds
    EXPECT_TRUE(port->OnLine());
}

TEST_F(SetupTest, ReleaseClosesDeviceAndBoardWithoutEnableLocal) {
    port->OnLine(true);
    TesselGpibSimClearCallLog();
    port.reset();
    EXPECT_EQ(CallLog(), (std::vector<std::string>{"ibonl 32 0", "ibonl 0 0"}));
    EXPECT_EQ(TesselGpibSimRemoteState(0, kPad), 3);
}

TEST_F(SetupTest, SettingsAreReadAtEachOnLineOnly) {
    ASSERT_EQ(TesselGpibSimPlace(0, 7, 0, 100), 0);
    port->OnLine(true);
    port->Settings()->Item("Primary Address")->Value(-1, -1, Variant(int16_t{7}));
    port->Send("*CLS");
    EXPECT_EQ(Messages(kPad), std::vector<std::string>{"*CLS"});
    port->OnLine(false);
    port->OnLine(true);
    port->Send("*RST");
    EXPECT_EQ(Messages(7), std::vector<std::string>{"*RST"});
}

// Secondary address, board and a time-out written off-line reach ibdev, and
// only then the library.
TEST_F(SetupTest, SecondaryAddressBoardAndTimeOutReachIbdev) {
    ASSERT_EQ(TesselGpibSimPlace(2, 3, 100, 100), 0);
    auto other = MakePort(3, "2");
    other->Settings()->Item("Secondary Address")->Value(-1, -1, Variant(int16_t{100}));
    other->TimeOut(5);
    EXPECT_TRUE(CallLog().empty());
    other->OnLine(true);
    EXPECT_EQ(TesselGpibSimCallCount("ibfind"), 1u);
    const auto log = CallLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "ibfind GPIB2"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "ibdev 2 3 100 13 1 0"), log.end());
}

TEST_F(SetupTest, TheFactoryCreatesTheDriverWithItsSettings) {
    auto object = CreateObject("Tessel.clsGPIB");
    auto setup = QueryInterface<IPortSetup>(object);
    ASSERT_TRUE(setup);
    EXPECT_TRUE(QueryInterface<IPort>(object) && QueryInterface<IPortB>(object));
    EXPECT_FALSE(QueryInterface<IPortDirect>(object));
    EXPECT_EQ(setup->Settings()->Item("Board")->Value(-1, -1).ToString(), "0");
    EXPECT_EQ(setup->Settings()->Item("Secondary Address")->Value(-1, -1).ToInteger(), 0);
}

}  // namespace
}  // namespace tessel::test
