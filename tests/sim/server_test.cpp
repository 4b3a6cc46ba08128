// The simulated instrument served over a pseudo-terminal and over loopback
// TCP, talked to from the test as a controller would.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <tessel/sim.h>

#include "sim/client.h"

namespace tessel::sim {
namespace {

using namespace std::chrono_literals;
using test::PtyClient;
using test::TcpClient;

const std::string kIdn = "Tessel,SIM-488,0,1.0\r\n";

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 256);
    return s;
}

// ---- pseudo-terminal ----

TEST(SimPtyServer, AnswersQueriesBlocksAndLogsMessages) {
    PtyServer server;
    ASSERT_EQ(server.SlavePath().rfind("/dev/pts/", 0), 0u) << server.SlavePath();
    PtyClient c(server.SlavePath());
    EXPECT_EQ(c.Ask("*IDN?"), kIdn);
    EXPECT_EQ(c.Ask("*ESE 36;*ESE?;SOUR:VOLT -2.5;MEAS:VOLT?"), "36;-2.500000E+00\r\n");
    // Every byte value, CR and LF included, arrives as sent.
    c.Write("DATA? 1000\r\n");
    EXPECT_EQ(c.ReadBytes(1008), "#41000" + Pattern(1000) + "\r\n");
    EXPECT_EQ(server.MessageLog(),
              (std::vector<std::string>{"*IDN?", "*ESE 36;*ESE?;SOUR:VOLT -2.5;MEAS:VOLT?", "DATA? 1000"}));
    EXPECT_EQ(server.State().eventEnable, 36);
}

TEST(SimPtyServer, BlockLargerThanTheTerminalBufferIsStored) {
    PtyServer server;
    PtyClient c(server.SlavePath());
    const std::string payload = Pattern(100000);
    c.Write("DATA #6100000" + payload + "\n");
    uint32_t sum = 0;
    for (char ch : payload) sum += static_cast<unsigned char>(ch);
    EXPECT_EQ(c.Ask("DATA:LENG?;DATA:SUM?"), "100000;" + std::to_string(sum) + "\r\n");
    std::string stored;
    server.Access([&](Instrument& i) { stored = i.StoredData(); });
    EXPECT_EQ(stored, payload);
}

TEST(SimPtyServer, ClientMayCloseAndReopenTheSlave) {
    PtyServer server;
    {
        PtyClient first(server.SlavePath());
        EXPECT_EQ(first.Ask("*ESE 5;*ESE?"), "5\r\n");
    }
    // No client now. Had the server let go of the slave, the terminal would
    // hang up, and this pause gives the server time to see that; it is not
    // a bound on anything.
    std::this_thread::sleep_for(50ms);
    PtyClient second(server.SlavePath());
    EXPECT_EQ(second.Ask("*ESE?"), "5\r\n");  // the same instrument, still serving
    second.Close();
    PtyClient third(server.SlavePath());
    EXPECT_EQ(third.Ask("*IDN?"), kIdn);
}

TEST(SimPtyServer, OperationEndsWithoutInputFromTheController) {
    Config config;
    config.operationTime = 30ms;
    PtyServer server(config);
    PtyClient c(server.SlavePath());
    // The reply comes from the server's own wake-up at the operation's end.
    EXPECT_EQ(c.Ask("INIT;*OPC?"), "1\r\n");

    // While an operation never ends, the controller can still poll.
    EXPECT_EQ(c.Ask("*CLS;*ESE 1;*SRE 32;SYST:OPT INF;INIT;*OPC;*STB?"), "0\r\n");
    EXPECT_EQ(c.Ask("*STB?"), "0\r\n");
    EXPECT_EQ(c.Ask("ABOR;*STB?"), "96\r\n");
}

TEST(SimPtyServer, AccessReachesTheServedInstrument) {
    PtyServer server;
    PtyClient c(server.SlavePath());
    server.Access([](Instrument& i) { i.SetFixedReply("*STB?", "garbage"); });
    EXPECT_EQ(c.Ask("*STB?"), "garbage\r\n");
    // What the instrument says during Access goes out to the client.
    server.Access([](Instrument& i) { i.Receive("*IDN?\n", false, Clock::now()); });
    EXPECT_EQ(c.ReadLine(), kIdn);
}

