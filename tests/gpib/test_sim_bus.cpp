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
    static void Write(int pad, const std::string& text) {
        Send(0, static_cast<Addr4882>(pad), text.data(), static_cast<long>(text.size()), kNLEnd);
    }
    static bool Requesting() { return ibwait(0, 0), (ThreadIbsta() & kSRQI) != 0; }
};

TEST_F(SimBusTest, MistakesGetTheLibrarysErrorCodes) {
    char buffer[8];
    const Addr4882 nobody[] = {4, kNoAddress}, listeners[] = {1, 3, 5, 9, kNoAddress};
    Addr4882 found[2] = {0, 0};
    const std::tuple<const char*, std::function<void()>, int> cases[] = {
        {"unknown board name", [] { EXPECT_EQ(ibfind("GPIB7"), -1); }, kEDVR},
        {"ibsic on a device", [] { ibsic(ibdev(0, 3, 0, 11, 1, 0)); }, kEARG},
        {"primary address 31", [] { EXPECT_EQ(ibdev(0, 31, 0, 11, 1, 0), -1); }, kEARG},
        {"secondary address 95", [] { EXPECT_EQ(ibdev(0, 3, 95, 11, 1, 0), -1); }, kEARG},
        {"board 4", [] { EXPECT_EQ(ibdev(4, 3, 0, 11, 1, 0), -1); }, kENEB},
        {"closed descriptor", [&] { const int ud = ibdev(0, 3, 0, 11, 1, 0); ibonl(ud, 0); ibrd(ud, buffer, 8); }, kEDVR},
        {"nobody at the address", [] { Write(4, "*RST"); }, kENOL},
        {"remote for nobody", [&] { SetRWLS(0, nobody); }, kENOL},
        {"more listeners than room", [&] { FindLstn(0, listeners, found, 1); }, kETAB},
    };
    for (const auto& [what, call, iberr] : cases) {
        SCOPED_TRACE(what);
        call();
        EXPECT_NE(ThreadIbsta() & kERR, 0);
        EXPECT_EQ(ThreadIberr(), iberr);
    }
    FindLstn(0, listeners, found, 2);  // only the present ones
    EXPECT_EQ(ThreadIbsta() & kERR, 0);
    EXPECT_EQ(ThreadIbcntl(), 2);
    EXPECT_EQ(found[0] * 100 + found[1], 309);
}

TEST_F(SimBusTest, TheServiceRequestLineFollowsTheInstrumentUntilItIsPolled) {
    EXPECT_FALSE(Requesting());
    Write(3, "*SRE 32;*ESE 1;*OPC");
    EXPECT_TRUE(Requesting());
    pollfd handle{TesselGpibSimServiceRequestHandle(), POLLIN, 0};
    short status = 0;
    ReadStatusByte(0, 3, &status);
    EXPECT_EQ(status, 32 | 64);
    ReadStatusByte(0, 3, &status);
    EXPECT_EQ(status, 32);  // RQS cleared by the first poll
    EXPECT_FALSE(Requesting());
    EXPECT_EQ(poll(&handle, 1, 0), 0);  // each call looks and clears the handle
}

// The handle turns readable when an operation ends later and asserts the line.
TEST_F(SimBusTest, ALateRequestMakesTheHandleReadable) {
    Write(3, "*SRE 32;*ESE 1;INIT;*OPC");
    EXPECT_FALSE(Requesting());
    pollfd handle{TesselGpibSimServiceRequestHandle(), POLLIN, 0};
    ASSERT_EQ(poll(&handle, 1, 5000), 1);
    EXPECT_TRUE(Requesting());
}

TEST_F(SimBusTest, EnableLocalWithAnEmptyListReleasesEveryDevice) {
    const Addr4882 both[] = {3, 9, kNoAddress}, one[] = {3, kNoAddress}, none[] = {kNoAddress};
    SetRWLS(0, both);
    EXPECT_EQ(TesselGpibSimRemoteState(0, 3), 3);
    EnableLocal(0, one);
    EXPECT_EQ(TesselGpibSimRemoteState(0, 3), 2);  // go to local keeps the lockout
    EXPECT_EQ(TesselGpibSimRemoteState(0, 9), 3);
    EnableLocal(0, none);
    EXPECT_EQ(TesselGpibSimRemoteState(0, 3) | TesselGpibSimRemoteState(0, 9), 0);
}

}  // namespace
}  // namespace tessel::gpib
