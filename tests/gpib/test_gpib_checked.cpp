// The checked send on the simulated bus: service request, serial poll, reply,
// event status.
#include <thread>

#include "gpib_fixture.h"

namespace tessel::test {
namespace {

class CheckedSendTest : public GpibTest {
protected:
    void SetUp() override {
        GpibTest::SetUp();
        port->OnLine(true);
        TesselGpibSimClearCallLog();
    }
};

TEST_F(CheckedSendTest, ACommandCompletesWithoutReplyAndTheMessagesGoInOrder) {
    Variant reply("stale");
    port->SendE("SOUR:VOLT 1", &reply);
    EXPECT_EQ(reply.ToString(), "");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"*CLS", "*SRE 96", "*ESE 61", "SOUR:VOLT 1; *OPC", "*ESR?"}));
    EXPECT_EQ(TesselGpibSimCallCount("ReadStatusByte"), 1u);
    // The poll released the line.
    EXPECT_EQ(TesselGpibSimRemoteState(0, kPad), 3);
    EXPECT_EQ(port->Receive("*STB?"), "0");
}

TEST_F(CheckedSendTest, AQueryStoresItsReplyOrRaisesWhenThereIsNoPlaceForIt) {
    Variant reply;
    port->SendE("*IDN?", &reply);
    EXPECT_EQ(reply.ToString(), "Tessel,SIM-488,0,1.0");

    const ComError e = CaughtError([&] { port->SendE("*IDN?"); });
    EXPECT_EQ(e.Number, kObjectErrorBase + kErrReturnParameterMissing);
    EXPECT_EQ(e.Source, "clsGPIB.IPort_SendE");
    EXPECT_EQ(e.Description, "Return parameter missing");
    // The reply was read before the error: nothing is left unread.
    EXPECT_EQ(port->Receive("SYST:ERR?"), "0,\"No error\"");
}

