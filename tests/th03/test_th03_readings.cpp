// Readings, cycle, version, filter factor and sensor of an on-line channel,
// and the failures a host meets reading them.
#include "support/trace_recorder.h"
#include "th03_fixture.h"

namespace tessel::test {
namespace {

using TH03Readings = TH03Test;

// Each value the library hands over is a number, one received record in the
// library's own units named by port and channel, and a step of the cycle.
TEST_F(TH03Readings, EachReadingIsANumberARecordAndAStepOfTheCycle) {
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
TEST_F(TH03Readings, AFailedReadRaisesItsOwnErrorAndChangesNothing) {
    const struct {
        const char *source, *description;
        std::function<void(clsTH03&)> read;
    } reads[] = {
        {"clsTH03.Value", "Get Value failed", [](clsTH03& t) { t.value(); }},
        {"clsTH03.Cycle", "Get Cycle failed", [](clsTH03& t) { t.Cycle(); }},
        {"clsTH03.Version", "Get Version failed", [](clsTH03& t) { t.Version(); }},
    };
    auto th03 = Channel("COM1", "1");
    auto check = [&](bool onLine) {
        for (const auto& read : reads) {
            if (onLine) th03sim_fail_next_read(1);  // the library writes 7777 and returns 0
            ExpectError([&] { read.read(*th03); }, kQueryFailed, read.source, read.description);
            if (onLine) { EXPECT_NO_THROW(read.read(*th03)) << read.source << " after a failed read"; }
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

TEST_F(TH03Readings, AnUnpluggedLoggerFailsItsReadsUntilItIsBackAndOnLineAgain) {
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

TEST_F(TH03Readings, FilterFactorAcceptsOneToHundredAndNamesARefusedValue) {
    auto th03 = Channel("COM1", "1");
    EXPECT_EQ(th03->FilterFactor(), 0);
    th03->FilterFactor(42);
    for (const int16_t refused : {0, 101, -5, -32768, 32767}) {
        ExpectError([&] { th03->FilterFactor(refused); }, kObjectErrorBase + tthsInvalidPropertyValue,
                    "clsTH03.FilterFactor", "Invalid Property Value (FilterFactor = " + std::to_string(refused) + ")");
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

TEST_F(TH03Readings, SensorIsTheTypeReadAtTheLastOnLine) {
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

TEST_F(TH03Readings, ASettingThatIsNoNumberFailsOnLineBeforeTheLibraryIsCalled) {
    auto th03 = Channel("COM1", "1");
    th03->Settings()->Item("Channel")->Value(-1, -1, Variant("first"));
    const ComError e = CaughtError([&] { th03->OnLine(true); });
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, "clsTH03.IPortSetup_Online");
    EXPECT_FALSE(th03->OnLine());
    EXPECT_EQ(CallLog(), "");
}

}  // namespace
}  // namespace tessel::test
