// Text and block transfers and the time-out codes, on the simulated bus.
#include <algorithm>
#include <functional>

#include "gpib_fixture.h"

namespace tessel::test {
namespace {

class TransferTest : public GpibTest {
protected:
    void SetUp() override {
        GpibTest::SetUp();
        port->OnLine(true);
    }
};

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

TEST_F(TransferTest, TimeOutWrittenOffLineReachesTheLibraryOnlyAtOnLine) {
    port->OnLine(false);
    TesselGpibSimClearCallLog();
    port->TimeOut(5);
    EXPECT_TRUE(CallLog().empty());
    port->OnLine(true);
    const auto log = CallLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "ibdev 0 12 0 13 1 0"), log.end());
}

TEST_F(TransferTest, ReceiveTrimsBlanksAndOneFinalLineFeed) {
    struct Case {
        const char* reply;  // sent by the instrument, then its line feed and EOI
        const char* expected;
    };
    const Case cases[] = {
        {"1.234", "1.234"},
        {" 42 \r", "42 \r"},
        {"  ", ""},
        {"a\n", "a\n"},      // only the last line feed goes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        ASSERT_EQ(TesselGpibSimSetFixedReply(0, kPad, "*IDN?", c.reply), 0);
        EXPECT_EQ(port->Receive("*IDN?"), c.expected);
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
    const std::string longReply(1500, 'x');
    ASSERT_EQ(TesselGpibSimSetFixedReply(0, kPad, "*IDN?", longReply.c_str()), 0);
    EXPECT_EQ(port->Receive("*IDN?"), std::string(1023, 'x'));
    EXPECT_EQ(port->Count(), 1023);
    EXPECT_EQ(port->Receive(), std::string(1500 - 1023, 'x'));
}

TEST_F(TransferTest, ReceiveFromASilentDeviceTimesOutWithTheNominalSeconds) {
    port->TimeOut(0.01f);
    const ComError e = CaughtError([&] { port->Receive(); });
    EXPECT_EQ(e.Number, kTimedOut);
    EXPECT_EQ(e.Source, "clsGPIB.IPort_Receive");
    EXPECT_EQ(e.Description, "Receive timed out after 0.01 seconds");
    EXPECT_EQ(port->Status(), 0xC120);  // ERR TIMO CMPL CIC
    EXPECT_EQ(port->Error(), 6);
    // The port stays on-line and the instrument noted the query error.
    EXPECT_TRUE(port->OnLine());
    EXPECT_EQ(port->Receive("SYST:ERR?"), "-420,\"Query UNTERMINATED\"");
}

TEST_F(TransferTest, ASendThatTheInstrumentHoldsOffTimesOut) {
    port->TimeOut(0.01f);
    TesselGpibSimSetAccepting(0, kPad, 0);
    const ComError e = CaughtError([&] { port->Send("*RST"); });
    EXPECT_EQ(e.Number, kTimedOut);
    EXPECT_EQ(e.Source, "clsGPIB.IPort_Send");
    EXPECT_EQ(e.Description, "Send timed out after 0.01 seconds");
    // A receive with a command raises the send's error unchanged.
    const ComError r = CaughtError([&] { port->Receive("*IDN?"); });
    EXPECT_EQ(r.Source, "clsGPIB.IPort_Send");
}

TEST_F(TransferTest, LibraryFailuresOfTransfersAreRaisedWithTheLibrarySource) {
    struct Case {
        const char* function;
        std::function<void(clsGPIB&)> call;
    };
    const Case cases[] = {
        {"Send", [](clsGPIB& p) { p.Send("*RST"); }},
        {"Receive", [](clsGPIB& p) { p.Receive(); }},
        {"ibwrt", [](clsGPIB& p) { p.SendB(true, Variant::Bytes({1, 2})); }},
        {"ibrd", [](clsGPIB& p) { p.ReceiveB(4); }},
        {"ibtmo", [](clsGPIB& p) { p.TimeOut(3); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        TesselGpibSimFailNext(c.function, 21);
        const ComError e = CaughtError([&] { c.call(*port); });
        EXPECT_EQ(e.Number, kObjectErrorBase + tibELCK);
        EXPECT_EQ(e.Source, "GPIB-32");
        EXPECT_EQ(e.Description, " at board 0, address 12");
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

TEST_F(TransferTest, ReceiveBBelowOneCountFailsWithItsSource) {
    const ComError e = CaughtError([&] { port->ReceiveB(0); });
    EXPECT_EQ(e.Number, kErrSubscriptOutOfRange);
    EXPECT_EQ(e.Source, "clsGPIB.IPortB_ReceiveB");
}

TEST_F(TransferTest, TransfersOffLineReportWhatTheLibrarySays) {
    port->OnLine(false);
    const ComError e = CaughtError([&] { port->ReceiveB(4); });
    EXPECT_EQ(e.Number, kObjectErrorBase + tibEDVR);
    EXPECT_EQ(e.Description, "EDVR - DOS error at board 0, address 12");
}

}  // namespace
}  // namespace tessel::test
