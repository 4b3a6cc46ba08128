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
    EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 1);
    auto log = CallLog();
    // The thread registers at its first call, which may have been an earlier test's.
    std::erase(log, "RegisterGpibGlobalsForThread");
    std::erase(log, "UnregisterGpibGlobalsForThread");
    EXPECT_EQ(log, (std::vector<std::string>{"ibfind GPIB0", "ibsic 0",
                                                   "FindLstn 0 1", "ibdev 0 12 0 11 1 0", "SetRWLS 0",
                                                   "EnableRemote 0"}));
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
    for (bool firstLeavesFirst : {true, false}) {
        for (bool release : {false, true}) {
            SCOPED_TRACE(testing::Message() << "first leaves first " << firstLeavesFirst << ", release " << release);
            TesselGpibSimClearCallLog();
            auto first = MakePort(kPad);
            auto second = MakePort(5);
            first->OnLine(true);
            second->OnLine(true);
            EXPECT_EQ(TesselGpibSimCallCount("ibfind"), 1u);
            EXPECT_EQ(TesselGpibSimCallCount("ibsic"), 1u);
            auto& leaving = firstLeavesFirst ? first : second;
            auto& staying = firstLeavesFirst ? second : first;
            if (release) leaving.reset();
            else leaving->OnLine(false);
            EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 1);
            EXPECT_TRUE(staying->OnLine());
            if (release) staying.reset();
            else staying->OnLine(false);
            EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
            EXPECT_EQ(TesselGpibSimCallCount("ibonl"), 3u);  // two devices, one board
            first.reset();
            second.reset();
        }
    }
}

TEST_F(SetupTest, NoListenerRaisesWithTheOnlineSourceAndClosesTheBoardAgain) {
    auto absent = MakePort(13);
    const ComError e = CaughtError([&] { absent->OnLine(true); });
    EXPECT_EQ(e.Number, kObjectErrorBase + tibENOL);
    EXPECT_EQ(e.Source, "clsGPIB.IPortSetup_Online");
    EXPECT_EQ(e.Description, "No listener found at board 0, address 13");
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
    };
    const Case cases[] = {
        {"ibfind", 0, "EDVR - DOS error at board 0, address 12"},
        {"ibsic", 5, "ESAC - Not system controller at board 0, address 12"},
        {"FindLstn", 20, "ETAB - Table overflow at board 0, address 12"},
        {"ibdev", 4, "EARG - Invalid argument at board 0, address 12"},
        {"SetRWLS", 14, "EBUS - Command error at board 0, address 12"},
        {"EnableRemote", 8, " at board 0, address 12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        TesselGpibSimClearCallLog();
        TesselGpibSimFailNext(c.function, c.iberr);
        const ComError e = CaughtError([&] { port->OnLine(true); });
        EXPECT_EQ(e.Number, kObjectErrorBase + tibEDVR + c.iberr);
        EXPECT_EQ(e.Source, "clsGPIB.IPortSetup_Online");
        EXPECT_EQ(e.Description, c.description);
        EXPECT_FALSE(port->OnLine());
        EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
        const bool remoteStep = std::string(c.function) == "SetRWLS" || std::string(c.function) == "EnableRemote";
        EXPECT_EQ(TesselGpibSimCallCount("EnableLocal"), remoteStep ? 1u : 0u);
        // The device descriptor, when one was opened, is closed with the board.
        const bool hadDevice = remoteStep;
        EXPECT_EQ(TesselGpibSimCallCount("ibonl"), (hadDevice ? 1u : 0u) + (std::string(c.function) == "ibfind" ? 0u : 1u));
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

TEST_F(SetupTest, SecondaryAddressAndBoardReachIbdev) {
    ASSERT_EQ(TesselGpibSimPlace(2, 3, 100, 100), 0);
    auto other = MakePort(3, "2");
    other->Settings()->Item("Secondary Address")->Value(-1, -1, Variant(int16_t{100}));
    other->TimeOut(5);
    other->OnLine(true);
    EXPECT_EQ(TesselGpibSimCallCount("ibfind"), 1u);
    const auto log = CallLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "ibfind GPIB2"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "ibdev 2 3 100 13 1 0"), log.end());
}

TEST_F(SetupTest, OnLineAgainWhileOnLineKeepsOneDescriptorAndOneCount) {
    port->OnLine(true);
    port->OnLine(true);
    EXPECT_TRUE(port->OnLine());
    port->OnLine(false);
    EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
}

TEST_F(SetupTest, TheFactoryCreatesTheDriverWithItsSettings) {
    auto object = CreateObject("Tessel.clsGPIB");
    auto setup = QueryInterface<IPortSetup>(object);
    ASSERT_TRUE(setup);
    EXPECT_TRUE(QueryInterface<IPort>(object));
    EXPECT_TRUE(QueryInterface<IPortB>(object));
    EXPECT_FALSE(QueryInterface<IPortDirect>(object));
    EXPECT_EQ(setup->Settings()->Item("Board")->Value(-1, -1).ToString(), "0");
    EXPECT_EQ(setup->Settings()->Item("Secondary Address")->Value(-1, -1).ToInteger(), 0);
}

}  // namespace
}  // namespace tessel::test
