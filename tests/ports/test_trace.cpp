// SetTrace as a host uses it: the records of real transfers on a serial and
// a TCP/IP port, the line format people read, and sinks replaced while
// transfers run.
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tessel/tessel.h>
#include <tessel/sim.h>

#include "support/trace_recorder.h"

namespace tessel {
namespace {

using Clock = std::chrono::steady_clock;

using test::Recorder;
using test::Seen;

struct Opened {
    std::shared_ptr<Object> object;
    IPort* io;
};

Opened OpenSerial(const sim::PtyServer& server, int16_t number) {
    AssignSerialPort(number, server.SlavePath());
    auto object = CreateObject("Tessel.clsComm");
    auto setup = QueryInterface<IPortSetup>(object);
    setup->Settings()->Item("Comm Port")->Value(-1, -1, Variant(number));
    setup->Settings()->Item("Handshaking")->Value(-1, -1, Variant("None"));
    setup->OnLine(true);
    return {object, QueryInterface<IPort>(object).get()};
}

Opened OpenTcp(const sim::TcpServer& server) {
    auto object = CreateObject("Tessel.clsEthernet");
    auto setup = QueryInterface<IPortSetup>(object);
    setup->Settings()->Item("Remote Host")->Value(-1, -1, Variant("127.0.0.1"));
    setup->Settings()->Item("Remote Port")->Value(-1, -1, Variant(static_cast<int32_t>(server.Port())));
    setup->OnLine(true);
    return {object, QueryInterface<IPort>(object).get()};
}

const std::string kIdentity = sim::Config{}.identity;

TEST(Trace, RecordsEachTransferOfASerialQueryWithItsDevice) {
    sim::PtyServer server;
    Opened port = OpenSerial(server, 11);
    Recorder recorder;
    const auto before = Clock::now();
    EXPECT_EQ(port.io->Receive(Variant("*IDN?")), kIdentity);
    const auto after = Clock::now();
    const auto seen = recorder.Records();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().direction, TraceDirection::Sent);
    EXPECT_EQ(recorder.Joined(TraceDirection::Sent), "*IDN?\r\n");
    EXPECT_EQ(recorder.Joined(TraceDirection::Received), kIdentity + "\r\n");
    for (const auto& s : seen) {
        EXPECT_EQ(s.port, server.SlavePath());
        EXPECT_GE(s.time, before);
        EXPECT_LE(s.time, after);
    }
    AssignSerialPort(11, "");
}

TEST(Trace, RecordsTcpTransfersAsHostAndPort) {
    sim::TcpServer server;
    Opened port = OpenTcp(server);
    Recorder recorder;
    EXPECT_EQ(port.io->Receive(Variant("*IDN?")), kIdentity);
    EXPECT_EQ(recorder.Joined(TraceDirection::Sent), "*IDN?\n");
    EXPECT_EQ(recorder.Joined(TraceDirection::Received), kIdentity + "\r\n");
    for (const auto& s : recorder.Records()) EXPECT_EQ(s.port, "127.0.0.1:" + std::to_string(server.Port()));
}

TEST(Trace, AnEmptySinkTurnsItOffAndTheOldSinkHearsNoMore) {
    sim::TcpServer server;
    Opened port = OpenTcp(server);
    int calls = 0;
    SetTrace([&](const TraceRecord&) { ++calls; });
    port.io->Receive(Variant("*IDN?"));
    const int whileOn = calls;
    SetTrace(nullptr);
    port.io->Receive(Variant("*IDN?"));
    EXPECT_GE(whileOn, 2);
    EXPECT_EQ(calls, whileOn);
}

TEST(Trace, ASinkMayTurnTracingOffFromInside) {
    sim::TcpServer server;
    Opened port = OpenTcp(server);
    int calls = 0;
    SetTrace([&](const TraceRecord&) {
        ++calls;
        SetTrace(nullptr);  // destroys this very sink's holder: must not deadlock nor free it under us
    });
    EXPECT_EQ(port.io->Receive(Variant("*IDN?")), kIdentity);
    EXPECT_EQ(calls, 1);
}

// Transfers on two threads while a third keeps replacing the sink: every
// record reaches a live sink whole (the sanitizer builds watch this).
TEST(Trace, SinksReplacedWhileOtherThreadsTransfer) {
    sim::TcpServer server;
    std::atomic<bool> torn{false};
    std::atomic<bool> done{false};
    auto worker = [&] {
        Opened port = OpenTcp(server);
        for (int i = 0; i < 50; ++i)
            if (port.io->Receive(Variant("*IDN?")) != kIdentity) torn = true;
    };
    std::thread a(worker);
    std::thread b(worker);
    std::thread toggler([&] {
        for (int i = 0; !done; ++i) {
            if (i % 2 == 0) {
                SetTrace([&, tag = std::string(64, 'x')](const TraceRecord& r) {
                    if (tag.size() != 64 || r.bytes.empty()) torn = true;
                });
            } else {
                SetTrace(nullptr);
            }
            std::this_thread::yield();
        }
    });
    a.join();
    b.join();
    done = true;
    toggler.join();
    SetTrace(nullptr);
    EXPECT_FALSE(torn);
}

struct LineCase {
    TraceDirection direction;
    std::string bytes;
    std::string expected;
};

TEST(Trace, LinesQuoteTheBytesSoThatEveryByteCanBeReadBack) {
    const auto origin = Clock::now();
    const LineCase cases[] = {
        {TraceDirection::Sent, "*IDN?\r\n", "  1.500000 sent /dev/ttyUSB0 \"*IDN?\\r\\n\""},
        {TraceDirection::Received, std::string("a\"b\\c\td\0e\x7F\x80\xFF", 12),
         "  1.500000 recv /dev/ttyUSB0 \"a\\\"b\\\\c\\td\\x00e\\x7F\\x80\\xFF\""},
        {TraceDirection::Received, "", "  1.500000 recv /dev/ttyUSB0 \"\""},
    };
    for (const LineCase& c : cases) {
        const TraceRecord record{origin + std::chrono::microseconds(1500000), c.direction, "/dev/ttyUSB0", c.bytes};
        EXPECT_EQ(TraceLine(record, origin), c.expected);
    }
    EXPECT_EQ(QuotedBytes(" ~"), "\" ~\"") << "printable ASCII stays as it is";
}

}  // namespace
}  // namespace tessel
