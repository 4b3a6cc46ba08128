// Text and block transfers and the time-out codes, on the simulated bus.
#include <algorithm>

#include "gpib_fixture.h"

namespace tessel::test {
namespace {

using TransferTest = OnLineTest;

TEST_F(TransferTest, TimeOutIsRoundedUpToTheNextCodeInSinglePrecision) {
    struct Case {
        float written;
        int code;
        float reads;
    };
    const Case cases[] = {
        {0.0f, 0, 0.0f},     {-1.0f, 1, 1e-5f},    {1e-5f, 1, 1e-5f},    {1.1e-5f, 2, 3e-5f},
        {0.3f, 10, 0.3f},    {0.31f, 11, 1.0f},    {1.0f, 11, 1.0f},     {5.0f, 13, 10.0f},
        {300.0f, 16, 300.0f}, {300.5f, 17, 1000.0f}, {2000.0f, 17, 1000.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        TesselGpibSimClearCallLog();
        port->TimeOut(c.written);
        EXPECT_EQ(port->TimeOut(), c.reads);
        // On-line, the code reaches the library at once.
        EXPECT_EQ(CallLog(), std::vector<std::string>{"ibtmo 32 " + std::to_string(c.code)});
    }
}

// The instrument's reply, then its line feed and EOI: blanks and only the last line feed go.
TEST_F(TransferTest, ReceiveTrimsBlanksAndOneFinalLineFeed) {
    const std::pair<const char*, const char*> cases[] = {{"1.234", "1.234"}, {" 42 \r", "42 \r"}, {"  ", ""}, {"a\n", "a\n"}};
    for (const auto& [reply, expected] : cases) {
        ASSERT_EQ(TesselGpibSimSetFixedReply(0, kPad, "*IDN?", reply), 0);
        EXPECT_EQ(port->Receive("*IDN?"), expected) << reply;
    }
}

TEST_F(TransferTest, SendAddsLineFeedAndEoiAndCountsTheText) {
    port->Send("SOUR:VOLT 2");
    EXPECT_EQ(Messages(), std::vector<std::string>{"SOUR:VOLT 2"});
    EXPECT_EQ(port->Count(), 11);
    EXPECT_EQ(port->Status() & 0x8000, 0);
    EXPECT_EQ(port->Receive("MEAS:VOLT?"), "+2.000000E+00");
}

TEST_F(TransferTest, AReplyLongerThanTheBufferLeavesTheRestWithTheInstrument) {
    ASSERT_EQ(TesselGpibSimSetFixedReply(0, kPad, "*IDN?", std::string(1500, 'x').c_str()), 0);
    EXPECT_EQ(port->Receive("*IDN?"), std::string(1023, 'x'));
    EXPECT_EQ(port->Count(), 1023);
    EXPECT_EQ(port->Receive(), std::string(1500 - 1023, 'x'));
}

TEST_F(TransferTest, ReceiveFromASilentDeviceTimesOutWithTheNominalSeconds) {
    port->TimeOut(0.01f);
    ExpectError([&] { port->Receive(); }, kTimedOut, "clsGPIB.IPort_Receive", "Receive timed out after 0.01 seconds");
    EXPECT_EQ(port->Status(), 0xC120);  // ERR TIMO CMPL CIC
    EXPECT_EQ(port->Error(), 6);
    // The port stays on-line and the instrument noted the query error.
    EXPECT_TRUE(port->OnLine());
    EXPECT_EQ(port->Receive("SYST:ERR?"), "-420,\"Query UNTERMINATED\"");
}

TEST_F(TransferTest, ASendThatTheInstrumentHoldsOffTimesOut) {
    port->TimeOut(0.01f);
    TesselGpibSimSetAccepting(0, kPad, 0);
    ExpectError([&] { port->Send("*RST"); }, kTimedOut, "clsGPIB.IPort_Send", "Send timed out after 0.01 seconds");
    // A receive with a command raises the send's error unchanged.
    ExpectError([&] { port->Receive("*IDN?"); }, kTimedOut, "clsGPIB.IPort_Send");
}

TEST_F(TransferTest, FailuresOfTransfersAreRaisedWithTheirSource) {
    const char* const library = "GPIB-32";
    const struct {
        const char* failing;  // the library function made to fail, if any
        std::function<void(clsGPIB&)> call;
        int32_t number;
        const char* source;
        const char* description;
    } cases[] = {
        {"Send", [](clsGPIB& p) { p.Send("*RST"); }, kObjectErrorBase + tibELCK, library, " at board 0, address 12"},
        {"Receive", [](clsGPIB& p) { p.Receive(); }, kObjectErrorBase + tibELCK, library, " at board 0, address 12"},
        {"ibwrt", [](clsGPIB& p) { p.SendB(true, Variant::Bytes({1, 2})); }, kObjectErrorBase + tibELCK, library,
         " at board 0, address 12"},
        {"ibrd", [](clsGPIB& p) { p.ReceiveB(4); }, kObjectErrorBase + tibELCK, library, " at board 0, address 12"},
        {"ibtmo", [](clsGPIB& p) { p.TimeOut(3); }, kObjectErrorBase + tibELCK, library, " at board 0, address 12"},
        {nullptr, [](clsGPIB& p) { p.ReceiveB(0); }, kErrSubscriptOutOfRange, "clsGPIB.IPortB_ReceiveB", nullptr},
        // Off-line, what the library says of the closed descriptor.
        {nullptr, [](clsGPIB& p) { p.OnLine(false), p.ReceiveB(4); }, kObjectErrorBase + tibEDVR, library,
         "EDVR - DOS error at board 0, address 12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing ? c.failing : c.source);
        if (c.failing) TesselGpibSimFailNext(c.failing, 21);
        ExpectError([&] { c.call(*port); }, c.number, c.source, c.description);
    }
}

TEST_F(TransferTest, ReceiveBReturnsTheCountAskedWithZerosAfterWhatCame) {
    // 60 bytes with EOI: the header "#255", 55 bytes 0, 1, 2, ... and the line feed.
    const Variant got = port->ReceiveB(100, "DATA? 55");
    const auto& bytes = got.AsBytes().bytes;
    ASSERT_EQ(bytes.size(), 100u);
    EXPECT_EQ(port->Count(), 60);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "#255");
    EXPECT_EQ(bytes[4], 0);
    EXPECT_EQ(bytes[58], 54);
    EXPECT_EQ(bytes[59], '\n');
    EXPECT_TRUE(std::all_of(bytes.begin() + 60, bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(TransferTest, ABlockSentInPiecesEndsWithEoiOnlyOnTheLast) {
    port->SendB(false, Variant::Bytes({'a', 'b'}), "DATA #14");
    EXPECT_TRUE(Messages().empty());
    port->SendB(true, Variant::Bytes({'c', 'd'}));
    EXPECT_EQ(Messages(), std::vector<std::string>{"DATA #14abcd"});
    EXPECT_EQ(port->Receive("SYST:ERR?"), "0,\"No error\"");
}

}  // namespace
}  // namespace tessel::test
