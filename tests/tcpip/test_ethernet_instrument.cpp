// clsEthernet against the simulated instrument on a loopback port: queries,
// the checked send and the device errors it reports.
#include <string>

#include <tessel/sim.h>

#include "ethernet_fixture.h"

using namespace tessel;
using namespace tessel::test;

namespace {

class InstrumentTest : public EthernetTest {
protected:
    void SetUp() override {
        EthernetTest::SetUp();
        Configure(server.Port());
        eth->OnLine(true);
    }

    sim::TcpServer server;
};

}  // namespace

TEST_F(InstrumentTest, AQueryReturnsTheReplyWithoutItsLineEndAndSoDoesSendE) {
    const std::string identity = sim::Config{}.identity;
    EXPECT_EQ(eth->Receive("*IDN?"), identity);
    EXPECT_EQ(eth->Count(), static_cast<int32_t>(identity.size()));
    EXPECT_EQ(eth->Status(), 256);
    Variant reply;
    eth->SendE("*IDN?", &reply);
    EXPECT_EQ(reply, Variant(identity));
}

TEST_F(InstrumentTest, SendEReportsTheDevicesErrors) {
    EXPECT_TRUE(Raises([&] { eth->SendE("SOUR:VOLT 100"); },  // beyond the source's range
                       kObjectErrorBase + kErrExecutionError, "clsEthernet.IPort_SendE",
                       "Device reports a execution error"));
    EXPECT_TRUE(Raises([&] { eth->SendE("NO:SUCH:COMMand"); }, kObjectErrorBase + kErrCommandError,
                       "clsEthernet.IPort_SendE"));
    eth->SendE("SOUR:VOLT 1.5");  // the errors were read and cleared
    Variant volts;
    eth->SendE("SOUR:VOLT?", &volts);
    EXPECT_DOUBLE_EQ(volts.ToDouble(), 1.5);
}
