// A logger's readings in the trace: each value the library hands over is one
// received record, in the library's own units, named by port and channel.
#include "support/trace_recorder.h"
#include "th03_fixture.h"

namespace tessel::test {
namespace {

using TH03Trace = TH03Test;

TEST_F(TH03Trace, EachReadingIsAReceivedRecordAndAFailedReadNone) {
    Recorder recorder;
    auto th03 = Channel("COM2", "3");
    th03->OnLine(true);
    th03sim_set_next_reading(2, 3, -512);
    EXPECT_DOUBLE_EQ(th03->value(), -5.12);
    th03sim_fail_next_read(2);
    EXPECT_ANY_THROW(th03->value());
    th03sim_set_next_reading(2, 3, 2153);
    th03->value();
    const std::vector<Seen> seen = recorder.Records();
    ASSERT_EQ(seen.size(), 2u);
    for (const Seen& s : seen) {
        EXPECT_EQ(s.direction, TraceDirection::Received);
        EXPECT_EQ(s.port, "TH03 COM2:3");
    }
    EXPECT_EQ(seen[0].bytes + " " + seen[1].bytes, "-512 2153");
}

}  // namespace
}  // namespace tessel::test
