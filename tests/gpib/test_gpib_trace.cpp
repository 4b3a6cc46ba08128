// Tracing a GPIB port: what the driver's records say crossed the bus, held
// against what the simulated instrument received.
#include "gpib_fixture.h"
#include "support/trace_recorder.h"

namespace tessel::test {
namespace {

using GpibTrace = GpibTest;

TEST_F(GpibTrace, SentRecordsAreWhatTheInstrumentGotAndReceivedOnesItsReplies) {
    port->OnLine(true);
    Recorder recorder;
    port->Send("SOUR:VOLT 2");
    const std::string reading = port->Receive(Variant("MEAS:VOLT?"));
    port->SendB(true, Variant("*CLS\n"), "");
    const Variant head = port->ReceiveB(4, Variant("*IDN?"));

    std::string sent;
    std::string received;
    for (const Seen& s : recorder.Records()) {
        EXPECT_EQ(s.port, "GPIB0:12");
        (s.direction == TraceDirection::Sent ? sent : received) += s.bytes;
    }
    std::string bus;
    for (const std::string& m : Messages()) bus += m + "\n";
    EXPECT_EQ(sent, bus);
    EXPECT_EQ(sent, "SOUR:VOLT 2\nMEAS:VOLT?\n*CLS\n*IDN?\n");
    const auto& bytes = head.AsBytes().bytes;
    EXPECT_EQ(received, reading + "\n" + std::string(bytes.begin(), bytes.end()));
}

TEST_F(GpibTrace, AReadThatTimesOutLeavesNoReceivedRecord) {
    port->TimeOut(0.01f);
    port->OnLine(true);
    Recorder recorder;
    EXPECT_ANY_THROW(port->Receive(Variant("*CLS")));  // no reply comes
    const std::vector<Seen> seen = recorder.Records();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].direction, TraceDirection::Sent);
    EXPECT_EQ(seen[0].bytes, "*CLS\n");
}

}  // namespace
}  // namespace tessel::test
