// clsComm against the simulated instrument: queries, checked sends with every
// device error in its fixed order, blocks both ways.
#include <chrono>
#include <numeric>
#include <thread>

#include <gmock/gmock.h>

#include <tessel/events.h>
#include <tessel/sim.h>

#include "comm_fixture.h"

using namespace tessel;
using ::testing::ElementsAre;
using test::CaughtError;

namespace {

using namespace std::chrono_literals;

class ClsCommInstrument : public test::CommTest {
protected:
    void SetUp() override { OnLine(server.SlavePath(), {{"Baud Rate", "115200"}}); }

    void ForgetMessages() {
        server.Access([](sim::Instrument& i) { i.ClearMessageLog(); });
    }

    // Until the instrument has taken a message since ForgetMessages and every
    // reply it formed is in the terminal: bytes still on their way when the
    // next command goes cannot be told from that command's reply. Bounded.
    void WaitUntilAnsweredInFull() {
        bool done = false;
        for (int i = 0; i < 500 && !done; ++i) {
            std::this_thread::sleep_for(10ms);
            done = !server.MessageLog().empty() && server.UnwrittenBytes() == 0;
        }
        EXPECT_TRUE(done) << server.UnwrittenBytes() << " reply bytes not in the terminal";
    }

    sim::PtyServer server;
};

}  // namespace

TEST_F(ClsCommInstrument, QueriesCommandsAndCheckedQueries) {
    EXPECT_EQ(port().Receive("*IDN?;*TST?"), "Tessel,SIM-488,0,1.0;0");
    port().Send("SOUR:VOLT 1.25");
    EXPECT_EQ(port().Receive("MEAS:VOLT?"), "+1.250000E+00");
    Variant reply;
    port().SendE("MEAS:VOLT?", &reply);
    EXPECT_EQ(reply, Variant("+1.250000E+00"));
    // Status and Count are what the last nested message left: the *ESR? reply.
    EXPECT_EQ(port().Count(), 1);
}

TEST_F(ClsCommInstrument, CheckedSendSendsItsMessagesInOrder) {
    // Short enough that the polls (there is no pause between them) fit the log.
    EXPECT_EQ(port().Receive("SYST:OPT 0.01; *OPC?"), "1");  // answered: the instrument has it
    server.Access([](sim::Instrument& i) { i.ClearMessageLog(); });
    port().SendE("INIT");
    const auto log = server.MessageLog();
    ASSERT_GE(log.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 5),
                ElementsAre("*CLS", "*SRE 0", "*ESE 61", "INIT; *OPC", "*STB?"));
    EXPECT_EQ(log.back(), "*ESR?");
    // INIT takes 10 ms, so the status byte was polled more than once.
    EXPECT_GT(std::count(log.begin(), log.end(), "*STB?"), 1);
}

TEST_F(ClsCommInstrument, DeviceErrorsInTheirFixedOrderAndStatusReplyFaults) {
    struct Case {
        std::string command;
        int32_t number;
        const char* description;
        const char* fixedQuery = nullptr;  // answered with fixedReply while the case runs
        const char* fixedReply = nullptr;
    };
    const auto own = [](int32_t code) { return kObjectErrorBase + code; };
    for (const Case& c : {
             Case{"SIM:ERR -410", own(kErrQueryError), "Device reports a query error"},
             Case{"SIM:ERR -300", own(kErrDeviceDependentError), "Device reports a device dependent error"},
             Case{"SOUR:VOLT 99", own(kErrExecutionError), "Device reports a execution error"},
             Case{"NO:SUCH:CMD", own(kErrCommandError), "Device reports a command error"},
             Case{"SIM:ERR -222; SIM:ERR -100", own(kErrExecutionError), "Device reports a execution error"},
             Case{"SIM:ERR -100; SIM:ERR -350", own(kErrDeviceDependentError), "Device reports a device dependent error"},
             Case{"SIM:ERR -113; SIM:ERR -420", own(kErrQueryError), "Device reports a query error"},
             Case{"*RST", own(kErrOperationNotComplete), "Device unexpectedly reports operation not complete",
                  "*ESR?", "64"},
             Case{"*RST", kErrTypeMismatch, "Type mismatch", "*STB?", "garbage"},
         }) {
        SCOPED_TRACE(c.command);
        if (c.fixedQuery) server.Access([&](sim::Instrument& i) { i.SetFixedReply(c.fixedQuery, c.fixedReply); });
        test::ExpectError(CaughtError([&] { port().SendE(c.command); }), c.number, "clsComm.IPort_SendE",
                          c.description);
        if (c.fixedQuery) server.Access([&](sim::Instrument& i) { i.ClearFixedReply(c.fixedQuery); });
    }
}

