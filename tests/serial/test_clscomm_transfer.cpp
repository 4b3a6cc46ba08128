// clsComm transfers against a scripted instrument on the master side of a
// pseudo-terminal: framing, counts, status words, time-outs, the host's run
// state and stop request, block and direct access.
#include <chrono>
#include <functional>
#include <thread>

#include <tessel/timeout.h>

#include "comm_fixture.h"

using namespace tessel;
using namespace std::chrono_literals;
using test::CaughtError;
using test::ExpectError;
using test::kTimedOut;

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class ClsCommTransfer : public test::CommTest {
protected:
    void SetUp() override {
        OnLine(pty.SlavePath(), {{"Handshaking", "None"}});
        port().TimeOut(0.3f);
    }
    void TearDown() override {
        if (instrument.joinable()) instrument.join();
        clsTimeout::SetClock(nullptr);
    }

    // The instrument's side: waits for `count` bytes, then sends each piece
    // with a pause before it, on its own thread.
    void Answer(std::size_t count, std::vector<std::string> pieces) {
        instrument = std::thread([this, count, pieces = std::move(pieces)] {
            heard = Text(pty.Receive(count));
            for (const auto& piece : pieces) {
                std::this_thread::sleep_for(20ms);
                pty.Send(piece);
            }
        });
    }
    void Finish() { instrument.join(); }

    // Back on-line with XON/XOFF, then the instrument holds the output.
    void HoldByXoff() {
        setup().OnLine(false);
        test::Set(*comm, "Handshaking", "XOn/XOff");
        setup().OnLine(true);
        pty.Send("\x13");
        std::this_thread::sleep_for(20ms);
    }
    // Input the kernel has handed to the slave side, a while ago: the loop
    // leaves out a look that comes within a moment of its last one, so the
    // driver's next yield would not see input that came in that moment.
    void Arrived(const std::string& text) {
        pty.SendAndWaitHeld(text);
        std::this_thread::sleep_for(2ms);
    }

    std::thread instrument;
    std::string heard;
};

}  // namespace

TEST_F(ClsCommTransfer, SendAppendsCrLfAndCountsTheCommandOnly) {
    port().Send("*CLS");
    EXPECT_EQ(Text(pty.Receive(6)), "*CLS\r\n");
    EXPECT_EQ(Words(), std::tuple(256, 4, 0));
}

TEST_F(ClsCommTransfer, ReceiveSendsTheQueryAndStripsTheTerminators) {
    struct Case {
        std::vector<std::string> pieces;
        std::string reply;
    };
    for (const Case& c : {Case{{"1.5\r\n"}, "1.5"},
                          Case{{"\r\n"}, ""},
                          Case{{"X\r\n\r\n"}, "X"},
                          Case{{"1.", "2", "3\r", "\n"}, "1.23"},
                          Case{{"A\r\nB\r\n"}, "A\r\nB"},      // two replies in one read
                          Case{{"A\r\nB", "\r\n"}, "A\r\nB"},  // an inner LF does not end the reply
                          Case{{"no cr\n"}, "no cr"}}) {
        Answer(5, c.pieces);
        EXPECT_EQ(port().Receive("MEAS?"), c.reply);
        Finish();
        EXPECT_EQ(heard, "MEAS?");
        EXPECT_EQ(Text(pty.Receive(2)), "\r\n");
        EXPECT_EQ(Words(), std::tuple(256, static_cast<int>(c.reply.size()), 0));
    }
}

TEST_F(ClsCommTransfer, ReceiveWithACommandDropsStaleInputFirst) {
    Arrived("stale\r\n");
    Answer(7, {"fresh\r\n"});
    EXPECT_EQ(port().Receive("*IDN?"), "fresh");
    Finish();
    // Without a command nothing is sent and nothing dropped.
    pty.Send("waiting\r\n");
    EXPECT_EQ(port().Receive(), "waiting");
    EXPECT_TRUE(pty.Receive(1, 50ms).empty());
    // An empty command is a command: a bare CR LF goes out.
    Answer(2, {"ok\r\n"});
    EXPECT_EQ(port().Receive(""), "ok");
    Finish();
    EXPECT_EQ(heard, "\r\n");
}

