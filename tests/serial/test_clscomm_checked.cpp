// clsComm against the simulated instrument: queries, checked sends with every
// device error in its fixed order, blocks both ways.
#include <numeric>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tessel/comm.h>
#include <tessel/error.h>
#include <tessel/events.h>
#include <tessel/host.h>
#include <tessel/serial_ports.h>
#include <tessel/sim.h>

using namespace tessel;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

constexpr int16_t kPort = 9;

class ClsCommInstrument : public ::testing::Test {
protected:
    void SetUp() override {
        DefaultHostControl().Reset();
        AssignSerialPort(kPort, server.SlavePath());
        setup().Settings()->Item("Comm Port")->Value(-1, -1, Variant(kPort));
        setup().Settings()->Item("Baud Rate")->Value(-1, -1, "115200");
        setup().OnLine(true);
    }
    void TearDown() override {
        DefaultHostControl().Reset();
        AssignSerialPort(kPort, "");
    }

    IPortSetup& setup() { return *comm; }
    IPort& port() { return *comm; }

    // The error SendE raises, or number 0 when it passes.
    ComError SendE(const std::string& command, Variant* ret = nullptr) {
        try {
            port().SendE(command, ret);
        } catch (const ComError& e) {
            return e;
        }
        return ComError(0, "", "");
    }

    sim::PtyServer server;
    std::shared_ptr<clsComm> comm = std::make_shared<clsComm>();
};

}  // namespace

TEST_F(ClsCommInstrument, QueriesAndCommands) {
    EXPECT_EQ(port().Receive("*IDN?"), "Tessel,SIM-488,0,1.0");
    port().Send("SOUR:VOLT 2.5");
    EXPECT_EQ(port().Receive("MEAS:VOLT?"), "+2.500000E+00");
    EXPECT_EQ(port().Receive("*IDN?;*TST?"), "Tessel,SIM-488,0,1.0;0");
}

TEST_F(ClsCommInstrument, CheckedSendSendsItsMessagesInOrder) {
    // Short enough that the polls (there is no pause between them) fit the log.
    EXPECT_EQ(port().Receive("SYST:OPT 0.01; *OPC?"), "1");  // answered: the instrument has it
    server.Access([](sim::Instrument& i) { i.ClearMessageLog(); });
    const ComError e = SendE("INIT");
    EXPECT_EQ(e.Number, 0) << e.Description;
    const auto log = server.MessageLog();
    ASSERT_GE(log.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 5),
                ElementsAre("*CLS", "*SRE 0", "*ESE 61", "INIT; *OPC", "*STB?"));
    EXPECT_EQ(log.back(), "*ESR?");
    // INIT takes 10 ms, so the status byte was polled more than once.
    EXPECT_GT(std::count(log.begin(), log.end(), "*STB?"), 1);
}

TEST_F(ClsCommInstrument, CheckedQueryReturnsTheReply) {
    port().Send("SOUR:VOLT 1.25");
    Variant reply;
    EXPECT_EQ(SendE("MEAS:VOLT?", &reply).Number, 0);
    EXPECT_EQ(reply, Variant("+1.250000E+00"));
    // Status and Count are what the last nested message left: the *ESR? reply.
    EXPECT_EQ(port().Count(), 1);
}

TEST_F(ClsCommInstrument, DeviceErrorsInTheirFixedOrder) {
    struct Case {
        std::string command;
        int32_t code;
        const char* description;
    };
    for (const Case& c : {
             Case{"SIM:ERR -410", kErrQueryError, "Device reports a query error"},
             Case{"SIM:ERR -300", kErrDeviceDependentError, "Device reports a device dependent error"},
             Case{"SOUR:VOLT 99", kErrExecutionError, "Device reports a execution error"},
             Case{"NO:SUCH:CMD", kErrCommandError, "Device reports a command error"},
             Case{"SIM:ERR -222; SIM:ERR -100", kErrExecutionError, "Device reports a execution error"},
             Case{"SIM:ERR -100; SIM:ERR -350", kErrDeviceDependentError, "Device reports a device dependent error"},
             Case{"SIM:ERR -113; SIM:ERR -420", kErrQueryError, "Device reports a query error"},
         }) {
        const ComError e = SendE(c.command);
        EXPECT_EQ(e.Number, kObjectErrorBase + c.code) << c.command;
        EXPECT_EQ(e.Description, c.description) << c.command;
        EXPECT_EQ(e.Source, "clsComm.IPort_SendE") << c.command;
    }
}

