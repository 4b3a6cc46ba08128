// The checked send on the simulated bus: service request, serial poll, reply,
// event status.
#include <thread>

#include "gpib_fixture.h"

namespace tessel::test {
namespace {

using CheckedSendTest = OnLineTest;

TEST_F(CheckedSendTest, ACommandCompletesWithoutReplyAndTheMessagesGoInOrder) {
    Variant reply("stale");
    port->SendE("SOUR:VOLT 1", &reply);
    EXPECT_EQ(reply.ToString(), "");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"*CLS", "*SRE 96", "*ESE 61", "SOUR:VOLT 1; *OPC", "*ESR?"}));
    EXPECT_EQ(TesselGpibSimCallCount("ReadStatusByte"), 1u);
    EXPECT_EQ(TesselGpibSimRemoteState(0, kPad), 3);  // the poll released the line
    EXPECT_EQ(port->Receive("*STB?"), "0");
    // An operation that ends late is waited for.
    ASSERT_EQ(TesselGpibSimPlace(0, kPad, 0, 150), 0);
    port->SendE("INIT");
    EXPECT_EQ(Messages().back(), "*ESR?");
}

TEST_F(CheckedSendTest, AQueryStoresItsReplyOrRaisesWhenThereIsNoPlaceForIt) {
    Variant reply;
    port->SendE("*IDN?", &reply);
    EXPECT_EQ(reply.ToString(), "Tessel,SIM-488,0,1.0");
    ExpectError([&] { port->SendE("*IDN?"); }, kObjectErrorBase + kErrReturnParameterMissing, "clsGPIB.IPort_SendE",
                "Return parameter missing");
    // The reply was read before the error: nothing is left unread.
    EXPECT_EQ(port->Receive("SYST:ERR?"), "0,\"No error\"");
}

// Each failure of the handshake, on a fresh instrument: what is raised, how
// many messages the instrument got and how often it was polled.
TEST_F(CheckedSendTest, EachFailureOfTheHandshakeIsRaisedWithItsSource) {
    const auto esr = [](const char* reply) { return [=] { TesselGpibSimSetFixedReply(0, kPad, "*ESR?", reply); }; };
    const auto fail = [](const char* function) { return [=] { TesselGpibSimFailNext(function, 16); }; };
    std::shared_ptr<clsGPIB> other = MakePort(4);
    const auto otherRequests = [&] {  // the line is another instrument's; ours never completes
        ASSERT_EQ(TesselGpibSimPlace(0, kPad, 0, -1), 0);
        ASSERT_EQ(TesselGpibSimPlace(0, 4, 0, 100), 0);
        other->OnLine(true);
        other->Send("*SRE 32;*ESE 32");
        TesselGpibSimInjectError(0, 4, -113);
    };
    const std::string send = "clsGPIB.IPort_SendE", esrq = "ESRQ - SRQ stuck high at board 0, address 12";
    struct Case {
        std::function<void()> arrange;
        const char* command;
        int32_t number;
        std::string source;
        const char* description;
        std::size_t messages, polls;
    };
    const Case cases[] = {
        {[] {}, "BOGUS", kObjectErrorBase + kErrCommandError, send, "Device reports a command error", 5, 1},
        {esr("33"), "*RST", kObjectErrorBase + kErrCommandError, send, "Device reports a command error", 5, 1},
        {esr("0"), "*RST", kObjectErrorBase + kErrOperationNotComplete, send,
         "Device unexpectedly reports operation not complete", 5, 1},
        {esr("61"), "*RST", kObjectErrorBase + kErrQueryError, send, "Device reports a query error", 5, 1},
        {esr("25"), "*RST", kObjectErrorBase + kErrDeviceDependentError, send,
         "Device reports a device dependent error", 5, 1},
        {esr("17"), "*RST", kObjectErrorBase + kErrExecutionError, send, "Device reports a execution error", 5, 1},
        {esr("garbage"), "*RST", kErrTypeMismatch, send, nullptr, 5, 1},
        {[] { TesselGpibSimSetServiceDelay(0, kPad, -1); }, "*RST", kTimedOut, send,
         "Send with handshake timed out after 1 seconds", 4, 0},  // the default second
        {fail("ibwait"), "*RST", kObjectErrorBase + tibESRQ, send, esrq.c_str(), 4, 0},
        {fail("ReadStatusByte"), "*RST", kObjectErrorBase + tibESRQ, send, esrq.c_str(), 4, 1},
        {otherRequests, "INIT", kObjectErrorBase + kErrEventRegisterClear, send,
         "Event register was unexpectedly clear", 4, 1},
        // A failing set-up send reaches the host as Send raised it.
        {[] { TesselGpibSimFailNext("Send", 2); }, "*RST", kObjectErrorBase + tibENOL, "GPIB-32",
         "ENOL - No listener at board 0, address 12", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_EQ(TesselGpibSimPlace(0, kPad, 0, 100), 0);
        TesselGpibSimClearCallLog();
        c.arrange();
        ExpectError([&] { port->SendE(c.command); }, c.number, c.source, c.description);
        EXPECT_EQ(Messages().size(), c.messages);
        EXPECT_EQ(TesselGpibSimCallCount("ReadStatusByte"), c.polls);
    }
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
    EXPECT_NO_THROW(port->SendE("*RST"));  // the poll shows the summary bit
    EXPECT_EQ(TesselGpibSimCallCount("ReadStatusByte"), 1u);
}

}  // namespace
}  // namespace tessel::test
