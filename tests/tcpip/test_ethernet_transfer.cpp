// clsEthernet moving text and blocks against a loopback peer: framing,
// counts and status words, the checked send, time-outs, stops, and a peer
// that goes away.
#include <thread>

#include <tessel/sim.h>

#include "ethernet_fixture.h"

using namespace tessel;
using namespace tessel::test;

namespace {

std::string Text(const Variant& block) {
    const auto& bytes = block.AsBytes().bytes;
    return std::string(bytes.begin(), bytes.end());
}

// Answers one command line on fd with `reply`, each piece an arrival of its own.
std::jthread Instrument(int fd, std::string command, std::vector<std::string> reply) {
    return std::jthread([=] {
        if (ReadLine(fd) != command) return;
        for (const auto& piece : reply) {
            WriteAll(fd, piece);
            std::this_thread::sleep_for(50ms);
        }
    });
}

}  // namespace

TEST_F(EthernetTest, AReplyInPiecesIsJoinedAndOnlyItsEndCounts) {
    GoOnLine();
    auto pieces = Instrument(peer.get(), "MEAS?\n", {"1.23", "\r\n"});
    EXPECT_EQ(eth->Receive("MEAS?"), "1.23");
    EXPECT_EQ(eth->Count(), 4);
    EXPECT_EQ(eth->Status(), 0x100);
    WriteAll(peer.get(), "A\r\nB\r\n");
    EXPECT_EQ(eth->Receive(), "A\r\nB");
    EXPECT_EQ(eth->Count(), 4);
    auto lone = Instrument(peer.get(), "\n", {"ok\r\n"});
    EXPECT_EQ(eth->Receive(""), "ok") << "an empty command is a lone LF";
}

TEST_F(EthernetTest, TimeOutInWholeSecondsAndAReplyEndingInALoneLineFeedTimesOutWithItsCount) {
    eth->TimeOut(3.5f);
    EXPECT_EQ(eth->TimeOut(), 4.0f) << "rounded half to even";
    EXPECT_TRUE(Raises([&] { eth->TimeOut(32767.5f); }, kErrOverflow, "clsEthernet.IPort_TimeOut"));
    EXPECT_EQ(eth->TimeOut(), 4.0f);
    eth->TimeOut(2.5f);
    EXPECT_EQ(eth->TimeOut(), 2.0f);
    GoOnLine();
    auto instrument = Instrument(peer.get(), "*IDN?\n", {"1.23\n"});
    EXPECT_TRUE(Raises([&] { eth->Receive("*IDN?"); }, kTimedOut, "clsEthernet.IPort_Receive",
                       "Receive timed out after 2 seconds"));
    EXPECT_EQ(eth->Status(), 0x8500);
    EXPECT_EQ(eth->Count(), 5);
    EXPECT_EQ(eth->Error(), 6);
    WriteAll(peer.get(), "x\r\n");
    EXPECT_EQ(eth->Receive(), "x");
    EXPECT_EQ(eth->Status(), 0x100);
    EXPECT_EQ(eth->Error(), 6) << "a later success leaves it";
}

// The checked send on the simulated instrument: a query's reply, and the
// errors the device reports, read and cleared.
TEST_F(EthernetTest, SendEReturnsTheQuerysReplyAndReportsTheDevicesErrors) {
    sim::TcpServer server;
    Configure(server.Port());
    eth->OnLine(true);
    Variant reply;
    eth->SendE("*IDN?", &reply);
    EXPECT_EQ(reply, Variant(sim::Config{}.identity));
    EXPECT_TRUE(Raises([&] { eth->SendE("SOUR:VOLT 100"); },  // beyond the source's range
                       kObjectErrorBase + kErrExecutionError, "clsEthernet.IPort_SendE",
                       "Device reports a execution error"));
    EXPECT_TRUE(Raises([&] { eth->SendE("NO:SUCH:COMMand"); }, kObjectErrorBase + kErrCommandError,
                       "clsEthernet.IPort_SendE"));
    eth->SendE("SOUR:VOLT 1.5");
    eth->SendE("SOUR:VOLT?", &reply);
    EXPECT_DOUBLE_EQ(reply.ToDouble(), 1.5);
}