TEST_F(ClsCommInstrument, EventRegisterWithoutOperationComplete) {
    server.Access([](sim::Instrument& i) { i.SetFixedReply("*ESR?", "64"); });
    const ComError e = SendE("*RST");
    EXPECT_EQ(e.Number, kObjectErrorBase + kErrOperationNotComplete);
    EXPECT_EQ(e.Description, "Device unexpectedly reports operation not complete");
}

TEST_F(ClsCommInstrument, StatusReplyThatIsNotANumber) {
    server.Access([](sim::Instrument& i) { i.SetFixedReply("*STB?", "garbage"); });
    const ComError e = SendE("*RST");
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, "clsComm.IPort_SendE");
    EXPECT_EQ(e.Description, "Type mismatch");
}

TEST_F(ClsCommInstrument, QueryWithoutReturnIsRefusedAfterTheInstrumentAnswered) {
    server.Access([](sim::Instrument& i) { i.ClearMessageLog(); });
    const ComError e = SendE("MEAS:VOLT?");
    EXPECT_EQ(e.Number, kObjectErrorBase + kErrReturnParameterMissing);
    EXPECT_EQ(e.Description, "Return parameter missing");
    EXPECT_EQ(server.MessageLog().back(), "MEAS:VOLT?; *OPC");
}

TEST_F(ClsCommInstrument, AnInstrumentThatNeverCompletes) {
    port().Send("SYST:OPT INF");
    port().TimeOut(0.5f);
    const ComError e = SendE("INIT");
    EXPECT_EQ(e.Number, kObjectErrorBase + kErrEventRegisterClear);
    EXPECT_EQ(e.Description, "Event register was unexpectedly clear");
    EXPECT_EQ(e.Source, "clsComm.IPort_SendE");
}

TEST_F(ClsCommInstrument, BlocksBothWays) {
    std::vector<uint8_t> data(3000);
    std::iota(data.begin(), data.end(), uint8_t{0});
    static_cast<IPortB&>(*comm).SendB(true, Variant::Bytes(data), "DATA #43000");
    EXPECT_EQ(port().Count(), 11 + 3000 + 2);
    EXPECT_EQ(port().Receive("DATA:LENG?"), "3000");
    std::string stored;
    server.Access([&](sim::Instrument& i) { stored = i.StoredData(); });
    EXPECT_EQ(stored, std::string(data.begin(), data.end()));

    const Variant block = static_cast<IPortB&>(*comm).ReceiveB(3006, "DATA? 3000");
    const auto& bytes = block.AsBytes().bytes;
    ASSERT_EQ(bytes.size(), 3006u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "#43000");
    EXPECT_TRUE(std::equal(bytes.begin() + 6, bytes.end(), data.begin()));
    EXPECT_EQ(port().Receive(), "");  // the block reply's own CR LF
}

// Reading a block to its end, a block cut short by going off-line, a reply
// nobody read: none of it may mix with the next reply.
TEST_F(ClsCommInstrument, BlocksCutShortTextAfterBlocksAndUnaskedRepliesNeverMixWithTheNextReply) {
    const std::string idn = sim::Config{}.identity;
    IPortB& block = *comm;
    port().TimeOut(0.3f);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // A block cut short by going off-line. The terminal holds all of it:
        // bytes an instrument is still sending after the next command has
        // gone cannot be told from its reply.
        block.ReceiveB(10, Variant("DATA? 12000"));
        std::this_thread::sleep_for(100ms);
        setup().OnLine(false);
        setup().OnLine(true);
        EXPECT_EQ(port().Receive(Variant("*IDN?")), idn);

        // Text right after a block read to its end, one byte at a time at the end.
        block.ReceiveB(6, Variant("DATA? 3"));  // "#13" and three bytes
        block.ReceiveB(1);                      // CR
        block.ReceiveB(1);                      // LF
        EXPECT_EQ(port().Receive(Variant("*IDN?")), idn);

        // A reply nobody read, then a query.
        comm->SendDirect("*IDN?\r\n");
        std::this_thread::sleep_for(20ms);
        WaitForEvents(50ms);
        EXPECT_EQ(port().Receive(Variant("*IDN?")), idn);
    }
}
