// clsEthernet when the peer misbehaves: it resets, accepts and closes at
// once, floods, stays silent under a stopping host; and host names that
// cannot be an instrument's.
#include <atomic>
#include <string>
#include <thread>

#include <tessel/port.h>

#include "ethernet_fixture.h"

using namespace tessel;
using namespace tessel::test;

TEST_F(EthernetTest, APeerThatResetsIsReportedOnceAs10054) {
    // Whether the loop runs between the reset and the next call decides who
    // sees the reset first (the pending read, or the send); never the error.
    for (const bool runLoop : {false, true}) {
        SCOPED_TRACE(runLoop ? "loop run after the reset" : "loop idle after the reset");
        GoOnLine();
        Reset(peer);
        if (runLoop) EXPECT_TRUE(PumpUntil([&] { return eth->StateString() == "Error"; }));
        else std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(Raises([&] { eth->Send("*CLS"); }, kSocketConnectionReset, "Winsock"));
        EXPECT_FALSE(eth->OnLine());
        eth->OnLine(false);
    }
}

TEST_F(EthernetTest, APeerThatClosesAsItAcceptsNeverLeavesOnLineWaiting) {
    Configure(listener.Port());
    // Whether the close or the connection is seen first is up to the
    // scheduler; both outcomes are allowed, the 5-second wait is not.
    for (int attempt = 0; attempt < 6; ++attempt) {
        SCOPED_TRACE(attempt);
        std::jthread closer([&] { UniqueFd accepted = listener.Accept(); });
        try {
            eth->OnLine(true);
            closer.join();
            EXPECT_TRUE(PumpUntil([&] { return !eth->OnLine(); }));
        } catch (const ComError& e) {
            EXPECT_EQ(e.Number, kSocketConnectionReset) << e.Description;
            EXPECT_EQ(e.Source, "Winsock");
            EXPECT_NE(e.Description.find("closed by the instrument"), std::string::npos) << e.Description;
            EXPECT_EQ(eth->StateString(), "Closed");
        }
        eth->OnLine(false);
    }
}

TEST_F(EthernetTest, AReplyPastTheLimitEndsTheReceiveAndTheConnectionStaysUsable) {
    EXPECT_EQ(eth->ReplyLimit(), kDefaultReplyLimit);
    for (const int32_t bad : {0, -5})
        EXPECT_TRUE(Raises([&] { eth->ReplyLimit(bad); }, kErrInvalidProcedureCall, "clsEthernet.ReplyLimit"));
    eth->ReplyLimit(1 << 20);
    eth->TimeOut(10);
    GoOnLine();
    std::atomic<bool> stop{false};
    {
        // Bounded, so a driver that reads for ever still lets the test end.
        std::jthread flood([fd = peer.get(), &stop] {
            const std::string chunk(65536, 'f');
            for (int i = 0; i < 16384 && !stop; ++i)
                if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) return;
        });
        EXPECT_TRUE(Raises([&] { eth->Receive("FLOOD?"); }, kObjectErrorBase + kErrReplyTooLong,
                           "clsEthernet.IPort_Receive", "Reply longer than 1048576 bytes"));
        stop = true;
        eth->OnLine(false);
    }
    GoOnLine();  // a fresh connection after the flood answers normally
    WriteAll(peer.get(), "ok\r\n");
    EXPECT_EQ(eth->Receive(), "ok");
}

TEST_F(EthernetTest, HostNamesThatCannotBeAnInstrumentsAreRefused) {
    const std::pair<std::string, int32_t> cases[] = {{std::string("127.0.0.1\0junk", 14), kSocketInvalidArgument},
                                                     {"0.0.0.0", kSocketAddressNotAvailable},
                                                     {"::", kSocketAddressNotAvailable}};
    for (const auto& [host, number] : cases) {
        SCOPED_TRACE(host);
        Configure(Variant(host), Variant(int32_t{listener.Port()}));
        EXPECT_TRUE(Raises([&] { eth->OnLine(true); }, number, "Winsock"));
        EXPECT_FALSE(eth->OnLine());
        eth->OnLine(false);
    }
}

TEST_F(EthernetTest, AStopWhileTheCheckedSendPollsIsAlwaysTheClearRegisterError) {
    GoOnLine();
    // Hears every command and answers none, until the driver closes.
    std::jthread instrument([fd = peer.get()] {
        char buffer[256];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    });
    DefaultHostControl().SetRunState(8);
    for (int attempt = 0; attempt < 5; ++attempt)
        EXPECT_TRUE(Raises([&] { eth->SendE("OUTP ON"); }, kObjectErrorBase + kErrEventRegisterClear,
                           "clsEthernet.IPort_SendE", "Event register was unexpectedly clear"))
            << attempt;
    DefaultHostControl().Reset();
    eth->OnLine(false);
}