TEST_F(ClsCommTransfer, APartialReplyTimesOutWithItsCount) {
    pty.Send("1.2");
    port().TimeOut(0.25f);
    ExpectError(CaughtError([&] { port().Receive(); }), kTimedOut, "clsComm.IPort_Receive",
                "Receive timed out after 0.25 seconds");
    EXPECT_EQ(Words(), std::tuple(34048, 3, 6));

    // Nothing at all: the same error with Count 0; Error stays 6 afterwards.
    port().TimeOut(1.0f / 8);
    EXPECT_EQ(CaughtError([&] { port().Receive(); }).Description, "Receive timed out after 0.125 seconds");
    EXPECT_EQ(Words(), std::tuple(34048, 0, 6));
    port().Send("X");
    EXPECT_EQ(Words(), std::tuple(256, 1, 6));
}

TEST_F(ClsCommTransfer, RunStateEndsReceiveQuietlyOnlyWhenNothingArrived) {
    port().TimeOut(30.0f);
    port().Send("before");
    DefaultHostControl().SetRunState(8);
    EXPECT_EQ(port().Receive(), "");
    EXPECT_EQ(Words(), std::tuple(256, 6, 0));  // untouched

    Arrived("partial");
    EXPECT_EQ(CaughtError([&] { port().Receive(); }).Number, kTimedOut);
    EXPECT_EQ(Words(), std::tuple(34048, 7, 6));
}

TEST_F(ClsCommTransfer, AStopEndsAWaitAtOnceAndEndsReceiveQuietlyEvenWithAReply) {
    port().TimeOut(30.0f);
    std::thread stopper([] {
        std::this_thread::sleep_for(50ms);
        DefaultHostControl().RequestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port().Receive(), "");
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);

    DefaultHostControl().Reset();
    pty.Send("ready\r\n");
    DefaultHostControl().SetStopRequested(true);
    EXPECT_EQ(port().Receive(), "");
    EXPECT_EQ(Words(), std::tuple(0, 0, 0));
}

TEST_F(ClsCommTransfer, SendTimesOutWhileXoffHoldsTheOutput) {
    HoldByXoff();
    port().TimeOut(0.2f);
    ExpectError(CaughtError([&] { port().Send("*RST"); }), kTimedOut, "clsComm.IPort_Send", "Send timed out");
    EXPECT_EQ(Words(), std::tuple(0, 0, 0));  // a send time-out sets no field

    // The run state ends the drain wait at once, also as a time-out.
    port().TimeOut(30.0f);
    DefaultHostControl().SetRunState(1);
    EXPECT_EQ(CaughtError([&] { port().Send("*RST"); }).Description, "Send timed out");
    DefaultHostControl().Reset();

    pty.Send("\x11");  // XON: what was held goes out, ahead of the next message
    port().TimeOut(1.0f);
    port().Send("");
    EXPECT_EQ(Text(pty.Receive(14)), "*RST\r\n*RST\r\n\r\n");
}

TEST_F(ClsCommTransfer, SendWaitIsCappedAtFourSecondsWhileReceiveWaitsItsTimeOut) {
    double now = 1000.0;  // a clock that moves a quarter second at every reading
    clsTimeout::SetClock([&now] { return now += 0.25; });
    HoldByXoff();
    port().TimeOut(10.0f);
    for (const auto& [call, least] : {std::pair<std::function<void()>, double>{[&] { port().Send("X"); }, 4.0},
                                      {[&] { port().Receive(); }, 10.0}}) {
        const double start = now;
        EXPECT_EQ(CaughtError(call).Number, kTimedOut);
        EXPECT_GT(now - start, least);
        EXPECT_LT(now - start, least + 2);  // a pass reads the clock three times
    }
    pty.Send("\x11");
}

TEST_F(ClsCommTransfer, ReceiveBTakesOnlyWhatWasAskedAndLimitsTextReadsUntilTheNextOnLine) {
    Arrived("ABCDEF");
    Variant got = block().ReceiveB(4);
    EXPECT_EQ(got, Variant::Bytes({'A', 'B', 'C', 'D'}));
    EXPECT_EQ(got.AsBytes().LowerBound(), 0);
    EXPECT_EQ(Words(), std::tuple(256, 4, 0));
    // The rest stays, and text reads now take at most the last block's take.
    EXPECT_EQ(comm->ReceiveDirect(), "EF");
    Arrived("123456");
    EXPECT_EQ(comm->ReceiveDirect(), "1234");  // InputLen is still 4
    EXPECT_EQ(comm->ReceiveDirect(), "56");
    // Receive absorbs the short reads: it reads on until the line feed.
    pty.Send("a longer reply\r\n");
    EXPECT_EQ(port().Receive(), "a longer reply");
    Reopen();  // sets InputLen back to 0
    Arrived("123456");
    EXPECT_EQ(comm->ReceiveDirect(), "123456");
}

