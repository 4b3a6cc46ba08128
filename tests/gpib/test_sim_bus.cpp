// The simulated GPIB library called directly, as any program of its users
// would: what it reports for mistakes, and the service-request line.
#include <poll.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <tessel/gpib_sim.h>

#include "gpib/gpib_functions.h"


namespace tessel::gpib {
namespace {

class SimBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        TesselGpibSimReset();
        ASSERT_EQ(TesselGpibSimPlace(0, 3, 0, 100), 0);
        ASSERT_EQ(TesselGpibSimPlace(0, 9, 96, 100), 0);
    }
    static void Write(int pad, const std::string& text) { Send(0, static_cast<Addr4882>(pad), text.data(), static_cast<long>(text.size()), kNLEnd); }
};

TEST_F(SimBusTest, MistakesGetTheLibrarysErrorCodes) {
    struct Case {
        const char* what;
        std::function<void()> call;
        int iberr;
    };
    char buffer[8];
    const Case cases[] = {
        {"unknown board name", [] { EXPECT_EQ(ibfind("GPIB7"), -1); }, kEDVR},
        {"ibsic on a device", [] { ibsic(ibdev(0, 3, 0, 11, 1, 0)); }, kEARG},
        {"primary address 31", [] { EXPECT_EQ(ibdev(0, 31, 0, 11, 1, 0), -1); }, kEARG},
        {"secondary address 95", [] { EXPECT_EQ(ibdev(0, 3, 95, 11, 1, 0), -1); }, kEARG},
        {"board 4", [] { EXPECT_EQ(ibdev(4, 3, 0, 11, 1, 0), -1); }, kENEB},
        {"closed descriptor", [&] { const int ud = ibdev(0, 3, 0, 11, 1, 0); ibonl(ud, 0); ibrd(ud, buffer, 8); }, kEDVR},
        {"nobody at the address", [] { Write(4, "*RST"); }, kENOL},
        {"remote for nobody", [] { const Addr4882 list[] = {4, kNoAddress}; SetRWLS(0, list); }, kENOL},
        {"silent device", [&] { const int ud = ibdev(0, 3, 0, 5, 1, 0); ibrd(ud, buffer, 8); }, kEABO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.call();
        EXPECT_NE(ThreadIbsta() & kERR, 0);
        EXPECT_EQ(ThreadIberr(), c.iberr);
    }
}

TEST_F(SimBusTest, FindLstnReportsOnlyPresentListenersUpToTheLimit) {
    const Addr4882 list[] = {1, 3, 5, 9, kNoAddress};
    Addr4882 found[2] = {0, 0};
    FindLstn(0, list, found, 2);
    EXPECT_EQ(ThreadIbsta() & kERR, 0);
    EXPECT_EQ(ThreadIbcntl(), 2);
    EXPECT_EQ(found[0], 3);
    EXPECT_EQ(found[1], 9);
    FindLstn(0, list, found, 1);
    EXPECT_EQ(ThreadIberr(), kETAB);
}

TEST_F(SimBusTest, ReadsStopAtEoiOrAtTheCount) {
    Write(3, "*IDN?");
    char buffer[64];
    Receive(0, 3, buffer, 6, kStopEnd);
    EXPECT_EQ(ThreadIbcntl(), 6);
    EXPECT_EQ(ThreadIbsta() & kEND, 0);
    EXPECT_EQ(std::string(buffer, 6), "Tessel");
    Receive(0, 3, buffer, sizeof buffer, kStopEnd);
    EXPECT_NE(ThreadIbsta() & kEND, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(ThreadIbcntl())), ",SIM-488,0,1.0\n");
}

TEST_F(SimBusTest, TheServiceRequestLineFollowsTheInstrumentUntilItIsPolled) {
    ibwait(0, 0);
    EXPECT_EQ(ThreadIbsta() & kSRQI, 0);
    Write(3, "*SRE 32;*ESE 1;*OPC");
    ibwait(0, 0);
    EXPECT_NE(ThreadIbsta() & kSRQI, 0);
    pollfd handle{TesselGpibSimServiceRequestHandle(), POLLIN, 0};
    short status = 0;
    ReadStatusByte(0, 3, &status);
    EXPECT_EQ(status, 32 | 64);
    ReadStatusByte(0, 3, &status);
    EXPECT_EQ(status, 32);  // RQS cleared by the first poll
    ibwait(0, 0);
    EXPECT_EQ(ThreadIbsta() & kSRQI, 0);
    EXPECT_EQ(poll(&handle, 1, 0), 0);  // each call looks and clears the handle
}

// The handle turns readable when an operation ends later and asserts the line.
TEST_F(SimBusTest, ALateRequestMakesTheHandleReadable) {
    Write(3, "*SRE 32;*ESE 1;INIT;*OPC");
    ibwait(0, 0);
    EXPECT_EQ(ThreadIbsta() & kSRQI, 0);
    pollfd handle{TesselGpibSimServiceRequestHandle(), POLLIN, 0};
    ASSERT_EQ(poll(&handle, 1, 5000), 1);
    ibwait(0, 0);
    EXPECT_NE(ThreadIbsta() & kSRQI, 0);
}

TEST_F(SimBusTest, EnableLocalWithAnEmptyListReleasesEveryDevice) {
    const Addr4882 both[] = {3, 9, kNoAddress};
    SetRWLS(0, both);
    EXPECT_EQ(TesselGpibSimRemoteState(0, 3), 3);
    const Addr4882 one[] = {3, kNoAddress};
    EnableLocal(0, one);
    EXPECT_EQ(TesselGpibSimRemoteState(0, 3), 2);  // go to local keeps the lockout
    EXPECT_EQ(TesselGpibSimRemoteState(0, 9), 3);
    const Addr4882 none[] = {kNoAddress};
    EnableLocal(0, none);
    EXPECT_EQ(TesselGpibSimRemoteState(0, 3), 0);
    EXPECT_EQ(TesselGpibSimRemoteState(0, 9), 0);
}

}  // namespace
}  // namespace tessel::gpib
