// clsEthernet when the peer misbehaves: it resets, accepts and closes at
// once, floods, stays silent under a stopping host; and host names that
// cannot be an instrument's.
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <thread>

#include <tessel/port.h>

#include "ethernet_fixture.h"

using namespace tessel;
using namespace tessel::test;

namespace {

// Writes `chunk` to fd until the driver stops taking it or `stop` is set;
// bounded, so a driver that reads for ever still lets the test end.
std::jthread Flood(int fd, std::atomic<bool>& stop) {
    return std::jthread([fd, &stop] {
        const std::string chunk(65536, 'f');
        for (int i = 0; i < 16384 && !stop; ++i)
            if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) return;
    });
}

// Reads command lines on fd and answers none of them, until the driver closes.
std::jthread Silent(int fd) {
    return std::jthread([fd] {
        char buffer[256];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    });
}

}  // namespace

TEST_F(EthernetTest, APeerThatResetsIsReportedOnceAs10054) {
    // Whether the loop runs between the reset and the next call decides who
    // sees the reset first (the pending read, or the send); never the error.
    for (const bool runLoop : {false, true}) {
        SCOPED_TRACE(runLoop ? "loop run after the reset" : "loop idle after the reset");
        GoOnLine();
        Reset(peer);
        if (runLoop) EXPECT_TRUE(PumpUntil([&] { return eth->StateString() == "Error"; }));
        else std::this_thread::sleep_for(20ms);
        const ComError e = CaughtError([&] { eth->Send("*CLS"); });
        EXPECT_EQ(e.Number, kSocketConnectionReset) << e.Description;
        EXPECT_EQ(e.Source, "Winsock");
        EXPECT_FALSE(eth->OnLine());
        eth->OnLine(false);
    }
}

TEST_F(EthernetTest, APeerThatClosesAsItAcceptsNeverLeavesOnLineWaiting) {
    Configure(Variant("127.0.0.1"), Variant(static_cast<int32_t>(listener.Port())));
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
    for (const int32_t bad : {0, -5}) {
        const ComError e = CaughtError([&] { eth->ReplyLimit(bad); });
        EXPECT_EQ(e.Number, kErrInvalidProcedureCall);
        EXPECT_EQ(e.Source, "clsEthernet.ReplyLimit");
    }
    eth->ReplyLimit(1 << 20);
    eth->TimeOut(10);
    GoOnLine();
    std::atomic<bool> stop{false};
    {
        std::jthread flood = Flood(peer.get(), stop);
        const ComError e = CaughtError([&] { eth->Receive("FLOOD?"); });
        EXPECT_EQ(e.Number, kObjectErrorBase + kErrReplyTooLong);
        EXPECT_EQ(e.Source, "clsEthernet.IPort_Receive");
        EXPECT_EQ(e.Description, "Reply longer than 1048576 bytes");
        stop = true;
        eth->OnLine(false);
    }
    // A fresh connection after the flood answers normally.
    GoOnLine();
    WriteAll(peer.get(), "ok\r\n");
    EXPECT_EQ(eth->Receive(), "ok");
}

TEST_F(EthernetTest, HostNamesThatCannotBeAnInstrumentsAreRefused) {
    struct Case {
        std::string host;
        int32_t number;
    };
    const Case cases[] = {
        {std::string("127.0.0.1\0junk", 14), kSocketInvalidArgument},
        {"0.0.0.0", kSocketAddressNotAvailable},
        {"::", kSocketAddressNotAvailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        Configure(Variant(c.host), Variant(static_cast<int32_t>(listener.Port())));
        const ComError e = CaughtError([&] { eth->OnLine(true); });
        EXPECT_EQ(e.Number, c.number) << e.Description;
        EXPECT_EQ(e.Source, "Winsock");
        EXPECT_FALSE(eth->OnLine());
        eth->OnLine(false);
    }
}

TEST_F(EthernetTest, AStopWhileTheCheckedSendPollsIsAlwaysTheClearRegisterError) {
    GoOnLine();
    std::jthread instrument = Silent(peer.get());
    DefaultHostControl().SetRunState(8);
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE(attempt);
        const ComError e = CaughtError([&] { eth->SendE("OUTP ON"); });
        EXPECT_EQ(e.Number, kObjectErrorBase + kErrEventRegisterClear) << e.Description;
        EXPECT_EQ(e.Source, "clsEthernet.IPort_SendE");
        EXPECT_EQ(e.Description, "Event register was unexpectedly clear");
    }
    DefaultHostControl().Reset();
    eth->OnLine(false);
}
