// The simulated instrument served over a pseudo-terminal and over loopback
// TCP, talked to from the test as a controller would.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <tessel/sim.h>

#include "sim/client.h"

namespace tessel::sim {
namespace {

using namespace std::chrono_literals;
using test::Client;
using test::Pattern;
using Log = std::vector<std::string>;

const std::string kIdn = "Tessel,SIM-488,0,1.0\r\n";

TEST(SimPtyServer, ServesAClientOnTheSlaveBlocksAccessAndOperationsThatEndByThemselves) {
    PtyServer server({.operationTime = 30ms});
    Client c = Client::Pty(server.SlavePath());
    EXPECT_EQ(c.Ask("*ESE 36;*ESE?;SOUR:VOLT -2.5;MEAS:VOLT?"), "36;-2.500000E+00\r\n");
    // CR and LF inside blocks both ways, one larger than the terminal's buffer.
    c.Write("DATA? 1000\r\n");
    EXPECT_EQ(c.ReadBytes(1008), "#41000" + Pattern(1000) + "\r\n");
    const std::string payload = Pattern(100000);
    c.Write("DATA #6100000" + payload + "\n");
    EXPECT_EQ(c.Ask("DATA:LENG?"), "100000\r\n");
    std::string stored;
    server.Access([&](Instrument& i) {
        stored = i.StoredData();
        i.SetFixedReply("*TST?", "garbage");
    });
    EXPECT_EQ(stored, payload);
    EXPECT_EQ(c.Ask("*TST?"), "garbage\r\n");
    // What the instrument says during Access goes out to the client.
    server.Access([](Instrument& i) { i.Receive("*IDN?\n", false, Clock::now()); });
    EXPECT_EQ(c.ReadLine(), kIdn);
    EXPECT_EQ(server.MessageLog(), (Log{"*ESE 36;*ESE?;SOUR:VOLT -2.5;MEAS:VOLT?", "DATA? 1000",
                                        "DATA #6100000" + payload, "DATA:LENG?", "*TST?", "*IDN?"}));
    EXPECT_EQ(server.State().eventEnable, 36);

    EXPECT_EQ(c.Ask("INIT;*OPC?"), "1\r\n") << "from the server's own wake-up at the operation's end";
    // While an operation never ends, the controller can still poll.
    EXPECT_EQ(c.Ask("*CLS;*ESE 1;*SRE 32;SYST:OPT INF;INIT;*OPC;*STB?"), "0\r\n");
    EXPECT_EQ(c.Ask("*STB?"), "0\r\n");
    EXPECT_EQ(c.Ask("ABOR;*STB?"), "96\r\n");
}

// A test that wants every reply in the terminal before it goes on (to check
// a driver's discard, say) relies on this count, the queue's own not enough.
TEST(SimPtyServer, RepliesTheTerminalCannotTakeYetCountAsUnwrittenUntilRead) {
    PtyServer server;
    Client c = Client::Pty(server.SlavePath());
    const std::string reply = "#6100000" + Pattern(100000) + "\r\n";
    c.Write("DATA? 100000\r\n");
    // Until the terminal took its fill: it is full long before the server has
    // written what it took from the queue, so the server now holds part of it.
    bool someWritten = false;
    for (int i = 0; i < 500 && !someWritten; ++i) {
        std::this_thread::sleep_for(10ms);
        someWritten = server.UnwrittenBytes() < reply.size();
    }
    EXPECT_TRUE(someWritten) << "what the terminal took counts as written";
    EXPECT_GT(server.UnwrittenBytes(), server.State().outputBytes);

    EXPECT_EQ(c.ReadBytes(reply.size()), reply);
    std::size_t unwritten = 1;
    for (int i = 0; i < 500 && unwritten != 0; ++i) {
        unwritten = server.UnwrittenBytes();
        if (unwritten != 0) std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(unwritten, 0u);
}

TEST(SimPtyServer, ClientMayCloseAndReopenTheSlave) {
    PtyServer server;
    for (const auto& [ask, reply] : {std::pair{"*ESE 5;*ESE?", "5\r\n"}, {"*ESE?", "5\r\n"}, {"*IDN?", kIdn.c_str()}}) {
        EXPECT_EQ(Client::Pty(server.SlavePath()).Ask(ask), reply) << "the same instrument, still serving";
        // No client now. Had the server let go of the slave, the terminal would
        // hang up; this pause gives the server time to see that and bounds nothing.
        std::this_thread::sleep_for(50ms);
    }
}

TEST(SimTcpServer, EachConnectionHasItsOwnInstrument) {
    TcpServer server({.instrument = {.operationTime = 20ms}});
    Client a = Client::Tcp(server.Port());
    Client b = Client::Tcp(server.Port());
    EXPECT_EQ(a.Ask("*ESE 4;*ESE?"), "4\r\n");
    EXPECT_EQ(b.Ask("*ESE?"), "0\r\n");
    a.Write("INIT;*OPC?;DATA? 5000\n");
    EXPECT_EQ(a.ReadBytes(2 + 6 + 5000 + 2), "1;#45000" + Pattern(5000) + "\r\n");
    EXPECT_EQ(server.Connections(), 2u);

    Log logA;
    EXPECT_TRUE(server.Access(0, [&](Instrument& i) { logA = i.MessageLog(); }));
    EXPECT_EQ(logA, (Log{"*ESE 4;*ESE?", "INIT;*OPC?;DATA? 5000"}));
    EXPECT_EQ(server.MessageLog(1), Log{"*ESE?"});
    EXPECT_EQ(server.State(0).value().eventEnable, 4);
    EXPECT_FALSE(server.Access(2, [](Instrument&) { ADD_FAILURE() << "no third connection"; }));
    EXPECT_FALSE(server.State(2));
}

TEST(SimTcpServer, ASharedInstrumentServesConnectionsInTurn) {
    TcpServer server({.shared = true, .instrument = {}});
    EXPECT_TRUE(server.Access([](Instrument& i) { i.SetFixedReply("*TST?", "7"); }));
    std::optional<Client> a = Client::Tcp(server.Port());
    EXPECT_EQ(a->Ask("*ESE 8;*TST?"), "7\r\n");
    Client b = Client::Tcp(server.Port());  // waits in the listen queue
    b.Write("*ESE?\n");
    EXPECT_EQ(a->Ask("*ESE?"), "8\r\n");
    EXPECT_EQ(server.Connections(), 1u);
    a->Write("*ESE 16");  // a message cut off by the close
    a.reset();
    EXPECT_EQ(b.ReadLine(), "8\r\n") << "the next connection finds the settings, not the leftover input";
    EXPECT_EQ(server.Connections(), 2u);
}

// One message asking for far more than the instrument may hold: the replies
// that fit, -225 for the rest, and the server goes on.
TEST(SimServers, AFloodOfLargeQueriesIsRefusedWithErrorsAndTheServerGoesOn) {
    TcpServer server;
    Client c = Client::Tcp(server.Port());
    std::string flood = "*CLS;";
    for (int i = 0; i < 100; ++i) flood += "DATA? 16777216;";
    c.Write(flood + "\n");
    const std::string block = "#8" + std::to_string(1 << 24) + Pattern(1 << 24);
    EXPECT_EQ(c.ReadBytes(2 * block.size() + 3), block + ";" + block + "\r\n");
    const auto state = server.State(0);
    ASSERT_TRUE(state);
    ASSERT_EQ(state->errors.size(), Config{}.errorQueueCapacity);
    EXPECT_EQ(state->errors.front().code, -225);
    EXPECT_EQ(state->errors.back().code, -350);
    EXPECT_EQ(c.Ask("*CLS;*IDN?"), kIdn);
}

TEST(SimServers, StopHangsUpEveryClientAndATakenPortIsRefused) {
    PtyServer pty;
    TcpServer tcp;
    EXPECT_THROW(TcpServer({.port = tcp.Port(), .instrument = {}}), std::system_error);
    Client clients[] = {Client::Pty(pty.SlavePath()), Client::Tcp(tcp.Port()), Client::Tcp(tcp.Port())};
    for (Client& c : clients) EXPECT_EQ(c.Ask("*IDN?"), kIdn);
    pty.Stop();
    tcp.Stop();
    for (Client& c : clients) EXPECT_TRUE(c.HungUp());
    pty.Stop();  // a second stop does nothing
    tcp.Stop();
}

}  // namespace
}  // namespace tessel::sim
