// Finding and loading the logger library, a new clsTH03, and the readings,
// cycle, version, filter factor and sensor of an on-line channel with the
// failures a host meets reading them.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/trace_recorder.h"
#include "th03_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;
using TH03Library = TH03Test;

fs::path ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "th03-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    return pattern;
}

// Another library can be named only while no logger is open through this one.
TEST_F(TH03Library, TheLibraryIsTheOneBesideLibtesselUntilAnotherIsNamed) {
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&TH03ThreadUnits), &info), 0);
    const fs::path beside = fs::canonical(info.dli_fname).parent_path() / "libth0332.so";
    EXPECT_EQ(fs::path(TH03LibraryPath()), beside);
    auto th03 = Channel("COM1", "1");
    th03->OnLine(true);
    EXPECT_EQ(CaughtError([] { UseTH03Library("/nowhere/libth0332.so"); }).Number, kErrInvalidProcedureCall);
    EXPECT_EQ(fs::path(TH03LibraryPath()), beside);
    EXPECT_NO_THROW(th03->value());
    th03->OnLine(false);
    UseTH03Library("/nowhere/libth0332.so");
    EXPECT_EQ(TH03LibraryPath(), "/nowhere/libth0332.so");
}

// Each library that cannot be used: on-line refuses it and the object stays
// off-line; back to the library beside libtessel, the same object goes on-line.
TEST_F(TH03Library, OnLineRefusesABadLibraryAndTheObjectStaysOffLine) {
    const fs::path scratch = ScratchFolder();
    const std::string missing = scratch / "libth0332.so", notALibrary = scratch / "not-a-library" / "libth0332.so";
    fs::create_directory(scratch / "not-a-library");
    std::ofstream(notALibrary) << "not an ELF file\n";
    const std::tuple<std::string, int32_t, const char*, const char*> cases[] = {
        {missing, kErrFileNotFound, "File not found", "libth0332.so"},
        {notALibrary, kErrLibraryLoad, "Error in loading DLL", "libth0332.so"},
        {TH03_INCOMPLETE_LIBRARY, kErrLibraryFunctionNotFound, "Specified DLL function not found", "th03_get_version"},
    };
    for (const auto& [path, number, description, detailMentions] : cases) {
        SCOPED_TRACE(path);
        th03sim_reset();
        UseTH03Library(path);
        auto th03 = Channel("COM1", "1");
        const ComError e = ExpectError([&] { th03->OnLine(true); }, number, "clsTH03.IPortSetup_Online", description);
        EXPECT_NE(e.Detail.find(detailMentions), std::string::npos) << e.Detail;
        EXPECT_FALSE(th03->OnLine());
        EXPECT_EQ(TH03ThreadUnits().OnLineCount, 0);
        th03->OnLine(false);
        UseTH03Library("");
        th03->OnLine(true);
        EXPECT_TRUE(th03->OnLine());
        EXPECT_EQ(th03sim_calls("th03_open_unit"), 1);
    }
    fs::remove_all(scratch);
}

// On-line with them, from a folder of its own: the current directory stays.
TEST_F(TH03Library, ANewChannelHasItsDefaultSettings) {
    auto setup = QueryInterface<IPortSetup>(std::make_shared<clsTH03>());
    ASSERT_TRUE(setup);
    EXPECT_FALSE(setup->OnLine());
    EXPECT_FALSE(QueryInterface<IPort>(setup));
    auto settings = setup->Settings();
    EXPECT_EQ(settings->Item("Comm Port")->Value(-1, -1).ToInteger(), 1);
    EXPECT_EQ(settings->Item("Channel")->Value(-1, -1), Variant("1"));
    EXPECT_EQ(settings->Item("Sensor")->Value(-1, -1), Variant("1"));
    const fs::path before = fs::current_path(), scratch = ScratchFolder();
    fs::current_path(scratch);
    setup->OnLine(true);
    EXPECT_EQ(fs::current_path(), scratch);
    fs::current_path(before);
    fs::remove_all(scratch);
    EXPECT_TRUE(setup->OnLine());
    EXPECT_TRUE(Logged("th03_set_channel(1, 1, 1, 10) = 1"));
}

// Each value the library hands over is a number, one received record in the
// library's own units named by port and channel, and a step of the cycle.
TEST_F(TH03Library, EachReadingIsANumberARecordAndAStepOfTheCycle) {
    Recorder recorder;
    auto th03 = Channel("COM2", "3");
    th03->OnLine(true);
    const int32_t cycle = th03->Cycle();
    for (const auto& [hundredths, expected] : {std::pair{-512, -5.12}, {2153, 21.53}, {0, 0.0}, {1, 0.01}, {-1, -0.01}}) {
        th03sim_set_next_reading(2, 3, hundredths);
        EXPECT_DOUBLE_EQ(th03->value(), expected) << hundredths;
    }
    EXPECT_EQ(th03->Cycle(), cycle + 5);
    th03sim_fail_next_read(2);
    EXPECT_ANY_THROW(th03->value());  // and leaves no record
    std::string records;
    for (const Seen& s : recorder.Records()) {
        EXPECT_EQ(s.direction, TraceDirection::Received);
        EXPECT_EQ(s.port, "TH03 COM2:3");
        records += s.bytes + " ";
    }
    EXPECT_EQ(records, std::to_string(cycle) + " -512 2153 0 1 -1 " + std::to_string(cycle + 5) + " ");  // cycles too
    EXPECT_TRUE(Logged("th03_get_temp(2, 3, 10) = 1"));
    EXPECT_EQ(th03->Version(), 3);
    EXPECT_TRUE(Logged("th03_get_cycle(2) = 1"));
}

