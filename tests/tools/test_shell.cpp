// tessel shell driven through a pseudo-terminal, as a person at a terminal
// drives it: the terminal's own Ctrl+C and Ctrl+D, line by line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tessel/sim.h>

#include "command.h"

namespace tessel {
namespace {

using test::Command;
using testing::HasSubstr;
using testing::Not;

const std::string kIdentity = sim::Config{}.identity;

TEST(TesselShell, CtrlCEndsAFiveSecondWaitAndTheShellGoesOnUntilCtrlD) {
    sim::TcpServer server;
    const std::string port = "tcp:127.0.0.1:" + std::to_string(server.Port());
    const std::string prompt = "tessel " + port + "> ";
    Command shell({"shell", "--trace", port}, Command::kTerminal);
    shell.OutputUntil(prompt);
    EXPECT_THAT(shell.Enter("timeout 5", prompt), HasSubstr("5 s"));
    // *CLS has no reply: the query would wait its 5 seconds. Ctrl+C once the
    // command is on the wire, so that the wait has begun.
    EXPECT_THAT(shell.Enter("query *CLS", "\"*CLS\\n\""), HasSubstr("sent"));
    shell.Press("\x03");
    const std::string stopped = shell.OutputUntil(prompt);
    EXPECT_THAT(stopped, HasSubstr("stopped"));
    EXPECT_THAT(stopped, Not(HasSubstr("timed out")));
    EXPECT_THAT(shell.Enter("query *IDN?", prompt), HasSubstr(kIdentity + "\r\n"));
    shell.Type("\x04");
    EXPECT_EQ(shell.Finish().status, 0);
}

TEST(TesselShell, AFailingCommandLeavesTheSessionAsItWas) {
    sim::PtyServer serial;
    sim::TcpServer tcp;
    const std::string serialPort = "serial:" + serial.SlavePath() + "?handshaking=none";
    const std::string tcpPort = "tcp:127.0.0.1:" + std::to_string(tcp.Port());
    Command shell({"shell"}, Command::kTerminal);
    shell.OutputUntil("tessel> ");
    EXPECT_THAT(shell.Enter("query *IDN?"), HasSubstr("no port is open; open one with: open PORT"));
    EXPECT_THAT(shell.Enter("open tcp:nowhere"), HasSubstr("\"nowhere\" is not tcp:HOST:PORT"));
    EXPECT_THAT(shell.Enter("frobnicate"), HasSubstr("unknown command \"frobnicate\""));
    shell.Enter("open " + serialPort, "tessel " + serialPort + "> ");
    shell.Enter("open " + tcpPort, "tessel " + tcpPort + "> ");
    EXPECT_THAT(shell.Enter("sende FOO"), HasSubstr("from clsEthernet.IPort_SendE: Device reports a command error"));
    EXPECT_THAT(shell.Enter("ports"), testing::AllOf(HasSubstr("  1 " + serialPort), HasSubstr("* 2 " + tcpPort)));
    shell.Enter("use 1", "tessel " + serialPort + "> ");
    EXPECT_THAT(shell.Enter("set Stop Bits=3"), HasSubstr("error 380 from MSComm: Invalid property value"));
    EXPECT_THAT(shell.Enter("get Stop Bits"), HasSubstr("1\r\n")) << "a setting the port refused is taken back";
    shell.Enter("set Stop Bits=2");
    EXPECT_THAT(shell.Enter("get stop bits"), HasSubstr("2\r\n"));
    shell.Enter("sende SOUR:VOLT 4");
    EXPECT_THAT(shell.Enter("query MEAS:VOLT?"), HasSubstr("+4.000000E+00"));
    shell.Type("quit\r");
    EXPECT_EQ(shell.Finish().status, 0);
}

TEST(TesselShell, AScriptEndsAtItsFirstFailingCommandWithStatusOne) {
    sim::TcpServer server;
    const std::string port = "tcp:127.0.0.1:" + std::to_string(server.Port());
    for (const auto& failing : {std::string("sende FOO"), std::string("frobnicate")}) {
        SCOPED_TRACE(failing);
        Command script({"shell", port}, Command::kPipes,
                       "query *IDN?\n" + failing + "\nsend SOUR:VOLT 3\nquery *IDN?\n");
        const auto result = script.Finish();
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, kIdentity + "\n") << "no prompt, and nothing after the failure";
        EXPECT_THAT(result.err, testing::AnyOf(HasSubstr("Device reports a command error"),
                                               HasSubstr("unknown command \"frobnicate\"")));
        EXPECT_EQ(server.State(server.Connections() - 1)->voltage, 0.0) << "the line after it was not sent";
    }
    const auto clean = Command({"shell", port}, Command::kPipes, "send SOUR:VOLT 3\nquery MEAS:VOLT?\n").Finish();
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out, "+3.000000E+00\n");
}

}  // namespace
}  // namespace tessel
