// Per-thread status, registration with the library, and choosing the library.
#include <dlfcn.h>

#include <fstream>
#include <thread>

#include "gpib_fixture.h"

namespace tessel::test {
namespace {

using StatusTest = GpibTest;

TEST_F(StatusTest, StatusIsZeroOnAThreadBeforeItsFirstCall) {
    std::thread([] {
        auto fresh = MakePort();
        EXPECT_EQ(fresh->Status(), 0);
        EXPECT_EQ(fresh->Error(), 0);
        EXPECT_EQ(fresh->Count(), 0);
    }).join();
}

// Each thread sees its own last call only, while the other thread's objects
// keep failing and succeeding.
TEST_F(StatusTest, StatusPropertiesArePerThread) {
    port->OnLine(true);
    TesselGpibSimFailNext("Send", 11);
    EXPECT_THROW(port->Send("*CLS"), ComError);
    std::thread([] {
        auto other = MakePort();
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
    // Until the next call of any object of the thread.
    other->OnLine(true);
    EXPECT_EQ(port->Status() & 0x8000, 0);
}

// Registration results are the library's: run on fresh threads so that the
// thread registers at its first call. Going on-line to a missing instrument
// makes four calls: ibfind, ibsic, FindLstn, ibonl.
TEST_F(StatusTest, RegistrationResultsAreFollowed) {
    struct Case {
        int result;
        int times;              // registrations that return it
        size_t registrations;   // RegisterGpibGlobalsForThread calls
        size_t unregistrations; // UnregisterGpibGlobalsForThread calls
        bool registered;
    };
    const Case cases[] = {
        {0, 1, 1, 0, true},
        {1, 1, 2, 1, true},   // unregistered, registered again
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
            if (c.registered) {
                // The library's status of the last call, the board's close.
                EXPECT_EQ(absent->Status(), 0x120);
                EXPECT_EQ(absent->Count(), 0);
            } else {
                // The library never wrote the cells; the count keeps the mark
                // of the failed registration.
                EXPECT_EQ(absent->Status(), 0);
                EXPECT_EQ(static_cast<uint32_t>(absent->Count()), 0xDEAD37F0u);
            }
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
        auto lastEndMode = reinterpret_cast<int (*)()>(dlsym(fake, "FakeLastEndMode"));
        EXPECT_EQ(lastEndMode(), 2);  // its number for a line feed with EOI
        dlclose(fake);
        EXPECT_EQ(port->Count(), 6);
        const ComError e = CaughtError([&] { port->Receive(); });
        EXPECT_EQ(e.Description, "Receive timed out after 1 seconds");
        EXPECT_EQ(port->Error(), 6);
        EXPECT_EQ(port->Status(), 0xC000);
        port->OnLine(false);
    }
}

TEST_F(StatusTest, ALibraryThatCannotBeUsedIsAClearErrorAndTheObjectStaysUsable) {
    const std::string notALibrary = ::testing::TempDir() + "/not-a-library.so";
    std::ofstream(notALibrary) << "text";
    struct Case {
        std::string path;
        int32_t number;
        std::string mentions;
    };
    const Case cases[] = {
        {GPIB_FAKE_INCOMPLETE_LIBRARY, kErrLibraryFunctionNotFound, "ibwait"},
        {notALibrary, kErrLibraryLoad, notALibrary},
        {"/nonexistent/libgpib.so", kErrFileNotFound, "/nonexistent/libgpib.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        UseGpibLibrary(c.path);
        EXPECT_EQ(GpibLibraryInUse(), "");
        const ComError e = CaughtError([&] { port->OnLine(true); });
        EXPECT_EQ(e.Number, c.number);
        EXPECT_EQ(e.Source, "clsGPIB.IPortSetup_Online");
        EXPECT_NE(e.Description.find(c.mentions), std::string::npos) << e.Description;
        EXPECT_NE(e.Description.find(RuntimeErrorText(c.number)), std::string::npos) << e.Description;
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