TEST_F(EthernetTest, SendAndSendBWriteCommandBlockAndLineFeedAndCountThem) {
    GoOnLine();
    eth->Send("ABC");
    EXPECT_EQ(ReadExactly(peer.get(), 4), "ABC\n");
    EXPECT_EQ(eth->Count(), 3) << "the command only";
    EXPECT_EQ(eth->Status(), 0x100);
    const std::vector<uint8_t> block{0, 1, 2, 3, 0x0A, 0x0D, 0xFE, 0xFF, 8, 9};
    eth->SendB(true, Variant::Bytes(block), "CMD #");
    EXPECT_EQ(ReadExactly(peer.get(), 16), "CMD #" + std::string(block.begin(), block.end()) + "\n");
    EXPECT_EQ(eth->Count(), 16);
    eth->SendB(false, Variant(ByteArray{{'x', 'y', 'z'}, 1}));  // no LF; elements whatever the bounds
    EXPECT_EQ(eth->Count(), 3);
    eth->Send("Z");
    EXPECT_EQ(ReadExactly(peer.get(), 5), "xyzZ\n");
}

TEST_F(EthernetTest, ReceiveBTakesWhatWasAskedACommandThrowsAwayWhatWaitsAShortBlockTimesOut) {
    GoOnLine();
    WriteAll(peer.get(), "abcdef");
    const Variant first = eth->ReceiveB(4);
    EXPECT_EQ(first.AsBytes().LowerBound(), 0);
    EXPECT_EQ(Text(first), "abcd");
    EXPECT_EQ(eth->Count(), 4);
    EXPECT_EQ(eth->Status(), 0x100);
    {
        auto instrument = Instrument(peer.get(), "DATA?\n", {"xyzgh"});
        EXPECT_EQ(Text(eth->ReceiveB(3, "DATA?")), "xyz") << "\"ef\" waited and was thrown away";
    }
    auto instrument = Instrument(peer.get(), "Q\n", {"\r\n"});
    EXPECT_EQ(eth->Receive("Q"), "gh") << "what ReceiveB left is taken by the next Receive";
    EXPECT_EQ(CaughtError([&] { eth->ReceiveB(0); }).Source, "clsEthernet.IPortB_ReceiveB");
    WriteAll(peer.get(), "ab");
    EXPECT_TRUE(Raises([&] { eth->ReceiveB(4); }, kTimedOut, "clsEthernet.IPortB_ReceiveB",
                       "Receive timed out after 1 seconds"));
    EXPECT_EQ(eth->Status(), 0x8500);
    EXPECT_EQ(eth->Count(), 0) << "a short block is dropped";
}

TEST_F(EthernetTest, ARunStateStopEndsAnEmptyReceiveQuietlyAndASendAsTimedOut) {
    Listener slow(16, 4096);  // a peer that never reads, with little room to buffer
    Configure(slow.Port());
    eth->OnLine(true);
    UniqueFd neverReads = slow.Accept();
    eth->Send("ABC");
    eth->TimeOut(1000.0f);  // only a stop can end these waits
    auto stopSoon = [] {
        return std::jthread([] { std::this_thread::sleep_for(100ms); DefaultHostControl().SetRunState(8); });
    };
    {
        auto host = stopSoon();
        EXPECT_EQ(eth->Receive(), "");
    }
    EXPECT_EQ(eth->Status(), 0x100);
    EXPECT_EQ(eth->Count(), 3);
    EXPECT_EQ(eth->Error(), 0);
    DefaultHostControl().Reset();
    auto host = stopSoon();
    EXPECT_TRUE(Raises([&] { eth->Send(std::string(16 << 20, 'x')); }, kTimedOut, "clsEthernet.IPort_Send",
                       "Send timed out after 1000 seconds"));
    EXPECT_EQ(eth->Status(), 0xC000);
    EXPECT_EQ(eth->Count(), 0);
}

TEST_F(EthernetTest, AStopRequestEndsAReceiveQuietlyWhateverCame) {
    GoOnLine();
    eth->TimeOut(1000.0f);
    std::jthread instrument([fd = peer.get()] {
        WriteAll(fd, "1.2");
        std::this_thread::sleep_for(100ms);
        DefaultHostControl().RequestStop();
    });
    EXPECT_EQ(eth->Receive(), "");
    EXPECT_EQ(eth->Status(), 0);
}

TEST_F(EthernetTest, APeerThatClosesInTheMiddleOfAReply) {
    GoOnLine();
    std::jthread instrument([&] {
        if (ReadLine(peer.get()) != "MEAS?\n") return;
        WriteAll(peer.get(), "1.2");
        peer.reset();
    });
    EXPECT_EQ(CaughtError([&] { eth->Receive("MEAS?"); }).Number, kTimedOut);
    EXPECT_EQ(eth->Count(), 3);
    EXPECT_EQ(eth->StateString(), "Peer is closing the connection");
    EXPECT_FALSE(eth->OnLine());
    EXPECT_TRUE(Raises([&] { eth->Send("MEAS?"); }, kSocketWrongState, "Winsock"));
    EXPECT_EQ(eth->Status(), 0x8500) << "a refused send changes nothing";
}
