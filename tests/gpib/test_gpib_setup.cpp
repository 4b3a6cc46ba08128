// Going on-line and off-line on the simulated bus (board sharing, listener
// check, remote state, clean-up after failures), per-thread status,
// registration with the library, and choosing the library.
#include <dlfcn.h>

#include <algorithm>
#include <fstream>
#include <thread>

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

// Settings and a time-out written off-line reach the library at on-line only;
// secondary address and board go to ibdev.
TEST_F(SetupTest, SettingsAreReadAtEachOnLineOnly) {
    ASSERT_EQ(TesselGpibSimPlace(2, 3, 100, 100), 0);
    port->TimeOut(5);
    EXPECT_TRUE(CallLog().empty());
    port->OnLine(true);
    port->Settings()->Item("Board")->Value(-1, -1, Variant("2"));
    port->Settings()->Item("Primary Address")->Value(-1, -1, Variant(int16_t{3}));
    port->Settings()->Item("Secondary Address")->Value(-1, -1, Variant(int16_t{100}));
    port->Send("*CLS");
    EXPECT_EQ(Messages(kPad), std::vector<std::string>{"*CLS"});
    port->OnLine(false);
    TesselGpibSimClearCallLog();
    port->OnLine(true);
    const auto log = CallLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "ibfind GPIB2"), 1);
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

// Each thread sees its own last call only, zeros before its first, while the
// other thread's objects keep failing and succeeding.
TEST_F(SetupTest, StatusPropertiesArePerThread) {
    port->OnLine(true);
    TesselGpibSimFailNext("Send", 11);
    EXPECT_THROW(port->Send("*CLS"), ComError);
    std::thread([] {
        auto other = MakePort();
        EXPECT_EQ(other->Status() | other->Error() | other->Count(), 0);
        other->OnLine(true);
        other->Send("*RST");
        EXPECT_EQ(other->Status() & 0x8000, 0);
        EXPECT_EQ(other->Count(), 4);
        TesselGpibSimFailNext("ibtmo", 7);
        EXPECT_THROW(other->TimeOut(3), ComError);
        EXPECT_EQ(other->Error(), 7);
    }).join();
    EXPECT_EQ(port->Status(), 0x8000);
    EXPECT_EQ(port->Error(), 11);
    EXPECT_EQ(port->Count(), 0);
    // Another object of the thread reports the same, until the next call of any.
    auto another = MakePort();
    EXPECT_EQ(another->Status(), 0x8000);
    EXPECT_EQ(another->Error(), 11);
    another->OnLine(true);
    EXPECT_EQ(port->Status() & 0x8000, 0);
}

// Registration results are the library's: run on fresh threads so that the
// thread registers at its first call. Going on-line to a missing instrument
// makes four calls: ibfind, ibsic, FindLstn, ibonl.
TEST_F(SetupTest, RegistrationResultsAreFollowed) {
    // The result, how many registrations return it, the calls of registration
    // and unregistration, whether the thread ends up registered.
    const std::tuple<int, int, size_t, size_t, bool> cases[] = {
        {0, 1, 1, 0, true},
        {1, 1, 2, 1, true},     // unregistered, registered again
        {2, 100, 4, 4, false},  // tried again before every call
        {3, 100, 4, 4, false},
        {7, 100, 4, 0, false},  // any other value: not unregistered
    };
    for (const auto& [result, times, registrations, unregistrations, registered] : cases) {
        SCOPED_TRACE(result);
        TesselGpibSimClearCallLog();
        TesselGpibSimForceRegistration(result, times);
        std::thread([&] {
            auto absent = MakePort(20);
            EXPECT_THROW(absent->OnLine(true), ComError);
            // Registered: the library's status of the board's close. Not: the
            // library never wrote the cells; the count keeps the mark of the failure.
            EXPECT_EQ(absent->Status(), registered ? 0x120 : 0);
            EXPECT_EQ(static_cast<uint32_t>(absent->Count()), registered ? 0u : 0xDEAD37F0u);
            EXPECT_EQ(absent->Error(), 0);
        }).join();
        TesselGpibSimForceRegistration(0, 0);
        EXPECT_EQ(TesselGpibSimCallCount("RegisterGpibGlobalsForThread"), registrations);
        EXPECT_EQ(TesselGpibSimCallCount("UnregisterGpibGlobalsForThread"), unregistrations);
        EXPECT_EQ(TesselGpibSimCallCount("ibonl"), 1u);
    }
}

// A library of the other kind: no registration, status through its
// per-thread functions or its variables, the end modes numbered the other way.
TEST_F(SetupTest, ALibraryOfTheSecondKindIsReadAndTranslated) {
    for (const char* library : {GPIB_FAKE_LIBRARY, GPIB_FAKE_VARIABLES_LIBRARY}) {
        SCOPED_TRACE(library);
        UseGpibLibrary(library);
        EXPECT_EQ(GpibLibraryInUse(), library);
        port->OnLine(true);
        EXPECT_EQ(port->Receive("*IDN?"), "*IDN?");
        void* fake = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(fake, nullptr);
        EXPECT_EQ(reinterpret_cast<int (*)()>(dlsym(fake, "FakeLastEndMode"))(), 2);  // a line feed with EOI
        dlclose(fake);
        EXPECT_EQ(port->Count(), 6);
        EXPECT_EQ(CaughtError([&] { port->Receive(); }).Description, "Receive timed out after 1 seconds");
        EXPECT_EQ(port->Error(), 6);
        EXPECT_EQ(port->Status(), 0xC000);
        port->OnLine(false);
    }
}

TEST_F(SetupTest, ALibraryThatCannotBeUsedIsAClearErrorAndTheObjectStaysUsable) {
    const std::string notALibrary = ::testing::TempDir() + "/not-a-library.so", none = "/nonexistent/libgpib.so";
    std::ofstream(notALibrary) << "text";
    const std::tuple<std::string, int32_t, std::string> cases[] = {
        {GPIB_FAKE_INCOMPLETE_LIBRARY, kErrLibraryFunctionNotFound, "ibwait"},
        {notALibrary, kErrLibraryLoad, notALibrary},
        {none, kErrFileNotFound, none},
    };
    for (const auto& [path, number, mentions] : cases) {
        SCOPED_TRACE(path);
        UseGpibLibrary(path);
        EXPECT_EQ(GpibLibraryInUse(), "");
        const ComError e = ExpectError([&] { port->OnLine(true); }, number, "clsGPIB.IPortSetup_Online");
        EXPECT_NE(e.Description.find(mentions), std::string::npos) << e.Description;
        EXPECT_NE(e.Description.find(RuntimeErrorText(number)), std::string::npos) << e.Description;
        EXPECT_FALSE(port->OnLine());
    }
    UseGpibLibrary(GPIB_SIM_LIBRARY);
    port->OnLine(true);
    EXPECT_EQ(port->Receive("*IDN?"), "Tessel,SIM-488,0,1.0");
}

TEST_F(SetupTest, WithoutAChoiceTheSimulatedBusBesideTheLibraryIsLoaded) {
    UseGpibLibrary("");
    const std::string inUse = GpibLibraryInUse();
    // A machine with a system GPIB library installed uses that one instead.
    if (inUse.find("libgpib.so") == std::string::npos) {
        EXPECT_EQ(inUse.substr(inUse.rfind('/') + 1), "libtessel-gpib-sim.so");
        port->OnLine(true);
        EXPECT_EQ(TesselGpibSimCallCount("ibfind"), 1u);  // the same bus the test controls
    }
}

}  // namespace
}  // namespace tessel::test
