// SetTrace as a host uses it: the records of real transfers on a serial and
// a TCP/IP port, the line format people read, and sinks replaced while
// transfers run.
#include <atomic>
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

// The port online; it holds the driver object.
std::shared_ptr<IPort> Open(const char* programId, std::initializer_list<std::pair<const char*, Variant>> settings) {
    auto object = CreateObject(programId);
    auto setup = QueryInterface<IPortSetup>(object);
    for (const auto& [name, value] : settings) setup->Settings()->Item(name)->Value(-1, -1, value);
    setup->OnLine(true);
    return QueryInterface<IPort>(object);
}

std::shared_ptr<IPort> OpenTcp(const sim::TcpServer& server) {
    return Open("Tessel.clsEthernet", {{"Remote Host", "127.0.0.1"}, {"Remote Port", int32_t{server.Port()}}});
}

const std::string kIdentity = sim::Config{}.identity;

TEST(Trace, RecordsEachTransferOfAQueryWithItsDeviceAndTime) {
    sim::PtyServer pty;
    sim::TcpServer tcp;
    AssignSerialPort(11, pty.SlavePath());
    const struct {
        std::shared_ptr<IPort> port;
        std::string device, sentEnd;
    } cases[] = {
        {Open("Tessel.clsComm", {{"Comm Port", int16_t{11}}, {"Handshaking", "None"}}), pty.SlavePath(), "\r\n"},
        {OpenTcp(tcp), "127.0.0.1:" + std::to_string(tcp.Port()), "\n"},
    };
    for (const auto& c : cases) {
        Recorder recorder;
        const auto before = Clock::now();
        EXPECT_EQ(c.port->Receive(Variant("*IDN?")), kIdentity);
        const auto after = Clock::now();
        const auto seen = recorder.Records();
        EXPECT_EQ(seen.at(0).direction, TraceDirection::Sent);
        EXPECT_EQ(recorder.Joined(TraceDirection::Sent), "*IDN?" + c.sentEnd);
        EXPECT_EQ(recorder.Joined(TraceDirection::Received), kIdentity + "\r\n");
        for (const auto& s : seen) {
            EXPECT_EQ(s.port, c.device);
            EXPECT_GE(s.time, before);
            EXPECT_LE(s.time, after);
        }
    }
    AssignSerialPort(11, "");
}

TEST(Trace, AnEmptySinkTurnsItOffEvenFromInsideASink) {
    sim::TcpServer server;
    auto port = OpenTcp(server);
    int calls = 0;
    SetTrace([&](const TraceRecord&) { ++calls; });
    port->Receive(Variant("*IDN?"));
    const int whileOn = calls;
    SetTrace(nullptr);
    port->Receive(Variant("*IDN?"));
    EXPECT_GE(whileOn, 2);
    EXPECT_EQ(calls, whileOn) << "the old sink hears no more";
    SetTrace([&](const TraceRecord&) {
        ++calls;
        SetTrace(nullptr);  // destroys this very sink's holder: must not deadlock nor free it under us
    });
    EXPECT_EQ(port->Receive(Variant("*IDN?")), kIdentity);
    EXPECT_EQ(calls, whileOn + 1);
}

// Transfers on two threads while a third keeps replacing the sink: every
// record reaches a live sink whole (the sanitizer builds watch this).
TEST(Trace, SinksReplacedWhileOtherThreadsTransfer) {
    sim::TcpServer server;
    std::atomic<bool> torn{false}, done{false};
    auto worker = [&] {
        auto port = OpenTcp(server);
        for (int i = 0; i < 50; ++i)
            if (port->Receive(Variant("*IDN?")) != kIdentity) torn = true;
    };
    std::thread a(worker), b(worker);
    std::thread toggler([&] {
        for (int i = 0; !done; ++i, std::this_thread::yield()) {
            if (i % 2) SetTrace(nullptr);
            else SetTrace([&, tag = std::string(64, 'x')](const TraceRecord& r) {
                if (tag.size() != 64 || r.bytes.empty()) torn = true;
            });
        }
    });
    a.join();
    b.join();
    done = true;
    toggler.join();
    SetTrace(nullptr);
    EXPECT_FALSE(torn);
}

TEST(Trace, LinesQuoteTheBytesSoThatEveryByteCanBeReadBack) {
    const auto origin = Clock::now();
    const std::tuple<TraceDirection, std::string, std::string> cases[] = {
        {TraceDirection::Sent, "*IDN?\r\n", "  1.500000 sent /dev/ttyUSB0 \"*IDN?\\r\\n\""},
        {TraceDirection::Received, std::string("a\"b\\c\td\0e\x7F\x80\xFF", 12),
         "  1.500000 recv /dev/ttyUSB0 \"a\\\"b\\\\c\\td\\x00e\\x7F\\x80\\xFF\""},
        {TraceDirection::Received, "", "  1.500000 recv /dev/ttyUSB0 \"\""},
    };
    const auto at = origin + std::chrono::microseconds(1500000);
    for (const auto& [direction, bytes, line] : cases)
        EXPECT_EQ(TraceLine({at, direction, "/dev/ttyUSB0", bytes}, origin), line);
    EXPECT_EQ(QuotedBytes(" ~"), "\" ~\"") << "printable ASCII stays as it is";
}

}  // namespace
}  // namespace tessel
