// The tessel command, run as a program: its exit statuses, its messages and
// a simulated instrument it serves.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "command.h"
#include "ports/unique_fd.h"

namespace tessel {
namespace {

using namespace std::chrono_literals;
using test::Command;
using test::Result;
using test::RunTessel;
using test::kGuard;
using testing::HasSubstr;
using testing::Not;

// A listening socket on 127.0.0.1 that keeps its port busy.
struct BusyPort {
    BusyPort() {
        fd.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd.get(), 1) != 0 ||
            ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("listener");
        port = ntohs(a.sin_port);
    }
    UniqueFd fd;
    uint16_t port = 0;
};

struct UsageCase {
    std::vector<std::string> args;
    std::string message;  // part of what the command says on stderr
};

// The arguments, as the test's name shows them.
void PrintTo(const UsageCase& c, std::ostream* out) {
    *out << "tessel";
    for (const auto& arg : c.args) *out << " " << arg;
}

class Usage : public testing::TestWithParam<UsageCase> {};

TEST_P(Usage, IsRefusedWithStatus2AndAMessageNamingTheOption) {
    const Result r = RunTessel(GetParam().args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_THAT(r.err, HasSubstr(GetParam().message));
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Tessel, Usage,
    testing::Values(UsageCase{{}, "Subcommands:"}, UsageCase{{"frobnicate"}, "frobnicate"},
                    UsageCase{{"sim", "--tcp", "70000"}, "--tcp: Value 70000 not in range 0 to 65535"},
                    UsageCase{{"sim", "--tcp", "65536"}, "--tcp: Value 65536 not in range"},
                    UsageCase{{"sim", "--tcp", "-1"}, "--tcp"}, UsageCase{{"sim", "--tcp", "abc"}, "--tcp"},
                    UsageCase{{"sim", "--tcp"}, "--tcp"},
                    UsageCase{{"sim", "--optime", "1e30"}, "--optime: Value 1e30 is not a number of seconds"},
                    UsageCase{{"sim", "--optime", "-1"}, "--optime"},
                    UsageCase{{"sim", "--terminator", "cr"}, "--terminator"},
                    UsageCase{{"sim", "--shared"}, "--shared requires --tcp"},
                    UsageCase{{"sim", "--bogus"}, "--bogus"}, UsageCase{{"demo", "extra"}, "extra"},
                    UsageCase{{"demo", "--terminal"}, "--terminal requires --operator"},
                    UsageCase{{"online", "--port", "0"}, "--port: Value 0 not in range 1 to 32767"},
                    UsageCase{{"online", "--port", "COM1"}, "--port"},
                    UsageCase{{"online", "--set", "Baud Rate"}, "--set: takes NAME=VALUE, not Baud Rate"},
                    UsageCase{{"query"}, "PORT is required"},
                    UsageCase{{"query", "tcp:localhost:5025"}, "COMMAND is required"},
                    UsageCase{{"query", "bogus:1", "x"},
                              "PORT: bogus:1: a port is serial:NUMBER or serial:DEVICE, tcp:HOST:PORT"},
                    UsageCase{{"send", "serial", "x"}, "PORT: serial: a port is"},
                    UsageCase{{"send", "serial:0", "x"}, "\"0\" is not serial:NUMBER or serial:DEVICE"},
                    UsageCase{{"send", "serial:COM1", "x"}, "\"COM1\" is not serial:NUMBER"},
                    UsageCase{{"query", "tcp:localhost", "x"}, "\"localhost\" is not tcp:HOST:PORT"},
                    UsageCase{{"query", "tcp:localhost:0", "x"}, "\"localhost:0\" is not tcp:HOST:PORT"},
                    UsageCase{{"query", "tcp:localhost:65536", "x"}, "is not tcp:HOST:PORT"},
                    UsageCase{{"query", "tcp::5025", "x"}, "\":5025\" is not tcp:HOST:PORT"},
                    UsageCase{{"sende", "serial:1?baud", "x"}, "\"baud\" is not NAME=VALUE"},
                    UsageCase{{"sende", "serial:1?=9600", "x"}, "\"=9600\" is not NAME=VALUE"},
                    UsageCase{{"query", "serial:1?Stop%2=1", "x"}, "\"%\" must be followed by two hexadecimal digits"},
                    UsageCase{{"query", "serial:1?Stop%zz=1", "x"}, "two hexadecimal digits"},
                    UsageCase{{"query", "--timeout", "-1", "serial:1", "x"},
                              "--timeout: Value -1 is not a number of seconds from 0 to 1000000"},
                    UsageCase{{"query", "--timeout", "soon", "serial:1", "x"}, "--timeout"},
                    UsageCase{{"query", "--set", "Baud Rate", "serial:1", "x"}, "--set: takes NAME=VALUE"},
                    UsageCase{{"shell", "tcp:"}, "PORT: tcp:"},
                    UsageCase{{"query", "gpib:12", "x"}, "\"12\" is not gpib:BOARD:ADDRESS[:SECONDARY]"},
                    UsageCase{{"query", "gpib:4:12", "x"}, "\"4:12\" is not gpib:BOARD:ADDRESS"},
                    UsageCase{{"send", "gpib:0:31", "x"}, "\"0:31\" is not gpib:"},
                    UsageCase{{"sende", "gpib:0:12:95", "x"}, "\"0:12:95\" is not gpib:"},
                    UsageCase{{"shell", "gpib:0:12:127"}, "\"0:12:127\" is not gpib:"},
                    UsageCase{{"query", "gpib:0:x", "x"}, "\"0:x\" is not gpib:"},
                    UsageCase{{"query", "gpib:0:12?pad", "x"}, "\"pad\" is not NAME=VALUE"},
                    UsageCase{{"shell", "serial:1", "extra"}, "extra"},
                    UsageCase{{"ports", "--trace-file"}, "--trace-file"},
                    UsageCase{{"demo", "--trace", "extra"}, "extra"}, UsageCase{{"call"}, "CLASS is required"},
                    UsageCase{{"call", "clsTimeout"}, "MEMBER is required"},
                    UsageCase{{"call", "--get", "--let", "clsTimeout", "State"}, "--get excludes --let"},
                    UsageCase{{"call", "--set", "Remote Host", "clsEthernet", "StateString"}, "--set: takes NAME=VALUE"}));

TEST(Tessel, HelpListsTheSubcommandsAndEachSubcommandItsOptions) {
    const Result all = RunTessel({"--help"});
    EXPECT_EQ(all.status, 0);
    for (const char* name : {"demo", "sim", "ports", "settings", "online", "query", "send", "sende", "shell", "call"})
        EXPECT_THAT(all.out, HasSubstr(name));
    const Result sim = RunTessel({"sim", "-h"});
    EXPECT_EQ(sim.status, 0);
    EXPECT_THAT(sim.out, HasSubstr("--optime"));
    EXPECT_THAT(sim.out, Not(HasSubstr("--device")));
    EXPECT_THAT(RunTessel({"online", "--help"}).out, HasSubstr("--device"));
    for (const char* name : {"query", "send", "sende", "shell"}) {
        const Result r = RunTessel({name, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_THAT(r.out, HasSubstr("tcp:HOST:PORT")) << name;
        EXPECT_THAT(r.out, HasSubstr("--trace-file")) << name;
    }
}

TEST(Tessel, CallReachesMembersByNameWithTheLateBoundRulesAndErrors) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"call", "clsComm", "GetMsCommErrorDescription", "8002"}, 0, "Invalid Port Number\n", ""},
        {{"call", "Tessel.clsEthernet", "statestring"}, 0, "Closed\n", ""},
        {{"call", "--set", "Remote Port=5025", "clsEthernet", "--get", "IPort_TimeOut"}, 0, "1\n", ""},
        {{"call", "clsTimeout", "--let", "Interval", "2.5"}, 0, "", ""},
        {{"call", "clsComm", "IPort_SendE", "*RST"}, 1, "",
         "error 438 from Tessel: Object doesn't support this property or method"},
        {{"call", "clsComm", "GetMsCommErrorDescription"}, 1, "", "error 449"},
        {{"call", "clsComm", "GetMsCommErrorDescription", "eight"}, 1, "", "error 13"},
        {{"call", "clsNothing", "Start"}, 1, "", "error 429"},
        {{"call", "--set", "Speed=1", "clsEthernet", "StateString"}, 1, "", "Speed"},
    };
    for (const Case& c : cases) {
        const Result r = RunTessel(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[2] << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[2];
        EXPECT_THAT(r.err, HasSubstr(c.err)) << c.args[2];
    }
}

TEST(Tessel, DemoPointsToTheOperatorConsoleWithoutWaitingForAPerson) {
    const Result r = RunTessel({"demo"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("tessel demo --operator"));
    EXPECT_THAT(r.out, Not(HasSubstr("OK/Cancel")));
}

// The operator played on the command's controlling terminal.
TEST(Tessel, DemoOperatorOnTheTerminalTakesTheAnswersTyped) {
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::unsetenv("DISPLAY");
        ::execl(TESSEL_COMMAND, TESSEL_COMMAND, "demo", "--operator", "--terminal", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    UniqueFd terminal(master);
    std::string seen;
    auto readUntil = [&](const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            seen.append(buf, static_cast<std::size_t>(n));
        }
    };
    readUntil("Esc = Cancel) ");
    ASSERT_EQ(::write(master, "\r", 1), 1);
    readUntil("Voltage at TP4?\r\n> ");
    ASSERT_EQ(::write(master, "1.25\r", 5), 5);
    readUntil("(Status 256, Count 4, Error 0)");
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_THAT(seen, HasSubstr("-> OK   (Status 256, Count 39, Error 0)"));
    EXPECT_THAT(seen, HasSubstr("-> \"1.25\"   (Status 256, Count 4, Error 0)"));
}

TEST(Tessel, APortInUseIsAFailureNamingTheOptionAndThePort) {
    BusyPort busy;
    const std::string port = std::to_string(busy.port);
    const Result r = RunTessel({"sim", "--tcp", port});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("--tcp " + port + ": cannot listen on 127.0.0.1:" + port + ": Address already in use"));
}

TEST(Tessel, AnUnknownSettingFailsWithTheSettingsOwnError) {
    const Result r = RunTessel({"online", "--set", "Speed=9600"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("from Tessel.Parameter: No setting named \"Speed\""));
}

// Sends a line to 127.0.0.1:port and returns the first line of the reply.
std::string Ask(uint16_t port, const std::string& line) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return "connect failed";
    if (::write(fd.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "write failed";
    std::string reply;
    char c;
    pollfd p{fd.get(), POLLIN, 0};
    while (reply.find('\n') == std::string::npos && ::poll(&p, 1, 10000) == 1 && ::read(fd.get(), &c, 1) == 1)
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
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    UniqueFd m(master);
    UniqueFd s(slave);
    char name[64];
    ASSERT_EQ(::ttyname_r(slave, name, sizeof name), 0);
    const Result r = RunTessel({"online", "--port", "7", "--device", name, "--set", "Baud Rate=19200", "--set",
                          "Handshaking=None"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("COM7 (" + std::string(name) + ") is on-line: 19200,N,8,1, handshaking 0"));
    termios t{};
    ASSERT_EQ(::tcgetattr(master, &t), 0);
    EXPECT_EQ(t.c_lflag & ICANON, 0u) << "the driver left the terminal in raw mode: it opened this device";
}

}  // namespace
}  // namespace tessel
