// clsComm's input in the sequences that leave bytes behind: a reply cut short
// by going off-line, text read after a block, output the host never asked
// for, a reply without end; against a scripted instrument on a
// pseudo-terminal.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <tessel/events.h>

#include "comm_fixture.h"

using namespace tessel;
using namespace std::chrono_literals;
using test::CaughtError;
using test::ExpectError;

namespace {

// Runs the thread's loop for `span`, as a host program between calls does.
void RunEventsFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) WaitForEvents(end - std::chrono::steady_clock::now());
}

// An instrument that answers whole lines by a table; a line it does not know
// gets no answer. Runs until the fixture ends.
class ScriptedInstrument {
public:
    using Answer = std::function<void(test::PseudoTerminal&)>;

    explicit ScriptedInstrument(test::PseudoTerminal& pty) : pty_(pty) {}
    ~ScriptedInstrument() { Stop(); }

    void Start(std::map<std::string, Answer> answers) {
        answers_ = std::move(answers);
        thread_ = std::thread([this] { Serve(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool Stopping() const { return stop_; }
    // Waits until `count` answers in all have been written whole (the pty
    // may hold the writer back, and a line sent may not have been read yet);
    // false if that takes longer than `limit`.
    bool AnswersWritten(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return written_.wait_for(lock, limit, [&] { return answered_ >= count; });
    }

private:
    void Serve() {
        for (std::string line; !stop_;) {
            char c = 0;
            // Nothing yet, or the driver has the port closed.
            if (!test::WaitReadable(pty_.Master(), 20ms) || ::read(pty_.Master(), &c, 1) <= 0 || c == '\r') continue;
            if (c != '\n') {
                line += c;
                continue;
            }
            if (const auto found = answers_.find(line); found != answers_.end()) {
                found->second(pty_);
                Answered();
            }
            line.clear();
        }
    }
    void Answered() {
        std::lock_guard lock(mutex_);
        ++answered_;
        written_.notify_all();
    }

    test::PseudoTerminal& pty_;
    std::map<std::string, Answer> answers_;
    std::mutex mutex_;
    std::condition_variable written_;
    std::size_t answered_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

ScriptedInstrument::Answer Reply(std::string text) {
    return [text = std::move(text)](test::PseudoTerminal& pty) { pty.Send(text); };
}

class ClsCommInput : public test::CommTest {
protected:
    void SetUp() override { OnLine(pty.SlavePath(), {{"Handshaking", "None"}}); }
    void TearDown() override { instrument.Stop(); }

    static std::string Bytes(const Variant& v) {
        const auto& b = v.AsBytes().bytes;
        return std::string(b.begin(), b.end());
    }

    ScriptedInstrument instrument{pty};
};

}  // namespace

TEST_F(ClsCommInput, NothingOfAReplyCutShortByGoingOffLineReachesTheNextQuery) {
    // Several reads of the loop long, yet short enough for the pty to take
    // whole while nobody reads, so the instrument is done before the close.
    instrument.Start({{"BIG?", Reply(std::string(12000, 'b') + "\r\n")}, {"Q?", Reply("R\r\n")}});
    // The host either leaves the loop alone while it waits (the rest stays in
    // the terminal) or runs it (the rest reaches the driver's queue).
    std::size_t answers = 0;
    for (const bool runLoop : {false, true, false, true}) {
        SCOPED_TRACE(runLoop ? "loop run while waiting" : "loop idle while waiting");
        EXPECT_EQ(Bytes(block().ReceiveB(10, Variant("BIG?"))), std::string(10, 'b'));
        if (runLoop) RunEventsFor(200ms);
        else std::this_thread::sleep_for(200ms);
        // What the instrument is still writing after the new query goes out
        // cannot be told from a reply; the old reply must be all on the line.
        ASSERT_TRUE(instrument.AnswersWritten(answers + 1, 5s));
        answers += 2;
        Reopen();
        EXPECT_EQ(port().Receive(Variant("Q?")), "R");
        EXPECT_EQ(port().Count(), 1);
    }
}

TEST_F(ClsCommInput, TextAfterABlockReadIsTakenWholeAtOnce) {
    const std::string idn = "SIMULATED,INSTRUMENT,0,1.0";  // 26 characters
    const std::string longer(46, 'L');
    instrument.Start({{"TEST:ARB? #12ab", Reply("#12ab\r\n")}, {"*IDN?", Reply(idn + "\r\n")},
                      {"LONG?", Reply(longer + "\r\n")}});
    // Each pass of a Receive used to take only the block's last take and then
    // sleep; a time-out far below passes x 100 ms shows any such sleep.
    port().TimeOut(0.3f);
    struct Case {
        int16_t lastTake;
        const char* query;
        std::string reply;
    };
    for (const Case& c : {Case{2, "*IDN?", idn}, Case{1, "LONG?", longer}}) {
        SCOPED_TRACE(c.query);
        const int16_t first = static_cast<int16_t>(7 - c.lastTake);
        EXPECT_EQ(Bytes(block().ReceiveB(first, Variant("TEST:ARB? #12ab"))), std::string("#12ab\r\n", first));
        EXPECT_EQ(Bytes(block().ReceiveB(c.lastTake)), std::string("#12ab\r\n").substr(first));
        EXPECT_EQ(port().Receive(Variant(c.query)), c.reply);
        EXPECT_EQ(comm->ReceiveDirect(), "") << "nothing of the reply was left behind";
    }
}

TEST_F(ClsCommInput, OutputTheHostDidNotAskForIsDiscardedBeforeTheCommand) {
    // More than one read of the loop takes (4096 bytes): the rest is read
    // while the host's loop runs once and must not outlive the discard.
    instrument.Start({{"CHATTER", Reply(std::string(6000, 'u'))}, {"Q?", Reply("R\r\n")},
                      {"BLK?", Reply("1234")}});
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        comm->SendDirect("CHATTER\r\n");
        std::this_thread::sleep_for(20ms);  // the chatter is on its way
        WaitForEvents(50ms);                // and the host's loop runs once
        // As with a cut-short reply: chatter still being written after the
        // query goes out cannot be told from the reply.
        ASSERT_TRUE(instrument.AnswersWritten(2 * static_cast<std::size_t>(round) + 1, 5s));
        if (round % 2 == 0) EXPECT_EQ(port().Receive(Variant("Q?")), "R");
        else EXPECT_EQ(Bytes(block().ReceiveB(4, Variant("BLK?"))), "1234");
    }
}

TEST_F(ClsCommInput, AReplyPastTheLimitEndsTheReceiveWithItsOwnError) {
    for (const int32_t bad : {0, -1})
        ExpectError(CaughtError([&] { comm->ReplyLimit(bad); }), kErrInvalidProcedureCall, "clsComm.ReplyLimit");
    EXPECT_EQ(comm->ReplyLimit(), kDefaultReplyLimit);

    comm->ReplyLimit(5000);
    const auto flood = [this](test::PseudoTerminal& master) {
        // Without end, until the test is over or nobody reads any more.
        try {
            for (int i = 0; i < 2000 && !instrument.Stopping(); ++i) master.Send(std::string(1000, 'f'));
        } catch (const std::runtime_error&) {
        }
    };
    instrument.Start({{"FLOOD?", flood}});
    port().TimeOut(5.0f);
    ExpectError(CaughtError([&] { port().Receive(Variant("FLOOD?")); }), kObjectErrorBase + kErrReplyTooLong,
                "clsComm.IPort_Receive", "Reply longer than 5000 bytes");
}

TEST_F(ClsCommInput, ValuesNoTimerOrArrayCanHoldAreRefused) {
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()}) {
        ExpectError(CaughtError([&] { port().TimeOut(bad); }), kErrOverflow, "clsComm.IPort_TimeOut");
        EXPECT_EQ(port().TimeOut(), 1.0f) << "the old value stays";
    }

    // An array whose upper bound lies past the largest 32-bit index.
    ByteArray beyond{{1, 2, 3}, std::numeric_limits<int32_t>::max() - 1};
    ExpectError(CaughtError([&] { block().SendB(false, Variant(beyond), ""); }), kErrSubscriptOutOfRange,
                "clsComm.IPortB_SendB");
}

TEST_F(ClsCommInput, AStopWhileTheCheckedSendPollsIsAlwaysTheClearRegisterError) {
    instrument.Start({});  // hears everything, answers nothing
    DefaultHostControl().SetRunState(8);
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE(attempt);
        ExpectError(CaughtError([&] { port().SendE("OUTP ON"); }), kObjectErrorBase + kErrEventRegisterClear,
                    "clsComm.IPort_SendE", "Event register was unexpectedly clear");
    }
}
