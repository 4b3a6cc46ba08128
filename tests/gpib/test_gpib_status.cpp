// Per-thread status, registration with the library, and choosing the library.
#include <dlfcn.h>

#include <fstream>
#include <thread>

#include "gpib_fixture.h"

namespace tessel::test {
namespace {

using StatusTest = GpibTest;

// Each thread sees its own last call only, zeros before its first, while the
// other thread's objects keep failing and succeeding.
TEST_F(StatusTest, StatusPropertiesArePerThread) {
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
}

TEST_F(StatusTest, AnotherObjectOfTheThreadReportsTheLastFailure) {
    auto other = MakePort();
    TesselGpibSimFailNext("ibfind", 7);
    EXPECT_THROW(port->OnLine(true), ComError);
    EXPECT_EQ(other->Status(), 0x8000);
    EXPECT_EQ(other->Error(), 7);
    other->OnLine(true);  // until the next call of any object of the thread
    EXPECT_EQ(port->Status() & 0x8000, 0);
}

// Registration results are the library's: run on fresh threads so that the
// thread registers at its first call. Going on-line to a missing instrument
// makes four calls: ibfind, ibsic, FindLstn, ibonl.
TEST_F(StatusTest, RegistrationResultsAreFollowed) {
    struct Case {
        int result, times;  // registrations that return it
        size_t registrations, unregistrations;
        bool registered;
    };
    const Case cases[] = {
        {0, 1, 1, 0, true},
        {1, 1, 2, 1, true},     // unregistered, registered again
        {2, 100, 4, 4, false},  // tried again before every call
        {3, 100, 4, 4, false},
        {7, 100, 4, 0, false},  // any other value: not unregistered
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        TesselGpibSimClearCallLog();
        TesselGpibSimForceRegistration(c.result, c.times);
        std::thread([&] {
            auto absent = MakePort(20);
            EXPECT_THROW(absent->OnLine(true), ComError);
            // Registered: the library's status of the board's close. Not: the
            // library never wrote the cells; the count keeps the mark of the failure.
            EXPECT_EQ(absent->Status(), c.registered ? 0x120 : 0);
            EXPECT_EQ(static_cast<uint32_t>(absent->Count()), c.registered ? 0u : 0xDEAD37F0u);
            EXPECT_EQ(absent->Error(), 0);
        }).join();
        TesselGpibSimForceRegistration(0, 0);
        EXPECT_EQ(TesselGpibSimCallCount("RegisterGpibGlobalsForThread"), c.registrations);
        EXPECT_EQ(TesselGpibSimCallCount("UnregisterGpibGlobalsForThread"), c.unregistrations);
        EXPECT_EQ(TesselGpibSimCallCount("ibonl"), 1u);
    }
}

// A library of the other kind: no registration, status through its
// per-thread functions or its variables, the end modes numbered the other way.
TEST_F(StatusTest, ALibraryOfTheSecondKindIsReadAndTranslated) {
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

TEST_F(StatusTest, ALibraryThatCannotBeUsedIsAClearErrorAndTheObjectStaysUsable) {
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
        const ComError e = CaughtError([&] { port->OnLine(true); });
        EXPECT_EQ(e.Number, number);
        EXPECT_EQ(e.Source, "clsGPIB.IPortSetup_Online");
        EXPECT_NE(e.Description.find(mentions), std::string::npos) << e.Description;
        EXPECT_NE(e.Description.find(RuntimeErrorText(number)), std::string::npos) << e.Description;
        EXPECT_FALSE(port->OnLine());
    }
    UseGpibLibrary(GPIB_SIM_LIBRARY);
    port->OnLine(true);
    EXPECT_EQ(port->Receive("*IDN?"), "Tessel,SIM-488,0,1.0");
}

TEST_F(StatusTest, WithoutAChoiceTheSimulatedBusBesideTheLibraryIsLoaded) {
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
