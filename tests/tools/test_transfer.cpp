// tessel query | send | sende: ports given as one string, replies and errors
// as printed, and --trace held against the bytes that crossed the wire.
#include <termios.h>

#include <fstream>
#include <regex>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tessel/sim.h>

#include "command.h"
#include "support/pty.h"

namespace tessel {
namespace {

using test::Command;
using test::Result;
using test::RunTessel;
using testing::HasSubstr;

const std::string kIdentity = sim::Config{}.identity;

std::string TcpPortString(const sim::TcpServer& server) { return "tcp:127.0.0.1:" + std::to_string(server.Port()); }

class OverEachTransport : public testing::TestWithParam<std::string> {
protected:
    std::string Port() const {
        if (GetParam() == "serial") return "serial:" + pty.SlavePath() + "?handshaking=none";
        return GetParam() == "tcp" ? TcpPortString(tcp) : "gpib:0:12";
    }
    sim::PtyServer pty;
    sim::TcpServer tcp;
    test::GpibInstruments gpib{"0:12"};
};

TEST_P(OverEachTransport, QueryPrintsEachReplyOnALine) {
    const Result r = RunTessel({"query", Port(), "*IDN?", "SOUR:VOLT 2;MEAS:VOLT?"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kIdentity + "\n+2.000000E+00\n");
    EXPECT_EQ(r.err, "") << "no trace without the option";
}

// One connection for all the commands, up to the first that fails.
TEST_P(OverEachTransport, CheckedSendPrintsRepliesUntilABadCommandThenItsWholeError) {
    const Result r = RunTessel({"sende", Port(), "SOUR:VOLT 3", "MEAS:VOLT?", "FOO", "*IDN?"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "+3.000000E+00\n") << "the commands after the failing one are not sent";
    EXPECT_THAT(r.err, testing::MatchesRegex("error -2147219491 \\(0x800407DD\\) from cls[A-Za-z]+\\.IPort_SendE: "
                                             "Device reports a command error\n"));
}

TEST_P(OverEachTransport, AQueryThatIsNotAnsweredTimesOutWithTheDriversError) {
    const Result r = RunTessel({"query", "--timeout", "0.2", Port(), "*CLS"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, testing::ContainsRegex("error -2147219489 \\(0x800407DF\\) from cls[A-Za-z]+\\.IPort_Receive: "
                                              "Receive timed out after"));
}

INSTANTIATE_TEST_SUITE_P(Tessel, OverEachTransport, testing::Values("serial", "tcp", "gpib"),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

TEST(Tessel, CtrlCEndsAQuerysWaitQuietlyAndTheCommandFails) {
    sim::TcpServer server;
    Command query({"query", "--trace", "--timeout", "5", TcpPortString(server), "*CLS", "*IDN?"});
    // *CLS has no reply; Ctrl+C once it is on the wire, so that the wait has begun.
    ASSERT_THAT(query.ErrorUntil("\"*CLS\\n\""), HasSubstr("sent"));
    query.Interrupt();
    const Result r = query.Finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "") << "nothing read is nothing printed, and *IDN? is not sent";
    EXPECT_THAT(r.err, testing::AllOf(HasSubstr("tessel: stopped by Ctrl+C"), testing::Not(HasSubstr("timed out"))));
}

// Short names, the settings' own names escaped in the string, and --set all
// reach the driver under the names it defines. STOP stands for the stop bits,
// DEVICE for the line's path.
class SerialSettings : public testing::TestWithParam<std::vector<std::string>> {
protected:
    std::vector<std::string> SendX(const std::string& stopBits) {
        std::vector<std::string> args;
        for (const auto& a : GetParam())
            args.push_back(test::Replaced(test::Replaced(a, "STOP", stopBits), "DEVICE", line.SlavePath()));
        return args;
    }
    test::PseudoTerminal line;
};

// A pseudo-terminal keeps only some of a line's settings; the driver's
// message for stop bits it refuses shows all four that make the line.
TEST_P(SerialSettings, ReachTheDriverAsItsLineSettings) {
    const Result r = RunTessel(SendX("3"));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("error 380 from MSComm: Invalid property value\n"
                                 "  settings \"19200,E,7,3\": stop bits \"3\" is not 1, 1.5 or 2"));
}

TEST_P(SerialSettings, ReachTheLine) {
    Command send(SendX("2"));
    const std::vector<uint8_t> wire = line.Receive(3);
    const Result r = send.Finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::string(wire.begin(), wire.end()), "X\r\n");
    termios t{};
    ASSERT_EQ(::tcgetattr(line.Master(), &t), 0);
    EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB))
        << "2 stop bits, no handshaking (the driver's default is RTS/CTS)";
}

using Args = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Tessel, SerialSettings,
    testing::Values(Args{"send", "serial:DEVICE?baud=19200&parity=even&databits=7&stopbits=STOP&handshaking=none", "X"},
                    Args{"send", "serial:DEVICE?Baud%20Rate=19200&PARITY=EVEN&data%20bits=7&Stop%20Bits=STOP"
                                 "&Handshaking=None", "X"},
                    Args{"send", "serial:DEVICE?baud=9600", "X", "--set", "Baud Rate=19200", "--set", "Parity=E",
                         "--set", "Data Bits=7", "--set", "Stop Bits=STOP", "--set", "Handshaking=0"}));