TEST_F(CheckedSendTest, EventStatusBitsBecomeErrorsFirstOneFirst) {
    struct Case {
        const char* esr;  // the *ESR? reply, or null for the real one
        const char* command;
        int32_t code;
        const char* description;
    };
    const Case cases[] = {
        {nullptr, "BOGUS", kErrCommandError, "Device reports a command error"},  // 33 really
        {"33", "*RST", kErrCommandError, "Device reports a command error"},
        {"0", "*RST", kErrOperationNotComplete, "Device unexpectedly reports operation not complete"},
        {"61", "*RST", kErrQueryError, "Device reports a query error"},
        {"25", "*RST", kErrDeviceDependentError, "Device reports a device dependent error"},
        {"17", "*RST", kErrExecutionError, "Device reports a execution error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command + std::string(" ") + (c.esr ? c.esr : "real"));
        TesselGpibSimSetFixedReply(0, kPad, "*ESR?", c.esr);
        const ComError e = CaughtError([&] { port->SendE(c.command); });
        EXPECT_EQ(e.Number, kObjectErrorBase + c.code);
        EXPECT_EQ(e.Source, "clsGPIB.IPort_SendE");
        EXPECT_EQ(e.Description, c.description);
    }
}

TEST_F(CheckedSendTest, ALateOperationIsWaitedFor) {
    ASSERT_EQ(TesselGpibSimPlace(0, kPad, 0, 150), 0);
    port->SendE("INIT");
    EXPECT_EQ(Messages().back(), "*ESR?");
}

TEST_F(CheckedSendTest, AnInstrumentThatNeverRequestsServiceTimesOutTheHandshake) {
    TesselGpibSimSetServiceDelay(0, kPad, -1);
    const ComError e = CaughtError([&] { port->SendE("*RST"); });  // the default second
    EXPECT_EQ(e.Number, kTimedOut);
    EXPECT_EQ(e.Source, "clsGPIB.IPort_SendE");
    EXPECT_EQ(e.Description, "Send with handshake timed out after 1 seconds");
    EXPECT_EQ(TesselGpibSimCallCount("ReadStatusByte"), 0u);
}

TEST_F(CheckedSendTest, AStopDuringTheWaitEndsQuietlyBeforeThePoll) {
    ASSERT_EQ(TesselGpibSimPlace(0, kPad, 0, -1), 0);  // INIT never ends
    std::thread stopper([] {
        // Bounded: the wait would otherwise end by its own time-out.
        for (int i = 0; i < 400 && TesselGpibSimCallCount("ibwait") < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        DefaultHostControl().RequestStop();
    });
    port->TimeOut(10);
    Variant reply("kept");
    EXPECT_NO_THROW(port->SendE("INIT", &reply));
    stopper.join();
    EXPECT_EQ(reply.ToString(), "");
    EXPECT_GE(TesselGpibSimCallCount("ibwait"), 3u);
    EXPECT_EQ(TesselGpibSimCallCount("ReadStatusByte"), 0u);
}

TEST_F(CheckedSendTest, ARunStateWithoutStopEndsTheWaitAndLeadsToThePoll) {
    TesselGpibSimSetServiceDelay(0, kPad, -1);
    DefaultHostControl().SetRunState(8);
    port->TimeOut(10);
    // The poll shows the summary bit, so the call completes normally.
    EXPECT_NO_THROW(port->SendE("*RST"));
    EXPECT_EQ(TesselGpibSimCallCount("ReadStatusByte"), 1u);
}

TEST_F(CheckedSendTest, LibraryFailuresOfTheWaitAndThePollCarryTheCheckedSendSource) {
    for (const char* function : {"ibwait", "ReadStatusByte"}) {
        SCOPED_TRACE(function);
        TesselGpibSimFailNext(function, 16);
        const ComError e = CaughtError([&] { port->SendE("*RST"); });
        EXPECT_EQ(e.Number, kObjectErrorBase + tibESRQ);
        EXPECT_EQ(e.Source, "clsGPIB.IPort_SendE");
        EXPECT_EQ(e.Description, "ESRQ - SRQ stuck high at board 0, address 12");
    }
}

TEST_F(CheckedSendTest, AClearSummaryBitInThePollIsReported) {
    // The line comes from another instrument on the board; ours never
    // completes its operation, so its summary bit stays clear.
    ASSERT_EQ(TesselGpibSimPlace(0, kPad, 0, -1), 0);
    ASSERT_EQ(TesselGpibSimPlace(0, 4, 0, 100), 0);
    auto other = MakePort(4);
    other->OnLine(true);
    other->Send("*SRE 32;*ESE 32");
    TesselGpibSimInjectError(0, 4, -113);
    const ComError e = CaughtError([&] { port->SendE("INIT"); });
    EXPECT_EQ(e.Number, kObjectErrorBase + kErrEventRegisterClear);
    EXPECT_EQ(e.Source, "clsGPIB.IPort_SendE");
    EXPECT_EQ(e.Description, "Event register was unexpectedly clear");
}

TEST_F(CheckedSendTest, AnEventStatusThatIsNoNumberIsPassedOnWithTheCheckedSendSource) {
    TesselGpibSimSetFixedReply(0, kPad, "*ESR?", "garbage");
    const ComError e = CaughtError([&] { port->SendE("*RST"); });
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, "clsGPIB.IPort_SendE");
}

TEST_F(CheckedSendTest, AFailingSetupSendReachesTheHostAsSendRaisedIt) {
    TesselGpibSimFailNext("Send", 2);
    const ComError e = CaughtError([&] { port->SendE("*RST"); });
    EXPECT_EQ(e.Source, "GPIB-32");
    EXPECT_EQ(e.Description, "ENOL - No listener at board 0, address 12");
    EXPECT_EQ(TesselGpibSimCallCount("Send"), 1u);
}

}  // namespace
}  // namespace tessel::test
