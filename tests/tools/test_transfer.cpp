// tessel query | send | sende: ports given as one string, replies and errors
// as printed, and --trace held against the bytes that crossed the wire.
#include <sys/socket.h>
#include <netinet/in.h>
#include <termios.h>

#include <fstream>
#include <functional>
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

// A port on 127.0.0.1 where nothing listens: bound, then let go.
uint16_t RefusingPort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("bind");
    return ntohs(a.sin_port);
}

// Instruments the simulated GPIB library places as the command loads it.
class GpibInstruments {
public:
    explicit GpibInstruments(const char* places) { ::setenv(kVariable, places, 1); }
    ~GpibInstruments() { ::unsetenv(kVariable); }
    GpibInstruments(const GpibInstruments&) = delete;
    GpibInstruments& operator=(const GpibInstruments&) = delete;

private:
    static constexpr const char* kVariable = "TESSEL_GPIB_SIM_INSTRUMENTS";
};

struct Instruments {
    sim::PtyServer pty;
    sim::TcpServer tcp;
    GpibInstruments gpib{"0:12"};
};

struct TransportCase {
    const char* name;
    std::function<std::string(const Instruments&)> port;
};

void PrintTo(const TransportCase& c, std::ostream* out) { *out << c.name; }

class OverEachTransport : public testing::TestWithParam<TransportCase> {
protected:
    Instruments instruments;
    std::string Port() const { return GetParam().port(instruments); }
};