TEST_F(ClsCommTransfer, ReceiveBWithACommandCarriesBinaryBytes) {
    const std::string payload("\x00\r\n\xff\x13", 5);
    Answer(8, {"#15" + payload});
    EXPECT_EQ(block().ReceiveB(8, "DATA? 5").ToString(), "#15" + payload);
    Finish();
    EXPECT_EQ(heard, "DATA? 5\r");
}

TEST_F(ClsCommTransfer, ReceiveBTimeOutDropsThePartialBlockAndReturnsToTextAndCountsBelowOneAreRefused) {
    pty.Send("AB");
    ExpectError(CaughtError([&] { block().ReceiveB(5); }), kTimedOut, "clsComm.IPortB_ReceiveB",
                "Receive timed out after 0.3 seconds");
    EXPECT_EQ(Words(), std::tuple(34048, 0, 6));
    // Back in text mode: a direct read hands over text, not a byte array.
    Arrived("xyz");
    EXPECT_EQ(comm->ReceiveDirectV().Type(), VarType::String);

    for (int16_t count : {int16_t{0}, int16_t{-3}})
        ExpectError(CaughtError([&] { block().ReceiveB(count); }), kErrSubscriptOutOfRange, "clsComm.IPortB_ReceiveB");
}

TEST_F(ClsCommTransfer, RunStateEndsReceiveBQuietlyDroppingWhatCame) {
    port().TimeOut(30.0f);
    pty.Send("AB");
    DefaultHostControl().SetRunState(8);
    EXPECT_EQ(block().ReceiveB(5), Variant(std::string()));
    EXPECT_EQ(Words(), std::tuple(0, 0, 0));
}

TEST_F(ClsCommTransfer, SendBWritesCommandBlockAndTerminator) {
    ByteArray data{{1, 2, 3}, 5};  // bounds 5..7 count the same as 0..2
    block().SendB(true, Variant(data), "DATA ");
    EXPECT_EQ(pty.Receive(10), (std::vector<uint8_t>{'D', 'A', 'T', 'A', ' ', 1, 2, 3, '\r', '\n'}));
    EXPECT_EQ(Words(), std::tuple(256, 10, 0));

    block().SendB(false, Variant::Bytes({9, 9}));
    EXPECT_EQ(pty.Receive(2), (std::vector<uint8_t>{9, 9}));
    EXPECT_TRUE(pty.Receive(1, 50ms).empty());
    EXPECT_EQ(Words(), std::tuple(256, 2, 0));

    // Text is sent, then fails to be counted.
    ExpectError(CaughtError([&] { block().SendB(false, Variant("abc")); }), kErrTypeMismatch, "clsComm.IPortB_SendB");
    EXPECT_EQ(Text(pty.Receive(3)), "abc");
    EXPECT_EQ(port().Status(), 256);
}

TEST_F(ClsCommTransfer, DirectAccessMovesCharactersExactly) {
    comm->SendDirect("raw\r");
    EXPECT_EQ(Text(pty.Receive(4)), "raw\r");
    EXPECT_EQ(port().Count(), 4);
    EXPECT_EQ(comm->ReceiveDirectV(), Variant(std::string()));  // nothing waiting, no wait
    EXPECT_EQ(port().Count(), 0);
    Arrived("in\r\n");
    EXPECT_EQ(comm->ReceiveDirect(), "in\r\n");
    EXPECT_EQ(Words(), std::tuple(256, 4, 0));
}

TEST_F(ClsCommTransfer, AnInstrumentThatHangsUpIsAControlError) {
    Arrived("half a rep");
    pty.CloseMaster();
    port().TimeOut(5.0f);
    const ComError e = CaughtError([&] { port().Receive(); });
    ExpectError(e, 8020, "MSComm", "Error reading comm device");
    EXPECT_FALSE(e.Detail.empty());
}