TEST(SimPtyServer, StopHangsUpTheTerminal) {
    PtyServer server;
    PtyClient c(server.SlavePath());
    EXPECT_EQ(c.Ask("*IDN?"), kIdn);
    server.Stop();
    EXPECT_TRUE(c.HungUp());
    server.Stop();  // a second stop does nothing
}

// ---- TCP ----

TEST(SimTcpServer, EachConnectionHasItsOwnInstrument) {
    TcpServer server;
    ASSERT_NE(server.Port(), 0);
    TcpClient a(server.Port());
    TcpClient b(server.Port());
    EXPECT_EQ(a.Ask("*ESE 4;*ESE?"), "4\r\n");
    EXPECT_EQ(b.Ask("*ESE?"), "0\r\n");
    EXPECT_EQ(a.Ask("*IDN?"), kIdn);
    EXPECT_EQ(server.Connections(), 2u);

    std::vector<std::string> logA;
    EXPECT_TRUE(server.Access(0, [&](Instrument& i) { logA = i.MessageLog(); }));
    EXPECT_EQ(logA, (std::vector<std::string>{"*ESE 4;*ESE?", "*IDN?"}));
    EXPECT_EQ(server.MessageLog(1), std::vector<std::string>{"*ESE?"});
    const auto state = server.State(0);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->eventEnable, 4);
    EXPECT_FALSE(server.Access(2, [](Instrument&) { ADD_FAILURE() << "no third connection"; }));
    EXPECT_FALSE(server.State(2));
}

TEST(SimTcpServer, SharedInstrumentServesConnectionsInTurn) {
    TcpOptions options;
    options.shared = true;
    TcpServer server(options);
    EXPECT_TRUE(server.Access([](Instrument& i) { i.SetFixedReply("*TST?", "7"); }));

    auto a = std::make_unique<TcpClient>(server.Port());
    EXPECT_EQ(a->Ask("*ESE 8;*TST?"), "7\r\n");
    TcpClient b(server.Port());  // waits in the listen queue
    b.Write("*ESE?\n");
    EXPECT_EQ(a->Ask("*ESE?"), "8\r\n");
    EXPECT_EQ(server.Connections(), 1u);
    a->Write("*ESE 16");  // a message cut off by the close
    a.reset();
    // The next connection finds the settings, not the leftover input.
    EXPECT_EQ(b.ReadLine(), "8\r\n");
    EXPECT_EQ(server.Connections(), 2u);
}

TEST(SimTcpServer, DeferredRepliesAndBlocksOverTheSocket) {
    TcpOptions options;
    options.instrument.operationTime = 20ms;
    TcpServer server(options);
    TcpClient c(server.Port());
    c.Write("INIT;*OPC?;DATA? 5000\n");
    EXPECT_EQ(c.ReadBytes(2 + 6 + 5000 + 2), "1;#45000" + Pattern(5000) + "\r\n");
    // A block write split over many small writes.
    const std::string message = "DATA #210\r\n\r\n\r\n\r\n\r\n;DATA:LENG?\n";
    for (char ch : message) c.Write(std::string_view(&ch, 1));
    EXPECT_EQ(c.ReadLine(), "10\r\n");
}

TEST(SimTcpServer, StopClosesEveryConnection) {
    TcpServer server;
    TcpClient a(server.Port());
    TcpClient b(server.Port());
    EXPECT_EQ(a.Ask("*IDN?"), kIdn);
    EXPECT_EQ(b.Ask("*IDN?"), kIdn);
    server.Stop();
    EXPECT_TRUE(a.HungUp());
    EXPECT_TRUE(b.HungUp());
}

TEST(SimTcpServer, RefusesAPortThatIsTaken) {
    TcpServer first;
    TcpOptions options;
    options.port = first.Port();
    EXPECT_THROW(TcpServer second(options), std::system_error);
}

}  // namespace
}  // namespace tessel::sim