// ---- the trace ----

struct TracedLine {
    std::string direction;
    std::string port;
    std::string bytes;  // as the trace shows them, escaped
};

// Every line must be a trace line; times must not go back.
std::vector<TracedLine> ParseTrace(const std::string& text) {
    static const std::regex kLine(R"re( *(\d+\.\d{6}) (sent|recv) (\S+) "(.*)")re");
    std::vector<TracedLine> lines;
    double last = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, kLine)) << line;
        if (m.empty()) continue;
        EXPECT_GE(std::stod(m[1]), last) << line;
        last = std::stod(m[1]);
        lines.push_back({m[2], m[3], m[4]});
    }
    return lines;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TesselTrace, LinesHoldTheBytesOnTheWireInEachPieceTheyArrived) {
    test::PseudoTerminal instrument;
    const std::string file = testing::TempDir() + "tessel-trace-" + std::to_string(::getpid());
    Command query({"query", "--trace-file", file, "serial:" + instrument.SlavePath() + "?handshaking=none", "Q?"});
    const std::vector<uint8_t> asked = instrument.Receive(4);
    EXPECT_EQ(std::string(asked.begin(), asked.end()), "Q?\r\n");
    // The reply in two pieces, the second sent only once the first is in the trace,
    // with a byte of each kind that needs an escape.
    instrument.Send(std::string("A\"\\\x01", 4));
    for (int i = 0; i < 500 && FileText(file).find("recv") == std::string::npos; ++i) ::usleep(10000);
    instrument.Send("\xFF\tB\r\n");
    const Result r = query.Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "A\"\\\x01\xFF\tB\n");
    EXPECT_EQ(r.err, "") << "--trace-file writes the trace to the file only";

    const std::string text = FileText(file);
    const std::vector<TracedLine> lines = ParseTrace(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0].direction, "sent");
    EXPECT_EQ(lines[0].bytes, R"(Q?\r\n)");
    EXPECT_EQ(lines[1].bytes, R"(A\"\\\x01)");
    EXPECT_EQ(lines[2].bytes, R"(\xFF\tB\r\n)");
    for (const auto& l : lines) EXPECT_EQ(l.port, instrument.SlavePath());
    std::remove(file.c_str());
}

TEST(TesselTrace, GoesToStandardErrorForEveryTransferOfATcpCheckedSend) {
    sim::TcpServer server;
    const Result r = RunTessel({"sende", "--trace", TcpPortString(server), "*IDN?"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string sent, received;
    for (const auto& l : ParseTrace(r.err)) {
        EXPECT_EQ(l.port, "127.0.0.1:" + std::to_string(server.Port()));
        (l.direction == "sent" ? sent : received) += l.bytes;
    }
    // The checked send's own traffic around the command, in the order it went.
    EXPECT_EQ(sent, R"(*CLS\n*SRE 0\n*ESE 61\n*IDN?; *OPC\n*STB?\n*ESR?\n)");
    EXPECT_EQ(received, kIdentity + R"(\r\n32\r\n1\r\n)");
}

}  // namespace
}  // namespace tessel