// Each read that fails: off-line before and after on-line without asking the
// library, and on-line whatever the cell holds, changing nothing.
TEST_F(TH03Library, AFailedReadRaisesItsOwnErrorAndChangesNothing) {
    const std::tuple<const char*, const char*, std::function<void(clsTH03&)>> reads[] = {
        {"clsTH03.Value", "Get Value failed", [](clsTH03& t) { t.value(); }},
        {"clsTH03.Cycle", "Get Cycle failed", [](clsTH03& t) { t.Cycle(); }},
        {"clsTH03.Version", "Get Version failed", [](clsTH03& t) { t.Version(); }},
    };
    auto th03 = Channel("COM1", "1");
    auto check = [&](bool onLine) {
        for (const auto& [source, description, read] : reads) {
            if (onLine) th03sim_fail_next_read(1);  // the library writes 7777 and returns 0
            ExpectError([&] { read(*th03); }, kQueryFailed, source, description);
            if (onLine) { EXPECT_NO_THROW(read(*th03)) << source << " after a failed read"; }
        }
    };
    check(false);
    EXPECT_EQ(CallLog(), "");
    th03->OnLine(true);
    th03->OnLine(false);
    th03sim_clear_log();
    check(false);
    EXPECT_EQ(CallLog(), "");
    th03->OnLine(true);
    check(true);
    EXPECT_TRUE(th03->OnLine());
}

TEST_F(TH03Library, AnUnpluggedLoggerFailsItsReadsUntilItIsBackAndOnLineAgain) {
    auto th03 = Channel("COM1", "2");
    th03->OnLine(true);
    th03sim_unplug(1);
    EXPECT_EQ(CaughtError([&] { th03->value(); }).Description, "Get Value failed");
    EXPECT_TRUE(th03->OnLine());  // the driver cannot tell until it reopens
    th03->OnLine(false);
    EXPECT_EQ(th03sim_calls("th03_close_unit"), 1);
    EXPECT_EQ(CaughtError([&] { th03->OnLine(true); }).Description, "TH-03 at com port 1 failed to open");
    EXPECT_FALSE(th03->OnLine());
    th03sim_plug(1);
    th03->OnLine(true);
    th03sim_set_next_reading(1, 2, 1999);
    EXPECT_DOUBLE_EQ(th03->value(), 19.99);
}

TEST_F(TH03Library, FilterFactorAcceptsOneToHundredAndNamesARefusedValue) {
    auto th03 = Channel("COM1", "1");
    EXPECT_EQ(th03->FilterFactor(), 0);
    th03->FilterFactor(42);
    for (const int16_t refused : {0, 101, -5, -32768, 32767}) {
        ExpectError([&] { th03->FilterFactor(refused); }, kObjectErrorBase + tthsInvalidPropertyValue,
                    "clsTH03.FilterFactor", ("Invalid Property Value (FilterFactor = " + std::to_string(refused) + ")").c_str());
        EXPECT_EQ(th03->FilterFactor(), 42);
    }
    for (const int16_t accepted : {1, 100}) {
        th03->FilterFactor(accepted);
        EXPECT_EQ(th03->FilterFactor(), accepted);
    }
    EXPECT_EQ(CallLog(), "");
    // On-line resets it, and later writes reach the readings; set_channel always gets 10.
    th03->OnLine(true);
    EXPECT_EQ(th03->FilterFactor(), 10);
    th03->FilterFactor(75);
    th03->value();
    EXPECT_TRUE(Logged("th03_get_temp(1, 1, 75) = 1"));
    EXPECT_TRUE(Logged("th03_set_channel(1, 1, 1, 10) = 1"));
}

TEST_F(TH03Library, SensorIsTheTypeReadAtTheLastOnLine) {
    auto th03 = Channel("COM1", "1", "Light Sensor EL031");
    EXPECT_EQ(th03->Sensor(), thsOff);
    th03->OnLine(true);
    EXPECT_EQ(th03->Sensor(), thsEL031);
    EXPECT_TRUE(Logged("th03_set_channel(1, 1, 4, 10) = 1"));
    th03->Settings()->Item("Sensor")->Value(-1, -1, Variant("Off"));
    EXPECT_EQ(th03->Sensor(), thsEL031);
    th03->OnLine(true);
    EXPECT_EQ(th03->Sensor(), thsOff);
    // A channel switched off gives no reading.
    EXPECT_EQ(CaughtError([&] { th03->value(); }).Description, "Get Value failed");
}

TEST_F(TH03Library, ASettingThatIsNoNumberFailsOnLineBeforeTheLibraryIsCalled) {
    auto th03 = Channel("COM1", "1");
    th03->Settings()->Item("Channel")->Value(-1, -1, Variant("first"));
    ExpectError([&] { th03->OnLine(true); }, kErrTypeMismatch, "clsTH03.IPortSetup_Online");
    EXPECT_FALSE(th03->OnLine());
    EXPECT_EQ(CallLog(), "");
}

}  // namespace
}  // namespace tessel::test