TEST_F(ClsCommInstrument, QueryWithoutReturnIsRefusedAfterTheInstrumentAnswered) {
    server.Access([](sim::Instrument& i) { i.ClearMessageLog(); });
    test::ExpectError(CaughtError([&] { port().SendE("MEAS:VOLT?"); }), kObjectErrorBase + kErrReturnParameterMissing,
                      "clsComm.IPort_SendE", "Return parameter missing");
    EXPECT_EQ(server.MessageLog().back(), "MEAS:VOLT?; *OPC");
}

TEST_F(ClsCommInstrument, AnInstrumentThatNeverCompletes) {
    port().Send("SYST:OPT INF");
    port().TimeOut(0.5f);
    test::ExpectError(CaughtError([&] { port().SendE("INIT"); }), kObjectErrorBase + kErrEventRegisterClear,
                      "clsComm.IPort_SendE", "Event register was unexpectedly clear");
}

TEST_F(ClsCommInstrument, BlocksBothWays) {
    std::vector<uint8_t> data(3000);
    std::iota(data.begin(), data.end(), uint8_t{0});
    block().SendB(true, Variant::Bytes(data), "DATA #43000");
    EXPECT_EQ(port().Count(), 11 + 3000 + 2);
    EXPECT_EQ(port().Receive("DATA:LENG?"), "3000");
    std::string stored;
    server.Access([&](sim::Instrument& i) { stored = i.StoredData(); });
    EXPECT_EQ(stored, std::string(data.begin(), data.end()));

    const auto bytes = block().ReceiveB(3006, "DATA? 3000").AsBytes().bytes;
    ASSERT_EQ(bytes.size(), 3006u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "#43000");
    EXPECT_TRUE(std::equal(bytes.begin() + 6, bytes.end(), data.begin()));
    EXPECT_EQ(port().Receive(), "");  // the block reply's own CR LF
}

// The input-path faults as a user meets them on an instrument: a block cut
// short by going off-line, text right after a block read to its end, a reply
// nobody read; none of it may mix with the next reply.
TEST_F(ClsCommInstrument, BlocksCutShortTextAfterBlocksAndUnaskedRepliesNeverMixWithTheNextReply) {
    const std::string idn = sim::Config{}.identity;
    IPortB& block = *comm;
    port().TimeOut(0.3f);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // More than the driver reads at once, so the rest is left both in its
        // queue and in the terminal; less than the terminal holds, so the
        // instrument is done before the port closes.
        ForgetMessages();
        block.ReceiveB(10, Variant("DATA? 7000"));
        WaitUntilAnsweredInFull();
        Reopen();
        EXPECT_EQ(port().Receive(Variant("*IDN?")), idn);

        block.ReceiveB(6, Variant("DATA? 3"));  // "#13" and three bytes
        block.ReceiveB(1);                      // CR
        block.ReceiveB(1);                      // LF
        EXPECT_EQ(port().Receive(Variant("*IDN?")), idn);

        ForgetMessages();
        comm->SendDirect("*IDN?\r\n");
        WaitUntilAnsweredInFull();
        WaitForEvents(50ms);
        EXPECT_EQ(port().Receive(Variant("*IDN?")), idn);
    }
}
