// The simulated instrument driven directly, with made-up time values.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <tessel/sim.h>

namespace tessel::sim {
namespace {

using namespace std::chrono_literals;

// An instrument and a clock that only moves when the test says so.
struct Device {
    explicit Device(Config c = {}, Transport t = Transport::Stream) : inst(std::move(c), t) {}

    void Send(std::string_view message) { inst.Receive(std::string(message) + "\n", false, now); }
    std::string Out() {
        std::string s;
        while (inst.HasOutput()) s += inst.TakeOutput().bytes;
        return s;
    }
    std::string Ask(std::string_view message) {
        Send(message);
        return Out();
    }
    void Advance(std::chrono::nanoseconds d) {
        now += d;
        inst.Update(now);
    }
    uint8_t Esr() const { return inst.State().eventStatus; }
    std::vector<int> ErrorCodes() const {
        std::vector<int> codes;
        for (const auto& e : inst.State().errors) codes.push_back(e.code);
        return codes;
    }

    Instrument inst;
    TimePoint now = TimePoint{} + 1h;
};

// ---- status model ----

TEST(SimStatus, PowerOnSetsPonAndEsrQueryClearsIt) {
    Device d;
    EXPECT_EQ(d.Esr(), kPON);
    EXPECT_EQ(d.Ask("*ESR?"), "128\r\n");
    EXPECT_EQ(d.Ask("*ESR?"), "0\r\n");
    EXPECT_EQ(d.Ask("*STB?"), "0\r\n");
}

TEST(SimStatus, EnabledEventsSummariseIntoEsbAndMss) {
    Device d;
    d.Send("*ESR?;*ESE 32");
    d.Out();
    d.Send("SIM:ERR -100");
    EXPECT_EQ(d.Ask("*STB?"), "32\r\n");  // ESB, but not enabled for service
    d.Send("*SRE 32");
    EXPECT_EQ(d.Ask("*STB?"), "96\r\n");  // ESB | MSS
    // An event outside the ESE mask does not reach ESB.
    d.Send("*ESR?;*ESE 32");
    d.Out();
    d.Send("SIM:ERR -200");
    EXPECT_EQ(d.Ask("*STB?"), "0\r\n");
}

TEST(SimStatus, MasksRejectOutOfRangeAndSreIgnoresBit6) {
    Device d;
    EXPECT_EQ(d.Ask("*SRE 255;*SRE?"), "191\r\n");
    d.Send("*ESR?");
    d.Out();
    EXPECT_EQ(d.Ask("*ESE 12;*ESE 256;*ESE?"), "12\r\n");
    EXPECT_EQ(d.Esr(), kEXE);
    EXPECT_EQ(d.ErrorCodes(), std::vector<int>{-222});
    EXPECT_EQ(d.Ask("*ESE 7.6;*ESE?"), "8\r\n");  // numbers are rounded
}

TEST(SimStatus, ClsClearsEventsAndErrorsButKeepsMasks) {
    Device d;
    d.Send("*ESE 60;*SRE 48;FOO;SIM:ERR -300");
    ASSERT_NE(d.Esr(), 0);
    d.Send("*CLS");
    EXPECT_EQ(d.Esr(), 0);
    EXPECT_TRUE(d.ErrorCodes().empty());
    // The replies before *STB? already count as a message available (MAV),
    // which *SRE 48 enables: 16 | 64.
    EXPECT_EQ(d.Ask("*ESE?;*SRE?;*STB?"), "60;48;80\r\n");
}

TEST(SimStatus, ServiceRequestOnNewReasonAndSerialPollClearsRqs) {
    Device d;
    d.Send("*CLS;*ESE 32;*SRE 32");
    EXPECT_FALSE(d.inst.ServiceRequest());
    d.Send("BOGUS");  // CME -> ESB goes 0 -> 1
    EXPECT_TRUE(d.inst.ServiceRequest());
    // *STB? reports MSS and leaves the request alone.
    EXPECT_EQ(d.Ask("*STB?"), "96\r\n");
    EXPECT_TRUE(d.inst.ServiceRequest());
    EXPECT_EQ(d.inst.SerialPoll(), kESB | kRQS);
    EXPECT_FALSE(d.inst.ServiceRequest());
    EXPECT_EQ(d.inst.SerialPoll(), kESB);  // still summarised, no longer requesting
    // ESB already 1: another error is no new reason.
    d.Send("BOGUS");
    EXPECT_FALSE(d.inst.ServiceRequest());
    // After *CLS the next error is one again.
    d.Send("*CLS");
    d.Send("BOGUS");
    EXPECT_TRUE(d.inst.ServiceRequest());
    // A request that is withdrawn with its reason.
    d.Send("*CLS");
    EXPECT_FALSE(d.inst.ServiceRequest());
}

TEST(SimStatus, EnablingAnAlreadySetBitRequestsService) {
    Device d;
    d.Send("*ESE 128");  // PON is set since power-on
    EXPECT_FALSE(d.inst.ServiceRequest());
    d.Send("*SRE 32");
    EXPECT_TRUE(d.inst.ServiceRequest());
}

TEST(SimStatus, MessageAvailableOnBusUntilTheReplyIsRead) {
    Device d({.replyTerminator = "\n"}, Transport::Bus);
    d.Send("*SRE 16");
    d.Send("*IDN?");
    EXPECT_TRUE(d.inst.ServiceRequest());
    EXPECT_EQ(d.inst.SerialPoll(), kMAV | kRQS);
    Output first = d.inst.Talk(6, d.now);
    EXPECT_EQ(first.bytes, "Tessel");
    EXPECT_FALSE(first.end);
    EXPECT_EQ(d.inst.SerialPoll(), kMAV);
    Output rest = d.inst.Talk(100, d.now);
    EXPECT_EQ(rest.bytes, ",SIM-488,0,1.0\n");
    EXPECT_TRUE(rest.end);
    EXPECT_EQ(d.inst.SerialPoll(), 0);
}

// ---- messages ----

TEST(SimMessages, QueriesOfOneMessageShareOneReply) {
    Device d;
    EXPECT_EQ(d.Ask("*IDN?;*ESE 4;*ESE?;:syst:err?"), "Tessel,SIM-488,0,1.0;4;0,\"No error\"\r\n");
    // Two messages, two replies.
    d.inst.Receive("*ESE?\n*SRE?\n", false, d.now);
    EXPECT_EQ(d.inst.TakeOutput().bytes, "4\r\n");
    EXPECT_EQ(d.inst.TakeOutput().bytes, "0\r\n");
}

TEST(SimMessages, AcceptsLfCrCrLfAndEoiAsTerminators) {
    Device d;
    d.inst.Receive("*ESE 1\r", false, d.now);
    d.inst.Receive("\n*ESE?\r\n*SRE 2\n*SRE?", false, d.now);
    EXPECT_EQ(d.Out(), "1\r\n");  // the last message has no end yet
    d.inst.Receive("", true, d.now);
    EXPECT_EQ(d.Out(), "2\r\n");
    d.inst.Receive("*ESE?", true, d.now);
    EXPECT_EQ(d.Out(), "1\r\n");
    // The LF of a CR LF is no message of its own.
    EXPECT_EQ(d.inst.MessageLog(), (std::vector<std::string>{"*ESE 1", "*ESE?", "*SRE 2", "*SRE?", "*ESE?"}));
}

TEST(SimMessages, HeadersTakeShortLongFormsAnyCaseAndOptionalNodes) {
    Device d;
    d.Send("SOURce:VOLTage 1.5");
    EXPECT_EQ(d.Ask("volt?"), "+1.500000E+00\r\n");
    EXPECT_EQ(d.Ask(":SOUR:VOLT:LEV?;MEASURE:VOLTAGE:DC?;meas:volt?"),
              "+1.500000E+00;+1.500000E+00;+1.500000E+00\r\n");
    d.Send("SYST:ERR?");
    EXPECT_EQ(d.Out(), "0,\"No error\"\r\n");
    // Neither short nor long: undefined.
    for (const char* bad : {"VOLTA 1", "SOURC:VOLT?", "SYST::ERR?", "*IDN", "*RST?", "MEAS:VOLT"}) {
        d.Send("*CLS");
        d.Send(bad);
        EXPECT_EQ(d.ErrorCodes(), std::vector<int>{-113}) << bad;
    }
    EXPECT_EQ(d.inst.State().voltage, 1.5);
}

TEST(SimMessages, ReplyTerminatorIsConfigurable) {
    Device d({.identity = "Acme,X,1,2", .replyTerminator = "\n"});
    EXPECT_EQ(d.Ask("*IDN?"), "Acme,X,1,2\n");
}

TEST(SimMessages, LogKeepsTheNewestMessagesInOrder) {
    Device d({.messageLogCapacity = 3});
    for (const char* m : {"*CLS", "*ESE 1", "SOUR:VOLT 2", "*OPC"}) d.Send(m);
    EXPECT_EQ(d.inst.MessageLog(), (std::vector<std::string>{"*ESE 1", "SOUR:VOLT 2", "*OPC"}));
    d.inst.ClearMessageLog();
    EXPECT_TRUE(d.inst.MessageLog().empty());

    // A byte budget as well, for benchmarks that send large blocks.
    Device big({.messageLogCapacity = 100, .messageLogBytes = 10});
    for (const char* m : {"*CLS", "*ESE 1", "*SRE 2", "SOUR:VOLT 1.25"}) big.Send(m);
    EXPECT_EQ(big.inst.MessageLog(), std::vector<std::string>{"SOUR:VOLT 1.25"});
    big.Send("*OPC");
    EXPECT_EQ(big.inst.MessageLog(), std::vector<std::string>{"*OPC"});
    big.Send("*CLS");
    EXPECT_EQ(big.inst.MessageLog(), (std::vector<std::string>{"*OPC", "*CLS"}));
}

// ---- errors ----

TEST(SimErrors, EachErrorSetsItsEventBitAndQueuesItsText) {
    Device d;
    d.Send("*CLS;NOPE");
    EXPECT_EQ(d.Esr(), kCME);
    EXPECT_EQ(d.Ask("SYST:ERR?"), "-113,\"Undefined header\"\r\n");
    EXPECT_EQ(d.Ask("SYST:ERR?"), "0,\"No error\"\r\n");

    d.Send("*CLS;SOUR:VOLT 10.5;SOUR:VOLT abc;SOUR:VOLT");
    EXPECT_EQ(d.Esr(), kEXE | kCME);
    EXPECT_EQ(d.ErrorCodes(), (std::vector<int>{-222, -222, -109}));
    EXPECT_EQ(d.inst.State().voltage, 0.0);  // untouched by the failures

    d.Send("*CLS;*IDN? 1;*RST now");
    EXPECT_EQ(d.ErrorCodes(), (std::vector<int>{-108, -108}));
    EXPECT_EQ(d.Ask("SYST:ERR:COUN?"), "2\r\n");
}

TEST(SimErrors, LimitsAndKeywordsOfTheVoltage) {
    Device d({.voltageMin = -1.0, .voltageMax = 2.0});
    EXPECT_EQ(d.Ask("VOLT MAX;VOLT?;VOLT minimum;VOLT?;VOLT 2;VOLT?"), "+2.000000E+00;-1.000000E+00;+2.000000E+00\r\n");
    d.Send("*CLS;VOLT -1.001");
    EXPECT_EQ(d.ErrorCodes(), std::vector<int>{-222});
}

TEST(SimErrors, FullQueueEndsInQueueOverflow) {
    Device d({.errorQueueCapacity = 3});
    for (int code : {-101, -102, -103, -104, -105}) d.inst.InjectError(code);
    EXPECT_EQ(d.ErrorCodes(), (std::vector<int>{-101, -102, -350}));
    EXPECT_EQ(d.Ask("SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?"),
              "-101,\"Invalid character\";-102,\"Syntax error\";-350,\"Queue overflow\";0,\"No error\"\r\n");
}

TEST(SimErrors, InjectedCodesSetTheBitOfTheirClass) {
    const std::pair<int, uint8_t> cases[] = {
        {-100, kCME}, {-199, kCME}, {-222, kEXE}, {-350, kDDE}, {42, kDDE}, {-410, kQYE},
        {-500, kPON}, {-600, kURQ}, {-700, kRQC}, {-800, kOPC},
    };
    for (const auto& [code, bit] : cases) {
        Device d;
        d.Send("*CLS;SIM:ERR " + std::to_string(code));
        EXPECT_EQ(d.Esr(), bit) << code;
        ASSERT_EQ(d.ErrorCodes(), std::vector<int>{code});
    }
    for (int code : {0, -99, -900, 40000}) {
        Device d;
        d.Send("*CLS;SIM:ERR " + std::to_string(code));
        EXPECT_EQ(d.ErrorCodes(), std::vector<int>{-222}) << code;
        EXPECT_THROW(d.inst.InjectError(code), std::invalid_argument) << code;
    }
}

TEST(SimErrors, QueryInterruptedOnlyWhereTheControllerMustAskToRead) {
    Device bus({.replyTerminator = "\n"}, Transport::Bus);
    bus.Send("*CLS");
    bus.Send("*IDN?");
    bus.Send("*SRE?");  // the *IDN? reply was never read
    EXPECT_EQ(bus.Out(), "0\n");
    EXPECT_EQ(bus.ErrorCodes(), std::vector<int>{-410});
    EXPECT_EQ(bus.Esr(), kQYE);

    Device stream;
    stream.Send("*CLS");
    stream.Send("*IDN?");
    stream.Send("*SRE?");
    EXPECT_EQ(stream.Out(), "Tessel,SIM-488,0,1.0\r\n0\r\n");
    EXPECT_TRUE(stream.ErrorCodes().empty());
}

TEST(SimErrors, ReadingWithNothingToSayIsQueryUnterminated) {
    Device d({}, Transport::Bus);
    d.Send("*CLS;*ESE 1");
    Output o = d.inst.Talk(100, d.now);
    EXPECT_TRUE(o.bytes.empty());
    EXPECT_FALSE(o.end);
    EXPECT_EQ(d.ErrorCodes(), std::vector<int>{-420});
    EXPECT_EQ(d.Esr(), kQYE);

    // A reply on its way (behind *OPC?) is waited for, not an error.
    d.Send("*CLS;INIT;*OPC?");
    EXPECT_TRUE(d.inst.Talk(100, d.now).bytes.empty());
    EXPECT_TRUE(d.ErrorCodes().empty());
    d.now += 1s;
    EXPECT_EQ(d.inst.Talk(100, d.now).bytes, "1\r\n");
}

// ---- operations ----

TEST(SimOperations, OpcSetsItsBitWhenTheOperationEnds) {
    Device d;
    d.Send("*CLS;SYST:OPT 2;INIT;*OPC");
    ASSERT_TRUE(d.inst.NextDeadline());
    EXPECT_EQ(*d.inst.NextDeadline(), d.now + 2s);
    EXPECT_EQ(d.Esr(), 0);
    d.Advance(1999ms);
    EXPECT_EQ(d.Esr(), 0);
    EXPECT_TRUE(d.inst.State().opcArmed);
    d.Advance(1ms);
    EXPECT_EQ(d.Esr(), kOPC);
    EXPECT_FALSE(d.inst.NextDeadline());
    // With nothing running, *OPC sets the bit at once.
    d.Send("*CLS;*OPC");
    EXPECT_EQ(d.Esr(), kOPC);
}

TEST(SimOperations, OpcReachesTheServiceRequestThroughEsb) {
    Device d;
    d.Send("*CLS;*ESE 1;*SRE 32;INIT;*OPC");
    EXPECT_FALSE(d.inst.ServiceRequest());
    d.Advance(100ms);  // the default operation time
    EXPECT_TRUE(d.inst.ServiceRequest());
}

TEST(SimOperations, OthersAreAnsweredWhileTheOperationRuns) {
    Device d({.operationTime = 5s});
    d.Send("*CLS;INIT;*OPC");
    EXPECT_EQ(d.Ask("*STB?;MEAS:VOLT?"), "0;+0.000000E+00\r\n");
    EXPECT_EQ(d.Ask("*ESR?"), "0\r\n");
    d.Advance(5s);
    EXPECT_EQ(d.Ask("*ESR?"), "1\r\n");
}

TEST(SimOperations, OpcQueryAndWaiHoldLaterCommandsInOrder) {
    Device d({.operationTime = 3s});
    d.Send("INIT;*OPC?;*ESE 2;*ESE?");
    d.Send("*IDN?");  // arrives while held: queued behind
    EXPECT_EQ(d.Out(), "");
    EXPECT_TRUE(d.inst.State().waiting);
    d.Advance(2s);
    EXPECT_EQ(d.Out(), "");
    d.Advance(1s);
    EXPECT_EQ(d.Out(), "1;2\r\nTessel,SIM-488,0,1.0\r\n");
    EXPECT_FALSE(d.inst.State().waiting);

    d.Send("INIT;*WAI;VOLT 1");
    EXPECT_EQ(d.inst.State().voltage, 0.0);
    d.Advance(3s);
    EXPECT_EQ(d.inst.State().voltage, 1.0);
}

TEST(SimOperations, OverlappingOperationsEndWithTheLast) {
    Device d({.operationTime = 2s});
    d.Send("INIT");
    d.now += 1s;
    d.Send("INIT;*OPC?");
    EXPECT_EQ(*d.inst.NextDeadline(), d.now + 2s);
    d.Advance(1500ms);
    EXPECT_EQ(d.Out(), "");
    d.Advance(500ms);
    EXPECT_EQ(d.Out(), "1\r\n");
}

TEST(SimOperations, AnOperationThatNeverEndsUntilAbortOrReset) {
    Device d({.operationTime = kNever});
    d.Send("*CLS;INIT;*OPC");
    EXPECT_FALSE(d.inst.NextDeadline());
    d.Advance(1000h);
    EXPECT_EQ(d.Esr(), 0);
    d.Send("ABOR");  // ends the operation: *OPC is satisfied
    EXPECT_EQ(d.Esr(), kOPC);

    d.Send("*CLS;INIT;*OPC;*OPC?");
    d.Send("*RST");  // queued behind *OPC?
    d.inst.DeviceClear();
    EXPECT_FALSE(d.inst.State().waiting);
    EXPECT_FALSE(d.inst.State().opcArmed);
    EXPECT_TRUE(d.inst.State().operationPending);  // a clear leaves it running
    d.Send("*RST");  // aborts it without satisfying *OPC
    EXPECT_FALSE(d.inst.State().operationPending);
    EXPECT_EQ(d.Esr(), 0);
}

TEST(SimOperations, OperationTimeSetByCommandAndRestoredByReset) {
    Device d({.operationTime = 250ms});
    EXPECT_EQ(d.Ask("SYST:OPT?"), "+2.500000E-01\r\n");
    EXPECT_EQ(d.Ask("SYST:OPT 1.5;SYST:OPT?"), "+1.500000E+00\r\n");
    EXPECT_EQ(d.Ask("SYST:OPT INF;SYST:OPT?"), "+9.900000E+37\r\n");
    d.Send("*CLS;SYST:OPT -1");
    EXPECT_EQ(d.ErrorCodes(), std::vector<int>{-222});
    EXPECT_EQ(d.Ask("*RST;SYST:OPT?"), "+2.500000E-01\r\n");
}

// ---- blocks ----

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 256);
    return s;
}

