// The tessel command, run as a program: its exit statuses, its messages and
// a simulated instrument it serves.
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>

#include <ostream>
#include <string>
#include <vector>

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
using testing::Not;

const std::string kIdentity = sim::Config{}.identity;

// How the command ends: its status, its whole standard output, and a part of
// its standard error (none at all when empty). BUSY stands for a port in use,
// REFUSED for one where nothing listens.
struct RunCase {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    const char* gpib = "0:12";  // where the simulated GPIB library places instruments
};

// The arguments, as the test's name shows them.
void PrintTo(const RunCase& c, std::ostream* out) {
    *out << "tessel";
    for (const auto& arg : c.args) *out << " " << arg;
}

class Runs : public testing::TestWithParam<RunCase> {
protected:
    sim::TcpServer busy;
    const std::string refused = std::to_string([] { return sim::TcpServer().Port(); }());
    std::string Ports(const std::string& s) const {
        return test::Replaced(test::Replaced(s, "BUSY", std::to_string(busy.Port())), "REFUSED", refused);
    }
};

TEST_P(Runs, EndWithTheirStatusAndSayWhy) {
    const RunCase& c = GetParam();
    test::GpibInstruments bus(c.gpib);
    std::vector<std::string> args;
    for (const auto& a : c.args) args.push_back(Ports(a));
    const Result r = RunTessel(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    if (c.err.empty()) EXPECT_EQ(r.err, "");
    else EXPECT_THAT(r.err, HasSubstr(Ports(c.err)));
}

// Usage errors (status 2) are our own checks and messages; what the option
// parser refuses by itself (unknown options, values that are no number) is
// left to it.
const RunCase kRuns[] = {
    {{}, 2, "", "Subcommands:"},
    {{"frobnicate"}, 2, "", "unknown command \"frobnicate\""},
    {{"sim", "--tcp", "65536"}, 2, "", "--tcp: Value 65536 not in range 0 to 65535"},
    {{"sim", "--optime", "1e30"}, 2, "", "--optime: Value 1e30 is not a number of seconds"},
    {{"sim", "--optime", "-1"}, 2, "", "--optime"},
    {{"sim", "--terminator", "cr"}, 2, "", "--terminator"},
    {{"sim", "--shared"}, 2, "", "--shared requires --tcp"},
    {{"demo", "--terminal"}, 2, "", "--terminal requires --operator"},
    {{"online", "--port", "0"}, 2, "", "--port: Value 0 not in range 1 to 32767"},
    {{"online", "--set", "Baud Rate"}, 2, "", "--set: takes NAME=VALUE, not Baud Rate"},
    {{"query"}, 2, "", "PORT is required"},
    {{"query", "tcp:localhost:5025"}, 2, "", "COMMAND is required"},
    {{"query", "bogus:1", "x"}, 2, "", "PORT: bogus:1: a port is serial:NUMBER or serial:DEVICE, tcp:HOST:PORT"},
    {{"send", "serial", "x"}, 2, "", "PORT: serial: a port is"},
    {{"send", "serial:0", "x"}, 2, "", "\"0\" is not serial:NUMBER or serial:DEVICE"},
    {{"send", "serial:COM1", "x"}, 2, "", "\"COM1\" is not serial:NUMBER"},
    {{"query", "tcp:localhost", "x"}, 2, "", "\"localhost\" is not tcp:HOST:PORT"},
    {{"query", "tcp:localhost:0", "x"}, 2, "", "\"localhost:0\" is not tcp:HOST:PORT"},
    {{"query", "tcp:localhost:65536", "x"}, 2, "", "is not tcp:HOST:PORT"},
    {{"query", "tcp::5025", "x"}, 2, "", "\":5025\" is not tcp:HOST:PORT"},
    {{"shell", "tcp:"}, 2, "", "PORT: tcp:"},
    {{"sende", "serial:1?baud", "x"}, 2, "", "\"baud\" is not NAME=VALUE"},
    {{"sende", "serial:1?=9600", "x"}, 2, "", "\"=9600\" is not NAME=VALUE"},
    {{"query", "serial:1?Stop%2=1", "x"}, 2, "", "\"%\" must be followed by two hexadecimal digits"},
    {{"query", "serial:1?Stop%zz=1", "x"}, 2, "", "two hexadecimal digits"},
    {{"query", "--timeout", "-1", "serial:1", "x"}, 2, "",
     "--timeout: Value -1 is not a number of seconds from 0 to 1000000"},
    {{"query", "gpib:12", "x"}, 2, "", "\"12\" is not gpib:BOARD:ADDRESS[:SECONDARY]"},
    {{"query", "gpib:4:12", "x"}, 2, "", "\"4:12\" is not gpib:BOARD:ADDRESS"},
    {{"send", "gpib:0:31", "x"}, 2, "", "\"0:31\" is not gpib:"},
    {{"sende", "gpib:0:12:95", "x"}, 2, "", "\"0:12:95\" is not gpib:"},
    {{"shell", "gpib:0:12:127"}, 2, "", "\"0:12:127\" is not gpib:"},
    {{"query", "gpib:0:x", "x"}, 2, "", "\"0:x\" is not gpib:"},
    {{"call"}, 2, "", "CLASS is required"},
    {{"call", "--get", "--let", "clsTimeout", "State"}, 2, "", "--get excludes --let"},
    {{"call", "--set", "Remote Host", "clsEthernet", "StateString"}, 2, "", "--set: takes NAME=VALUE"},
    // Failures (status 1) name the option or the driver's error.
    {{"query", "tcp:127.0.0.1:REFUSED", "*IDN?"}, 1, "",
     "error 10061 from Winsock: Connection refused by 127.0.0.1:REFUSED"},
    {{"query", "serial:/dev/tessel-no-such-device", "*IDN?"}, 1, "", "/dev/tessel-no-such-device"},
    {{"query", "serial:1?speed=9600", "*IDN?"}, 1, "",
     "error 5 from Tessel.Parameter: No setting named \"speed\" in \"RS232\""},
    {{"send", "tcp:127.0.0.1:1?Baud%20Rate=9600", "x"}, 1, "", "No setting named \"Baud Rate\" in \"TCP/IP\""},
    {{"online", "--set", "Speed=9600"}, 1, "", "from Tessel.Parameter: No setting named \"Speed\""},
    {{"sim", "--tcp", "BUSY"}, 1, "", "--tcp BUSY: cannot listen on 127.0.0.1:BUSY: Address already in use"},
    {{"query", "--trace-file", "/nonexistent/dir/trace", "tcp:127.0.0.1:REFUSED", "x"}, 1, "",
     "tessel: --trace-file /nonexistent/dir/trace: cannot write it: No such file or directory"},
    // GPIB instruments where the environment places them.
    {{"query", "gpib:0:5?board=1&pad=3&sad=96", "*IDN?"}, 0, kIdentity + "\n", "", "1:3:96"},
    {{"query", "gpib:0:5", "*IDN?"}, 0, kIdentity + "\n", "", "0:12,0:5"},
    {{"query", "gpib:0:5", "*IDN?"}, 1, "",
     "from clsGPIB.IPortSetup_Online: No listener found at board 0, address 5\n"},
    {{"query", "gpib:0:1?Board=2&Primary%20Address=7", "*IDN?"}, 0, kIdentity + "\n", "", "2:7"},
    {{"query", "gpib:0:12", "*IDN?"}, 0, kIdentity + "\n", "TESSEL_GPIB_SIM_INSTRUMENTS: \"x\" is not BOARD:ADDRESS",
     "0:12,x,0:31,0:12:5"},
    {{"query", "gpib:0:12", "*IDN?"}, 1, "", "\"0:31\" is not", "0:31"},
    {{"query", "--trace", "gpib:0:12", "*IDN?"}, 0, kIdentity + "\n", "recv GPIB0:12 \"" + kIdentity + "\\n\""},
    // Members reached by name, with the late-bound rules and errors.
    {{"call", "clsComm", "GetMsCommErrorDescription", "8002"}, 0, "Invalid Port Number\n", ""},
    {{"call", "Tessel.clsEthernet", "statestring"}, 0, "Closed\n", ""},
    {{"call", "--set", "Remote Port=5025", "clsEthernet", "--get", "IPort_TimeOut"}, 0, "1\n", ""},
    {{"call", "clsTimeout", "--let", "Interval", "2.5"}, 0, "", ""},
    {{"call", "clsComm", "IPort_SendE", "*RST"}, 1, "", "error 438 from Tessel"},
    {{"call", "clsNothing", "Start"}, 1, "", "error 429"},
    {{"call", "--set", "Speed=1", "clsEthernet", "StateString"}, 1, "", "Speed"},
};

INSTANTIATE_TEST_SUITE_P(Tessel, Runs, testing::ValuesIn(kRuns));

TEST(Tessel, HelpListsTheSubcommandsAndEachSubcommandItsOptions) {
    const Result all = RunTessel({"--help"});
    EXPECT_EQ(all.status, 0);
    for (const char* name : {"demo", "sim", "ports", "settings", "online", "query", "send", "sende", "shell", "call"})
        EXPECT_THAT(all.out, HasSubstr(name));
    EXPECT_THAT(RunTessel({"sim", "-h"}).out, testing::AllOf(HasSubstr("--optime"), Not(HasSubstr("--device"))));
    EXPECT_THAT(RunTessel({"online", "--help"}).out, HasSubstr("--device"));
    for (const char* name : {"query", "send", "sende", "shell"}) {
        const Result r = RunTessel({name, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_THAT(r.out, testing::AllOf(HasSubstr("tcp:HOST:PORT"), HasSubstr("--trace-file"))) << name;
    }
}

TEST(Tessel, DemoPointsToTheOperatorConsoleWithoutWaitingForAPerson) {
    const Result r = RunTessel({"demo"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, testing::AllOf(HasSubstr("tessel demo --operator"), Not(HasSubstr("OK/Cancel"))));
}

// The operator played on the command's controlling terminal.
TEST(Tessel, DemoOperatorOnTheTerminalTakesTheAnswersTyped) {
    ::unsetenv("DISPLAY");  // no window to fall back on
    Command demo({"demo", "--operator", "--terminal"}, Command::kTerminal);
    demo.OutputUntil("Esc = Cancel) ");
    demo.Press("\r");
    demo.OutputUntil("Voltage at TP4?\r\n> ");
    demo.Press("1.25\r");
    const Result r = demo.Finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("-> OK   (Status 256, Count 39, Error 0)"));
    EXPECT_THAT(r.out, HasSubstr("-> \"1.25\"   (Status 256, Count 4, Error 0)"));
}

// Sends a line to 127.0.0.1:port and returns the reply up to its first LF.
std::string Ask(uint16_t port, const std::string& line) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return "no connection";
    std::string reply;
    char c;
    while (reply.find('\n') == std::string::npos && test::WaitReadable(fd.get(), test::kGuard) &&
           ::read(fd.get(), &c, 1) == 1)
        reply += c;
    return reply;
}

TEST(Tessel, SimServesOverTcpUntilCtrlC) {
    Command sim({"sim", "--tcp", "0", "--terminator", "lf", "--optime", "never"});
    const std::string out = sim.OutputUntil("serving until Ctrl+C");
    const auto at = out.find("tcp: 127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << out;
    const auto port = static_cast<uint16_t>(std::stoi(out.substr(at + 15)));
    EXPECT_EQ(Ask(port, "*IDN?\n"), "Tessel,SIM-488,0,1.0\n");
    EXPECT_EQ(Ask(port, "SYST:OPT?\n"), "+9.900000E+37\n");
    sim.Interrupt();
    const Result r = sim.Finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("stopped"));
    EXPECT_THAT(r.out, Not(HasSubstr("serial:"))) << "--tcp alone serves no pseudo-terminal";
}

TEST(Tessel, OnlineOpensTheDeviceItIsGivenWithTheSettingsAsked) {
    test::PseudoTerminal line;
    const Result r = RunTessel({"online", "--port", "7", "--device", line.SlavePath(), "--set", "Baud Rate=19200",
                                "--set", "Handshaking=None"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("COM7 (" + line.SlavePath() + ") is on-line: 19200,N,8,1, handshaking 0"));
    termios t{};
    ASSERT_EQ(::tcgetattr(line.Master(), &t), 0);
    EXPECT_EQ(t.c_lflag & ICANON, 0u) << "the driver left the terminal in raw mode: it opened this device";
}

}  // namespace
}  // namespace tessel