TEST_P(OverEachTransport, QueryPrintsEachReplyOnALine) {
    const Result r = RunTessel({"query", Port(), "*IDN?", "SOUR:VOLT 2;MEAS:VOLT?"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kIdentity + "\n+2.000000E+00\n");
    EXPECT_EQ(r.err, "");
}

TEST_P(OverEachTransport, SendThenQueryOnOneConnectionSeesTheCommandsEffect) {
    const Result r = RunTessel({"sende", Port(), "SOUR:VOLT 3", "MEAS:VOLT?"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "+3.000000E+00\n");
}

TEST_P(OverEachTransport, CheckedSendOfABadCommandPrintsTheWholeErrorAndFails) {
    const Result r = RunTessel({"sende", Port(), "*IDN?", "FOO", "*IDN?"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kIdentity + "\n") << "the commands after the failing one are not sent";
    EXPECT_THAT(r.err, testing::MatchesRegex("error -2147219491 \\(0x800407DD\\) from cls[A-Za-z]+\\.IPort_SendE: "
                                             "Device reports a command error\n"));
}

TEST_P(OverEachTransport, AQueryThatIsNotAnsweredTimesOutWithTheDriversError) {
    const Result r = RunTessel({"query", "--timeout", "0.2", Port(), "*CLS"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("error -2147219489 (0x800407DF) from cls"));
    EXPECT_THAT(r.err, HasSubstr(".IPort_Receive: Receive timed out after"));
}

INSTANTIATE_TEST_SUITE_P(
    Tessel, OverEachTransport,
    testing::Values(TransportCase{"serial",
                                  [](const Instruments& i) {
                                      return "serial:" + i.pty.SlavePath() + "?handshaking=none";
                                  }},
                    TransportCase{"tcp", [](const Instruments& i) { return TcpPortString(i.tcp); }},
                    TransportCase{"gpib", [](const Instruments&) { return std::string("gpib:0:12"); }}),
    [](const testing::TestParamInfo<TransportCase>& p) { return std::string(p.param.name); });

struct GpibCase {
    const char* name;
    const char* places;  // TESSEL_GPIB_SIM_INSTRUMENTS
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;  // a part of standard error; empty: nothing there at all
};

void PrintTo(const GpibCase& c, std::ostream* out) { *out << c.name; }

class Gpib : public testing::TestWithParam<GpibCase> {};

TEST_P(Gpib, ReachesTheInstrumentsTheEnvironmentPlaces) {
    const GpibCase& c = GetParam();
    GpibInstruments bus(c.places);
    const Result r = RunTessel(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    if (c.err.empty()) EXPECT_EQ(r.err, "");
    else EXPECT_THAT(r.err, HasSubstr(c.err));
}

INSTANTIATE_TEST_SUITE_P(
    Tessel, Gpib,
    testing::Values(
        GpibCase{"secondary_address_and_short_names", "1:3:96",
                 {"query", "gpib:0:5?board=1&pad=3&sad=96", "*IDN?"}, 0, kIdentity + "\n", ""},
        GpibCase{"second_instrument", "0:12,0:5", {"query", "gpib:0:5", "*IDN?"}, 0, kIdentity + "\n", ""},
        GpibCase{"nobody_at_the_address", "0:12", {"query", "gpib:0:5", "*IDN?"}, 1, "",
                 "from clsGPIB.IPortSetup_Online: No listener found at board 0, address 5\n"},
        GpibCase{"settings_by_their_own_names", "2:7", {"query", "gpib:0:1?Board=2&Primary%20Address=7", "*IDN?"},
                 0, kIdentity + "\n", ""},
        GpibCase{"wrong_items_skipped_and_named", "0:12,x,0:31,0:12:5", {"query", "gpib:0:12", "*IDN?"}, 0,
                 kIdentity + "\n", "TESSEL_GPIB_SIM_INSTRUMENTS: \"x\" is not BOARD:ADDRESS"},
        GpibCase{"out_of_range_named_too", "0:31", {"query", "gpib:0:12", "*IDN?"}, 1, "", "\"0:31\" is not"}),
    [](const testing::TestParamInfo<GpibCase>& p) { return std::string(p.param.name); });

TEST(TesselTrace, RecordsAGpibQueryUnderTheBoardAndAddress) {
    GpibInstruments bus("0:12");
    const Result r = RunTessel({"query", "--trace", "gpib:0:12", "*IDN?"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("sent GPIB0:12 \"*IDN?\\n\""));
    EXPECT_THAT(r.err, HasSubstr("recv GPIB0:12 \"" + kIdentity + "\\n\""));
}

TEST(Tessel, CtrlCEndsAQuerysWaitQuietlyAndTheCommandFails) {
    sim::TcpServer server;
    Command query({"query", "--trace", "--timeout", "5", TcpPortString(server), "*CLS", "*IDN?"});
    // *CLS has no reply; Ctrl+C once it is on the wire, so that the wait has begun.
    ASSERT_THAT(query.ErrorUntil("\"*CLS\\n\""), HasSubstr("sent"));
    query.Interrupt();
    const Result r = query.Finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "") << "nothing read is nothing printed, and *IDN? is not sent";
    EXPECT_THAT(r.err, HasSubstr("tessel: stopped by Ctrl+C"));
    EXPECT_THAT(r.err, testing::Not(HasSubstr("timed out")));
}

struct LineCase {
    const char* name;
    std::string settings;            // after "serial:DEVICE"; STOP stands for the stop bits
    std::vector<std::string> extra;  // more options, STOP likewise
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::string> SendX(const LineCase& c, const std::string& device, const std::string& stopBits) {
    std::vector<std::string> args{"send", "serial:" + device + c.settings, "X"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    for (auto& a : args)
        if (const auto at = a.find("STOP"); at != std::string::npos) a.replace(at, 4, stopBits);
    return args;
}

// Short names, the settings' own names escaped in the string, and --set all
// reach the driver under the names it defines.
class SerialSettings : public testing::TestWithParam<LineCase> {};

// A pseudo-terminal keeps only some of a line's settings; the driver's
// message for stop bits it refuses shows all four that make the line.
TEST_P(SerialSettings, ReachTheDriverAsItsLineSettings) {
    test::PseudoTerminal line;
    const Result r = RunTessel(SendX(GetParam(), line.SlavePath(), "3"));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("error 380 from MSComm: Invalid property value\n"
                                 "  settings \"19200,E,7,3\": stop bits \"3\" is not 1, 1.5 or 2"));
}

TEST_P(SerialSettings, ReachTheLine) {
    test::PseudoTerminal line;
    Command send(SendX(GetParam(), line.SlavePath(), "2"));
    const std::vector<uint8_t> wire = line.Receive(3);
    const Result r = send.Finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::string(wire.begin(), wire.end()), "X\r\n");
    termios t{};
    ASSERT_EQ(::tcgetattr(line.Master(), &t), 0);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "2 stop bits";
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "no handshaking (the driver's default is RTS/CTS)";
}

INSTANTIATE_TEST_SUITE_P(
    Tessel, SerialSettings,
    testing::Values(LineCase{"ShortNames", "?baud=19200&parity=even&databits=7&stopbits=STOP&handshaking=none", {}},
                    LineCase{"OwnNames",
                             "?Baud%20Rate=19200&PARITY=EVEN&data%20bits=7&Stop%20Bits=STOP&Handshaking=None",
                             {}},
                    LineCase{"SetOptions",
                             "?baud=9600",
                             {"--set", "Baud Rate=19200", "--set", "Parity=E", "--set", "Data Bits=7", "--set",
                              "Stop Bits=STOP", "--set", "Handshaking=0"}}),
    [](const testing::TestParamInfo<LineCase>& p) { return std::string(p.param.name); });

struct FailureCase {
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << "tessel";
    for (const auto& arg : c.args) *out << " " << arg;
}

class Failing : public testing::TestWithParam<FailureCase> {};

TEST_P(Failing, ExitsWithStatus1AndSaysWhy) {
    const Result r = RunTessel(GetParam().args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr(GetParam().message));
    EXPECT_EQ(r.out, "");
}

const std::string kRefused = "tcp:127.0.0.1:" + std::to_string(RefusingPort());

INSTANTIATE_TEST_SUITE_P(
    Tessel, Failing,
    testing::Values(
        FailureCase{{"query", kRefused, "*IDN?"}, "error 10061 from Winsock: Connection refused by 127.0.0.1:"},
        FailureCase{{"query", "serial:/dev/tessel-no-such-device", "*IDN?"}, "/dev/tessel-no-such-device"},
        FailureCase{{"query", "serial:1?speed=9600", "*IDN?"},
                    "error 5 from Tessel.Parameter: No setting named \"speed\" in \"RS232\""},
        FailureCase{{"send", "tcp:127.0.0.1:1?Baud%20Rate=9600", "x"}, "No setting named \"Baud Rate\" in \"TCP/IP\""},
        FailureCase{{"query", "--trace-file", "/nonexistent/dir/trace", kRefused, "x"},
                    "tessel: --trace-file /nonexistent/dir/trace: cannot write it: No such file or directory"}));

// ---- the trace ----

struct TracedLine {
    std::string direction;
    std::string port;
    std::string bytes;
};

std::string Unquoted(const std::string& quoted) {
    std::string out;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            out += quoted[i];
            continue;
        }
        const char c = quoted.at(++i);
        if (c == 'r') out += '\r';
        else if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == 'x') {
            out += static_cast<char>(std::stoi(quoted.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

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
        const double seconds = std::stod(m[1]);
        EXPECT_GE(seconds, last) << line;
        last = seconds;
        lines.push_back({m[2], m[3], Unquoted(m[4])});
    }
    return lines;
}

std::string Joined(const std::vector<TracedLine>& lines, const std::string& direction) {
    std::string all;
    for (const auto& l : lines)
        if (l.direction == direction) all += l.bytes;
    return all;
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
    // The reply in two pieces, the second sent only once the first is in the trace,
    // with a byte of each kind that needs an escape.
    const std::string first = std::string("A\"\\\x01", 4);
    const std::string second = std::string("\xFF\tB\r\n");
    instrument.Send(first);
    for (int i = 0; i < 500 && FileText(file).find("recv") == std::string::npos; ++i) ::usleep(10000);
    instrument.Send(second);
    const Result r = query.Finish();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "A\"\\\x01\xFF\tB\n");
    EXPECT_EQ(r.err, "") << "--trace-file writes the trace to the file only";

    const std::string text = FileText(file);
    const std::vector<TracedLine> lines = ParseTrace(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0].direction, "sent");
    EXPECT_EQ(lines[0].bytes, std::string(asked.begin(), asked.end()));
    EXPECT_EQ(lines[1].bytes, first);
    EXPECT_EQ(lines[2].bytes, second);
    for (const auto& l : lines) EXPECT_EQ(l.port, instrument.SlavePath());
    EXPECT_THAT(text, HasSubstr(R"("A\"\\\x01")")) << "the escapes as a person reads them";
    std::remove(file.c_str());
}

TEST(TesselTrace, GoesToStandardErrorForEveryTransferOfATcpCheckedSend) {
    sim::TcpServer server;
    const Result r = RunTessel({"sende", "--trace", TcpPortString(server), "*IDN?"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<TracedLine> lines = ParseTrace(r.err);
    const std::string where = "127.0.0.1:" + std::to_string(server.Port());
    for (const auto& l : lines) EXPECT_EQ(l.port, where);
    // The checked send's own traffic around the command, in the order it went.
    EXPECT_EQ(Joined(lines, "sent"), "*CLS\n*SRE 0\n*ESE 61\n*IDN?; *OPC\n*STB?\n*ESR?\n");
    EXPECT_EQ(Joined(lines, "recv"), kIdentity + "\r\n32\r\n1\r\n");
}

TEST(TesselTrace, IsSilentWithoutTheOption) {
    sim::TcpServer server;
    const Result r = RunTessel({"query", TcpPortString(server), "*IDN?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace tessel
