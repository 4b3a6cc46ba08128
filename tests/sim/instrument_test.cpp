// The simulated instrument driven directly, with made-up time values.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <tessel/sim.h>

#include "sim/client.h"

namespace tessel::sim {
namespace {

using namespace std::chrono_literals;
using test::Pattern;
using Codes = std::vector<int>;
using Log = std::vector<std::string>;

// An instrument and a clock that only moves when the test says so.
struct Device {
    explicit Device(Config c = {}, Transport t = Transport::Stream) : inst(std::move(c), t) {}

    void Send(const std::string& message) { inst.Receive(message + "\n", false, now); }
    std::string Out() {
        std::string s;
        while (inst.HasOutput()) s += inst.TakeOutput().bytes;
        return s;
    }
    std::string Ask(const std::string& message) {
        Send(message);
        return Out();
    }
    void Advance(std::chrono::nanoseconds d) { inst.Update(now += d); }
    uint8_t Esr() const { return inst.State().eventStatus; }
    Codes ErrorCodes() const {
        Codes codes;
        for (const auto& e : inst.State().errors) codes.push_back(e.code);
        return codes;
    }

    Instrument inst;
    TimePoint now = TimePoint{} + 1h;
};

TEST(SimStatus, EventsReachTheStatusByteThroughTheMasksAndClsKeepsTheMasks) {
    Device d;
    EXPECT_EQ(d.Ask("*ESR?"), "128\r\n");  // PON since power-on; reading clears it
    EXPECT_EQ(d.Ask("*ESR?"), "0\r\n");
    EXPECT_EQ(d.Ask("*ESE 32;SIM:ERR -100;*STB?"), "32\r\n");  // ESB, not enabled for service
    EXPECT_EQ(d.Ask("*SRE 32;*STB?"), "96\r\n");               // ESB | MSS
    EXPECT_EQ(d.Ask("*CLS;SIM:ERR -200;*STB?"), "0\r\n");  // EXE is outside the ESE mask
    EXPECT_EQ(d.Ask("*SRE 255;*SRE?"), "191\r\n");         // bit 6 is ignored
    EXPECT_EQ(d.Ask("*ESE 12;*ESE 256;*ESE?"), "12\r\n");
    EXPECT_EQ(d.Ask("*ESE 7.6;*ESE?"), "8\r\n");  // numbers round
    d.Send("*ESE 60;*SRE 48;FOO;SIM:ERR -300");
    // The replies before *STB? already count as a message available: 16 | 64.
    EXPECT_EQ(d.Ask("*CLS;*ESR?;SYST:ERR:COUN?;*ESE?;*SRE?;*STB?"), "0;0;60;48;80\r\n");
}

TEST(SimStatus, ServiceRequestOnlyOnANewReasonUntilASerialPoll) {
    Device d;
    d.Send("*ESE 128");
    EXPECT_FALSE(d.inst.ServiceRequest());
    d.Send("*SRE 32");  // enables a bit that is already set
    EXPECT_TRUE(d.inst.ServiceRequest());
    d.Send("*CLS");  // withdrawn with its reason
    EXPECT_FALSE(d.inst.ServiceRequest());
    d.Send("*ESE 32;BOGUS");  // CME: ESB goes 0 -> 1
    EXPECT_EQ(d.Ask("*STB?"), "96\r\n");
    EXPECT_TRUE(d.inst.ServiceRequest()) << "*STB? leaves the request alone";
    EXPECT_EQ(d.inst.SerialPoll(), kESB | kRQS);
    EXPECT_EQ(d.inst.SerialPoll(), kESB);  // still summarised, no longer requesting
    d.Send("BOGUS");  // ESB already 1: no new reason
    EXPECT_FALSE(d.inst.ServiceRequest());
}

TEST(SimMessages, UnitsOfAMessageShareOneReplyAndHeadersTakeEitherForm) {
    Device d;
    EXPECT_EQ(d.Ask("*IDN?;*ESE 4;*ESE?;:syst:err?"), "Tessel,SIM-488,0,1.0;4;0,\"No error\"\r\n");
    d.inst.Receive("*ESE?\n*SRE?\n", false, d.now);  // two messages, two replies
    EXPECT_EQ(d.inst.TakeOutput().bytes, "4\r\n");
    EXPECT_EQ(d.inst.TakeOutput().bytes, "0\r\n");
    const std::string v = "+1.500000E+00";
    EXPECT_EQ(d.Ask("SOURce:VOLTage 1.5;volt?;:SOUR:VOLT:LEV?;MEASURE:VOLTAGE:DC?"), v + ";" + v + ";" + v + "\r\n");
    EXPECT_EQ(d.Ask("VOLT MAX;VOLT?;VOLT minimum;VOLT?"), "+1.000000E+01;-1.000000E+01\r\n");
}

TEST(SimMessages, MessagesEndAtLfCrCrLfOrEoiAndTheLogKeepsTheNewest) {
    Device d({.messageLogCapacity = 5});
    d.Send("*CLS");
    d.inst.Receive("*ESE 1\r", false, d.now);
    d.inst.Receive("\n*ESE?\r\n*SRE 2\n*SRE?", false, d.now);
    EXPECT_EQ(d.Out(), "1\r\n");  // the last message has no end yet
    d.inst.Receive("", true, d.now);
    d.inst.Receive("*ESE?", true, d.now);
    EXPECT_EQ(d.Out(), "2\r\n1\r\n");
    // The LF of a CR LF is no message of its own; the oldest message is gone.
    EXPECT_EQ(d.inst.MessageLog(), (Log{"*ESE 1", "*ESE?", "*SRE 2", "*SRE?", "*ESE?"}));

    Device big({.messageLogBytes = 10});  // the newest message stays whatever its size
    for (const char* m : {"*CLS", "*ESE 1", "SOUR:VOLT 1.25"}) big.Send(m);
    EXPECT_EQ(big.inst.MessageLog(), Log{"SOUR:VOLT 1.25"});
    for (const char* m : {"*OPC", "*CLS"}) big.Send(m);
    EXPECT_EQ(big.inst.MessageLog(), (Log{"*OPC", "*CLS"}));
}

TEST(SimErrors, AFailingUnitQueuesItsErrorAndLeavesTheRestOfTheMessageToRun) {
    const struct { const char* message; Codes codes; uint8_t esr; } cases[] = {
        {"VOLTA 1;SOURC:VOLT?;SYST::ERR?;*IDN;*RST?;MEAS:VOLT", Codes(6, -113), kCME},
        {"SOUR:VOLT 10.5;SOUR:VOLT abc;SOUR:VOLT", {-222, -222, -109}, kEXE | kCME},
        {"*IDN? 1;*RST now", {-108, -108}, kCME},
        {"SYST:OPT -1;*ESE 256", {-222, -222}, kEXE},
    };
    for (const auto& c : cases) {
        Device d;
        EXPECT_EQ(d.Ask(std::string("*CLS;") + c.message + ";*ESE 4;SYST:ERR:COUN?;*ESE?"),
                  std::to_string(c.codes.size()) + ";4\r\n")
            << c.message;
        EXPECT_EQ(d.ErrorCodes(), c.codes) << c.message;
        EXPECT_EQ(d.Esr(), c.esr) << c.message;
        EXPECT_EQ(d.inst.State().voltage, 0.0) << c.message;
    }
}

TEST(SimErrors, InjectedCodesSetTheBitAndTextOfTheirClassAndAFullQueueOverflows) {
    const struct { int code; uint8_t bit; const char* text; } cases[] = {
        {-100, kCME, "Command error"},     {-199, kCME, "Command error"},         {-113, kCME, "Undefined header"},
        {-289, kEXE, "Execution error"},   {-350, kDDE, "Queue overflow"},        {42, kDDE, "Device-specific error"},
        {-410, kQYE, "Query INTERRUPTED"}, {-499, kQYE, "Query error"},           {-500, kPON, "Power on"},
        {-600, kURQ, "User request"},      {-700, kRQC, "Request control"},       {-899, kOPC, "Operation complete"},
    };
    for (const auto& c : cases) {
        Device d;
        EXPECT_EQ(d.Ask("*CLS;SIM:ERR " + std::to_string(c.code) + ";SYST:ERR?;SYST:ERR?"),
                  std::to_string(c.code) + ",\"" + c.text + "\";0,\"No error\"\r\n");
        EXPECT_EQ(d.Esr(), c.bit) << c.code;
    }
    for (int code : {0, -99, -900, 40000}) {
        Device d;
        d.Send("*CLS;SIM:ERR " + std::to_string(code));
        EXPECT_EQ(d.ErrorCodes(), Codes{-222}) << code;
        EXPECT_THROW(d.inst.InjectError(code), std::invalid_argument) << code;
    }
    Device d({.errorQueueCapacity = 3});
    for (int code : {-101, -102, -103, -104, -105}) d.inst.InjectError(code);
    EXPECT_EQ(d.ErrorCodes(), (Codes{-101, -102, -350}));
    EXPECT_EQ(d.Ask("SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?"),
              "-101,\"Invalid character\";-102,\"Syntax error\";-350,\"Queue overflow\";0,\"No error\"\r\n");
}

TEST(SimBus, TalkAndSerialPollAndQueryErrorsOnlyWhereTheControllerAsksToRead) {
    Device bus({.identity = "Acme,X,1,2", .replyTerminator = "\n"}, Transport::Bus);
    bus.Send("*CLS;*SRE 16;*IDN?");
    EXPECT_EQ(bus.inst.SerialPoll(), kMAV | kRQS);
    const Output first = bus.inst.Talk(4, bus.now);
    EXPECT_EQ(first.bytes, "Acme");
    EXPECT_FALSE(first.end);
    EXPECT_EQ(bus.inst.SerialPoll(), kMAV);  // until the whole reply is read
    bus.Send("*ESE?");                        // the rest is discarded: -410
    EXPECT_EQ(bus.Esr(), kQYE);
    const Output next = bus.inst.Talk(100, bus.now);
    EXPECT_EQ(next.bytes, "0\n");
    EXPECT_TRUE(next.end);
    EXPECT_EQ(bus.inst.SerialPoll(), 0);
    EXPECT_TRUE(bus.inst.Talk(100, bus.now).bytes.empty());  // nothing to say: -420
    EXPECT_EQ(bus.ErrorCodes(), (Codes{-410, -420}));
    bus.Send("*CLS;INIT;*OPC?");  // a reply on its way is waited for, not an error
    EXPECT_TRUE(bus.inst.Talk(100, bus.now).bytes.empty());
    EXPECT_TRUE(bus.ErrorCodes().empty());
    EXPECT_EQ(bus.inst.Talk(100, bus.now + 1s).bytes, "1\n");

    Device stream;  // the same exchange over a stream: both replies, no error
    stream.Send("*CLS;*IDN?");
    EXPECT_EQ(stream.Ask("*ESE?"), "Tessel,SIM-488,0,1.0\r\n0\r\n");
    EXPECT_TRUE(stream.ErrorCodes().empty());
}

TEST(SimOperations, OpcOpcQueryAndWaiWaitUntilNoOperationRuns) {
    Device d({.operationTime = 3s});
    d.Send("*CLS;*ESE 1;*SRE 32;INIT;*OPC");
    EXPECT_EQ(d.Ask("*STB?;MEAS:VOLT?"), "0;+0.000000E+00\r\n") << "answered while it runs";
    d.now += 1s;
    // Another INIT while one runs: busy until the latest end, never shortened.
    d.Send("SYST:OPT 5;INIT;SYST:OPT 1;INIT;*OPC?;*ESE 3;*ESE?");
    EXPECT_EQ(d.Ask("*IDN?"), "") << "held behind *OPC?";
    EXPECT_EQ(d.inst.NextDeadline(), d.now + 5s);
    d.Advance(4999ms);
    EXPECT_EQ(d.Out(), "");
    EXPECT_EQ(d.Esr(), 0);
    d.Advance(1ms);
    EXPECT_EQ(d.Out(), "1;3\r\nTessel,SIM-488,0,1.0\r\n");
    EXPECT_EQ(d.Esr(), kOPC);
    EXPECT_TRUE(d.inst.ServiceRequest()) << "OPC reaches the request through ESB";
    EXPECT_FALSE(d.inst.NextDeadline());

    d.Send("*CLS;*OPC;INIT;*WAI;VOLT 1");
    EXPECT_EQ(d.Esr(), kOPC) << "with nothing running, *OPC sets its bit at once";
    EXPECT_EQ(d.inst.State().voltage, 0.0);
    d.Advance(1s);
    EXPECT_EQ(d.inst.State().voltage, 1.0);
}

TEST(SimOperations, AnOperationThatNeverEndsEndsOnlyByAbortOrReset) {
    Device d({.operationTime = 250ms});
    EXPECT_EQ(d.Ask("SYST:OPT 1.5;SYST:OPT?;SYST:OPT INF;SYST:OPT?"), "+1.500000E+00;+9.900000E+37\r\n");
    d.Send("*CLS;INIT;*OPC");
    EXPECT_FALSE(d.inst.NextDeadline());
    d.Advance(1000h);
    EXPECT_EQ(d.Esr(), 0);
    d.Send("ABOR");  // ends the operation: *OPC is satisfied
    EXPECT_EQ(d.Esr(), kOPC);

    d.Send("*CLS;INIT;*OPC;*OPC?");
    d.Send("*RST");  // held behind *OPC?
    d.inst.DeviceClear();
    EXPECT_FALSE(d.inst.State().waiting);
    EXPECT_FALSE(d.inst.State().opcArmed);
    EXPECT_TRUE(d.inst.State().operationPending) << "a clear leaves it running";
    EXPECT_EQ(d.Ask("*OPC;*RST;SYST:OPT?"), "+2.500000E-01\r\n");
    EXPECT_FALSE(d.inst.State().operationPending);
    EXPECT_EQ(d.Esr(), 0) << "a reset aborts without satisfying *OPC";
}

TEST(SimBlocks, DataQueryAnswersABlockOfThePatternAndTakesOnlyWellFormedBlocks) {
    Device d;
    EXPECT_EQ(d.Ask("DATA? 300"), "#3300" + Pattern(300) + "\r\n");
    EXPECT_EQ(d.Ask("DATA? 3;*ESE?"), std::string("#13\0\1\2;0\r\n", 10));
    EXPECT_EQ(d.Ask("DATA? 0"), "#10\r\n");
    Device small({.maxBlockLength = 16});
    EXPECT_EQ(small.Ask("*CLS;DATA? 16;DATA? 17;DATA?"), "#216" + Pattern(16) + "\r\n");
    EXPECT_EQ(small.ErrorCodes(), (Codes{-222, -109}));
    small.Send("*CLS");
    small.inst.Receive("DATA #15ab", true, small.now);  // EOI before the block is complete
    small.Send("DATA #0abc");                           // indefinite length is not taken
    small.Send("DATA #13abcd");                         // more than the block said
    small.Send("DATA 12");
    EXPECT_EQ(small.ErrorCodes(), (Codes{-161, -161, -161, -161}));
    EXPECT_EQ(small.Esr(), kCME);
    EXPECT_EQ(small.Ask("DATA #13ab\n ;DATA:LENG?"), "3\r\n");  // a block may end in blanks
    EXPECT_EQ(small.inst.StoredData(), "ab\n");
}

TEST(SimBlocks, ABlockIsTakenByItsLengthWhateverItCarries) {
    // Terminators, separators and a "#" inside the data, fed one byte at a time.
    const std::string payload = std::string("a\nb\r\n;#12x\0z", 12) + Pattern(256);
    const std::string length = std::to_string(payload.size());
    const std::string message = "DATA #" + std::to_string(length.size()) + length + payload + ";DATA:LENG?;DATA:SUM?";
    Device d;
    d.Send("*CLS");
    for (char c : message + "\r\n") d.inst.Receive(std::string_view(&c, 1), false, d.now);
    uint32_t sum = 0;
    for (unsigned char c : payload) sum += c;
    EXPECT_EQ(d.Out(), length + ";" + std::to_string(sum) + "\r\n");
    EXPECT_EQ(d.inst.StoredData(), payload);
    EXPECT_TRUE(d.ErrorCodes().empty());
    EXPECT_EQ(d.inst.MessageLog().back(), message);
}

// -225: replies are bounded by what the instrument may hold in total, the
// unread replies of earlier messages included.
TEST(SimLimits, AQueryWhoseReplyDoesNotFitIsOutOfMemoryAndTheOthersStillAnswer) {
    Device d({.maxBlockLength = 1000, .outputBufferBytes = 2500});
    d.Send("*CLS");
    std::string message;
    for (int i = 0; i < 10; ++i) message += "DATA? 1000;";
    const std::string block = "#41000" + Pattern(1000);
    EXPECT_EQ(d.Ask(message + "*IDN?"), block + ";" + block + ";Tessel,SIM-488,0,1.0\r\n");
    EXPECT_EQ(d.ErrorCodes(), Codes(8, -225));
    EXPECT_EQ(d.Esr(), kEXE);

    d.Send("*CLS;DATA? 1000;DATA? 1000");
    d.Send("DATA? 1000");  // the two replies before it are still unread
    EXPECT_EQ(d.inst.State().outputBytes, 2015u);
    EXPECT_EQ(d.ErrorCodes(), Codes{-225});
    d.Out();
    EXPECT_EQ(d.Ask("DATA? 1000"), block + "\r\n") << "taking the replies makes room again";
}

// -363: input is bounded too, whether it never ends, announces a block it
// cannot hold, or waits to run.
TEST(SimLimits, InputBeyondTheInputBufferIsDroppedUpToTheEndOfItsMessage) {
    Device d({.operationTime = kNever, .inputBufferBytes = 100});
    d.Send("*CLS");
    for (int i = 0; i < 1000; ++i) d.inst.Receive(std::string(1000, 'A'), false, d.now);
    EXPECT_LE(d.inst.State().inputBytes, 100u);
    d.inst.Receive("B;*IDN?\r\n*ESR?\n", false, d.now);
    EXPECT_EQ(d.Out(), "8\r\n") << "the rest of the long message is dropped, the next one runs";
    d.inst.Receive("DATA #9999999999", false, d.now);
    for (int i = 0; i < 1000; ++i) d.inst.Receive(Pattern(1000).substr(11, 200), false, d.now);
    EXPECT_LE(d.inst.State().inputBytes, 100u) << "a huge block header cannot make it hold its length";
    d.inst.Receive("\n*IDN?\n", false, d.now);
    EXPECT_EQ(d.Out(), "Tessel,SIM-488,0,1.0\r\n");
    d.inst.Receive("DATA #9999999999" + std::string(2000, 'x'), true, d.now);  // EOI ends an overrun too
    EXPECT_EQ(d.Ask("*IDN?"), "Tessel,SIM-488,0,1.0\r\n");
    EXPECT_EQ(d.ErrorCodes(), (Codes{-363, -363, -363}));
    d.Send("*CLS;INIT;*WAI");  // messages waiting to run overrun once they fill the buffer
    for (int i = 0; i < 12; ++i) d.Send("SOUR:VOLT 1;*IDN?");
    EXPECT_LE(d.inst.State().inputBytes, 100u);
    const Codes codes = d.ErrorCodes();
    EXPECT_GE(codes.size(), 5u);
    EXPECT_EQ(codes, Codes(codes.size(), -363));
    d.inst.DeviceClear();
    EXPECT_EQ(d.inst.State().inputBytes, 0u);
    EXPECT_EQ(d.Ask("ABOR;*OPC?"), "1\r\n");
}

TEST(SimHooks, FixedRepliesReplaceQueriesWithoutSideEffects) {
    Device d({.fixedReplies = {{"*idn?", "Fake,1"}}});
    d.inst.SetFixedReply("*STB?", "garbage");
    d.inst.SetFixedReply("syst:err?", "0,\"No error\"");
    d.inst.SetFixedReply("*ESR?", "0");
    d.Send("BOGUS");
    EXPECT_EQ(d.Ask("*IDN?;*STB?;SYSTEM:ERROR:NEXT?;*ESR?"), "Fake,1;garbage;0,\"No error\";0\r\n");
    EXPECT_EQ(d.Esr(), kPON | kCME);  // not cleared by the fixed *ESR?
    EXPECT_EQ(d.ErrorCodes(), Codes{-113});
    d.inst.ClearFixedReply("*stb?");
    EXPECT_EQ(d.Ask("*STB?"), "0\r\n");
    EXPECT_THROW(d.inst.SetFixedReply("*CLS", "x"), std::invalid_argument);
    EXPECT_THROW(d.inst.SetFixedReply("FOO?", "x"), std::invalid_argument);
    EXPECT_THROW(Instrument({.fixedReplies = {{"NOPE?", "x"}}}), std::invalid_argument);
}

}  // namespace
}  // namespace tessel::sim
