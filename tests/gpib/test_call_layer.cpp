// The call layer's own rules: the 16-bit reading of status values, the error
// texts, and the status copy of a real call.
#include <gtest/gtest.h>

#include <tessel/gpib.h>
#include <tessel/gpib_sim.h>

#include "gpib/call_layer.h"

namespace tessel::gpib {
namespace {

TEST(CallLayer, LowWordReadsBit15AsTheSign) {
    const std::pair<int32_t, int16_t> cases[] = {
        {0xC100, -16128}, {0x8000, -32768}, {0x7FFF, 32767}, {0x12345, 0x2345}, {-1, -1}, {0x1FFFF, -1}, {0, 0},
    };
    for (const auto& [value, expected] : cases) EXPECT_EQ(LowWord(value), expected) << value;
}

// Codes without a text of their own, and any outside the table, read as "".
TEST(CallLayer, ErrorTextsHaveEmptyEntries) {
    std::string texts;
    for (int16_t code = -1; code <= 23; ++code) texts += ErrorText(code) + "|";
    EXPECT_EQ(texts, "|EDVR - DOS error|ECIC - Not CIC|ENOL - No listener|EADR - Address error|"
                     "EARG - Invalid argument|ESAC - Not system controller|EABO - Operation aborted|"
                     "ENEB - No GPIB board|||EOIP - Asynchronous I/O in progress|ECAP - No capability|"
                     "EFSO - File system error||EBUS - Command error|ESTB - Status byte lost|"
                     "ESRQ - SRQ stuck high||||ETAB - Table overflow||||");
}

TEST(CallLayer, ATimedOutReadCopiesItsStatusAsNegative) {
    UseGpibLibrary(GPIB_SIM_LIBRARY);
    TesselGpibSimReset();
    ASSERT_EQ(TesselGpibSimPlace(0, 3, 0, 100), 0);
    const int16_t device = CallIbdev(0, 3, 0, 3);  // 100 us
    ASSERT_FALSE(Failed());
    uint8_t buffer[4];
    CallReadBytes(0, 3, device, buffer, 4);
    EXPECT_EQ(ThreadStatus().ibsta, -16128);
    EXPECT_TRUE(Failed() && TimedOut());
    EXPECT_EQ(ThreadStatus().iberr, kEABO);
    CallIbonl(device);
    EXPECT_EQ(ThreadStatus().ibsta, kCMPL);
    EXPECT_EQ(ThreadStatus().iberr, kEABO);  // the code of the last failure stays
}

}  // namespace
}  // namespace tessel::gpib