TEST(SimBlocks, DataQueryReturnsADefiniteLengthBlockOfThePattern) {
    Device d;
    EXPECT_EQ(d.Ask("DATA? 300"), "#3300" + Pattern(300) + "\r\n");
    EXPECT_EQ(d.Ask("DATA? 3;*ESE?"), std::string("#13\0\1\2;0\r\n", 10));
    EXPECT_EQ(d.Ask("DATA? 0"), "#10\r\n");
    d.Send("*CLS;DATA? 17");
    EXPECT_TRUE(d.ErrorCodes().empty());
    Device small({.maxBlockLength = 16});
    small.Send("*CLS;DATA? 17;DATA?");
    EXPECT_EQ(small.ErrorCodes(), (std::vector<int>{-222, -109}));
}

TEST(SimBlocks, BlockWriteIsTakenByItsLengthWhateverItCarries) {
    // Terminators, separators and a "#" inside the data, fed one byte at a time.
    const std::string payload = std::string("a\nb\r\n;#12x\0z", 12) + Pattern(256);
    const std::string length = std::to_string(payload.size());
    const std::string message = "DATA #" + std::to_string(length.size()) + length + payload + ";DATA:LENG?;DATA:SUM?";
    Device d;
    d.Send("*CLS");
    for (char c : message + "\r\n") d.inst.Receive(std::string_view(&c, 1), false, d.now);
    uint32_t sum = 0;
    for (char c : payload) sum += static_cast<unsigned char>(c);
    EXPECT_EQ(d.Out(), length + ";" + std::to_string(sum) + "\r\n");
    EXPECT_EQ(d.inst.StoredData(), payload);
    EXPECT_TRUE(d.ErrorCodes().empty());
    EXPECT_EQ(d.inst.MessageLog().back(), message);
}

