// Text and block transfers, the time-out codes and the trace, on the simulated bus.
#include "gpib_fixture.h"
#include "support/trace_recorder.h"

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

TEST_F(TransferTest, AReplyLongerThanTheBufferLeavesTheRestWithTheInstrument) {
    ASSERT_EQ(TesselGpibSimSetFixedReply(0, kPad, "*IDN?", std::string(1500, 'x').c_str()), 0);
    EXPECT_EQ(port->Receive("*IDN?"), std::string(1023, 'x'));
    EXPECT_EQ(port->Count(), 1023);
    EXPECT_EQ(port->Receive(), std::string(1500 - 1023, 'x'));
}

// A query that is never answered: its sent record only in the trace.
TEST_F(TransferTest, ReceiveFromASilentDeviceTimesOutWithTheNominalSeconds) {
    port->TimeOut(0.01f);
    Recorder recorder;
    ExpectError([&] { port->Receive("*CLS"); }, kTimedOut, "clsGPIB.IPort_Receive", "Receive timed out after 0.01 seconds");
    const std::vector<Seen> seen = recorder.Records();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].direction, TraceDirection::Sent);
    EXPECT_EQ(seen[0].bytes, "*CLS\n");
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
    const std::pair<const char*, std::function<void(clsGPIB&)>> cases[] = {
        {"Send", [](clsGPIB& p) { p.Send("*RST"); }},
        {"Receive", [](clsGPIB& p) { p.Receive(); }},
        {"ibwrt", [](clsGPIB& p) { p.SendB(true, Variant::Bytes({1, 2})); }},
        {"ibrd", [](clsGPIB& p) { p.ReceiveB(4); }},
        {"ibtmo", [](clsGPIB& p) { p.TimeOut(3); }},
    };
    for (const auto& [function, call] : cases) {
        SCOPED_TRACE(function);
        TesselGpibSimFailNext(function, 21);
        ExpectError([&] { call(*port); }, kObjectErrorBase + tibELCK, "GPIB-32", " at board 0, address 12");
    }
    ExpectError([&] { port->ReceiveB(0); }, kErrSubscriptOutOfRange, "clsGPIB.IPortB_ReceiveB");
    port->OnLine(false);  // what the library says of the closed descriptor
    ExpectError([&] { port->ReceiveB(4); }, kObjectErrorBase + tibEDVR, "GPIB-32",
                "EDVR - DOS error at board 0, address 12");
}

// 60 bytes with EOI: the header "#255", 55 bytes 0, 1, 2, ... and the line
// feed; then zeros up to the count asked.
TEST_F(TransferTest, ReceiveBReturnsTheCountAskedWithZerosAfterWhatCame) {
    std::vector<uint8_t> expected{'#', '2', '5', '5'};
    for (uint8_t b = 0; b < 55; ++b) expected.push_back(b);
    expected.push_back('\n');
    expected.resize(100, 0);
    EXPECT_EQ(port->ReceiveB(100, "DATA? 55").AsBytes().bytes, expected);
    EXPECT_EQ(port->Count(), 60);
}

TEST_F(TransferTest, ABlockSentInPiecesEndsWithEoiOnlyOnTheLast) {
    port->SendB(false, Variant::Bytes({'a', 'b'}), "DATA #14");
    EXPECT_TRUE(Messages().empty());
    port->SendB(true, Variant::Bytes({'c', 'd'}));
    EXPECT_EQ(Messages(), std::vector<std::string>{"DATA #14abcd"});
    EXPECT_EQ(port->Receive("SYST:ERR?"), "0,\"No error\"");
}

// Send adds the line feed and EOI and counts the text; the trace records say
// what crossed the bus, held against what the instrument received.
TEST_F(TransferTest, SentRecordsAreWhatTheInstrumentGotAndReceivedOnesItsReplies) {
    Recorder recorder;
    port->Send("SOUR:VOLT 2");
    EXPECT_EQ(port->Count(), 11);
    const std::string reading = port->Receive(Variant("MEAS:VOLT?"));
    EXPECT_EQ(reading, "+2.000000E+00");
    port->SendB(true, Variant("*CLS\n"), "");
    const auto bytes = port->ReceiveB(4, Variant("*IDN?")).AsBytes().bytes;
    std::string sent, received, bus;
    for (const Seen& s : recorder.Records()) {
        EXPECT_EQ(s.port, "GPIB0:12");
        (s.direction == TraceDirection::Sent ? sent : received) += s.bytes;
    }
    for (const std::string& m : Messages()) bus += m + "\n";
    EXPECT_EQ(sent, bus);
    EXPECT_EQ(sent, "SOUR:VOLT 2\nMEAS:VOLT?\n*CLS\n*IDN?\n");
    EXPECT_EQ(received, reading + "\n" + std::string(bytes.begin(), bytes.end()));
}

}  // namespace
}  // namespace tessel::test