TEST(SimBlocks, MalformedBlocksAreInvalidBlockData) {
    Device d;
    d.Send("*CLS");
    d.inst.Receive("DATA #15ab", true, d.now);  // EOI before the block is complete
    d.Send("DATA #0abc");                       // indefinite length is not taken
    d.Send("DATA #13abcd");                     // more than the block said
    d.Send("DATA 12");
    EXPECT_EQ(d.ErrorCodes(), (std::vector<int>{-161, -161, -161, -161}));
    EXPECT_EQ(d.Esr(), kCME);
    EXPECT_EQ(d.Ask("DATA #13ab\n ;DATA:LENG?"), "3\r\n");  // a block may end in blanks
    EXPECT_EQ(d.inst.StoredData(), "ab\n");
}

// ---- test hooks ----

TEST(SimHooks, FixedRepliesReplaceQueriesWithoutSideEffects) {
    Device d({.fixedReplies = {{"*idn?", "Fake,1"}}});
    EXPECT_EQ(d.Ask("*IDN?"), "Fake,1\r\n");
    d.inst.SetFixedReply("*STB?", "garbage");
    d.inst.SetFixedReply("syst:err?", "0,\"No error\"");
    d.inst.SetFixedReply("*ESR?", "0");
    d.Send("BOGUS");
    EXPECT_EQ(d.Ask("*STB?;SYSTEM:ERROR:NEXT?;*ESR?"), "garbage;0,\"No error\";0\r\n");
    EXPECT_EQ(d.Esr(), kPON | kCME);  // not cleared by the fixed *ESR?
    EXPECT_EQ(d.ErrorCodes(), std::vector<int>{-113});
    d.inst.ClearFixedReply("*stb?");
    EXPECT_EQ(d.Ask("*STB?"), "0\r\n");

    EXPECT_THROW(d.inst.SetFixedReply("*CLS", "x"), std::invalid_argument);
    EXPECT_THROW(d.inst.SetFixedReply("FOO?", "x"), std::invalid_argument);
    EXPECT_THROW(Instrument({.fixedReplies = {{"NOPE?", "x"}}}), std::invalid_argument);
}

TEST(SimHooks, ErrorDescriptionsFallBackToTheirClass) {
    EXPECT_EQ(ErrorDescription(-113), "Undefined header");
    EXPECT_EQ(ErrorDescription(-177), "Command error");
    EXPECT_EQ(ErrorDescription(-289), "Execution error");
    EXPECT_EQ(ErrorDescription(17), "Device-specific error");
    EXPECT_EQ((Error{-410, ErrorDescription(-410)}.Text()), "-410,\"Query INTERRUPTED\"");
}

}  // namespace
}  // namespace tessel::sim
