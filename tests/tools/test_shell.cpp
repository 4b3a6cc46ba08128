// tessel shell driven through a pseudo-terminal, as a person at a terminal
// drives it: the terminal's own Ctrl+C and Ctrl+D, line by line.
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tessel/sim.h>

#include "command.h"
#include "support/pty.h"

namespace tessel {
namespace {

using testing::HasSubstr;
using testing::Not;

const std::string kIdentity = sim::Config{}.identity;

// The shell on the slave side of a pseudo-terminal that is its controlling
// terminal, so that Ctrl+C and Ctrl+D mean what they mean to a person.
class Terminal {
public:
    explicit Terminal(std::vector<std::string> args) {
        args.insert(args.begin(), {TESSEL_COMMAND, "shell"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int master = -1;
        pid_ = ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid_ < 0) throw std::runtime_error("forkpty");
        if (pid_ == 0) {
            ::execv(TESSEL_COMMAND, argv.data());
            ::_exit(127);
        }
        master_.reset(master);
    }
    ~Terminal() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Types at the prompt. libedit shows the prompt a moment before it takes
    // the terminal out of canonical mode; keys typed ahead into that moment
    // are the kernel's to interpret (a Ctrl+D there would be lost), so this
    // waits until the shell is editing a line, as a person's pace would.
    void Type(const std::string& keys) {
        termios t{};
        for (int i = 0; i < 1000 && ::tcgetattr(master_.get(), &t) == 0 && (t.c_lflag & ICANON) != 0; ++i)
            ::usleep(1000);
        Press(keys);
    }

    // Types at once, whatever the shell is doing (Ctrl+C during a wait).
    void Press(const std::string& keys) {
        if (::write(master_.get(), keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
            throw std::runtime_error("write to the terminal");
    }

    // Everything the terminal showed since the last call, up to and including
    // `text`; all there was when it does not come within the guard.
    std::string Until(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + test::kGuard;
        std::size_t at;
        while ((at = seen_.find(text)) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !test::WaitReadable(master_.get(), left)) break;
            char buf[4096];
            const ssize_t n = ::read(master_.get(), buf, sizeof buf);
            if (n <= 0) break;  // the shell has gone
            seen_.append(buf, static_cast<std::size_t>(n));
        }
        const std::size_t end = at == std::string::npos ? seen_.size() : at + text.size();
        std::string shown = seen_.substr(0, end);
        seen_.erase(0, end);
        return shown;
    }

    // The exit status once the shell has ended by itself; -1 if it does not
    // within the guard.
    int Exit() {
        Until("\x01never shown\x01");  // drains to the end of the output
        int raw = 0;
        pid_t done = 0;
        for (int i = 0; i < 1000 && (done = ::waitpid(pid_, &raw, WNOHANG)) == 0; ++i) ::usleep(10000);
        if (done != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

private:
    pid_t pid_ = -1;
    UniqueFd master_;
    std::string seen_;
};

TEST(TesselShell, CtrlCEndsAFiveSecondWaitAndTheShellGoesOnUntilCtrlD) {
    sim::TcpServer server;
    const std::string port = "tcp:127.0.0.1:" + std::to_string(server.Port());
    const std::string prompt = "tessel " + port + "> ";
    Terminal shell({"--trace", port});
    shell.Until(prompt);
    shell.Type("timeout 5\r");
    EXPECT_THAT(shell.Until(prompt), HasSubstr("5 s"));
    // *CLS has no reply: the query would wait its 5 seconds. Ctrl+C once the
    // command is on the wire, so that the wait has begun.
    shell.Type("query *CLS\r");
    EXPECT_THAT(shell.Until("\"*CLS\\n\""), HasSubstr("sent"));
    shell.Press("\x03");
    const std::string stopped = shell.Until(prompt);
    EXPECT_THAT(stopped, HasSubstr("stopped"));
    EXPECT_THAT(stopped, Not(HasSubstr("timed out")));
    shell.Type("query *IDN?\r");
    EXPECT_THAT(shell.Until(prompt), HasSubstr(kIdentity + "\r\n"));
    shell.Type("\x04");
    EXPECT_EQ(shell.Exit(), 0);
}

TEST(TesselShell, AFailingCommandLeavesTheSessionAsItWas) {
    sim::PtyServer serial;
    sim::TcpServer tcp;
    const std::string serialPort = "serial:" + serial.SlavePath() + "?handshaking=none";
    const std::string tcpPort = "tcp:127.0.0.1:" + std::to_string(tcp.Port());
    Terminal shell({});
    shell.Until("tessel> ");
    shell.Type("query *IDN?\r");
    EXPECT_THAT(shell.Until("tessel> "), HasSubstr("no port is open; open one with: open PORT"));
    shell.Type("open tcp:nowhere\r");
    EXPECT_THAT(shell.Until("tessel> "), HasSubstr("\"nowhere\" is not tcp:HOST:PORT"));
    shell.Type("frobnicate\r");
    EXPECT_THAT(shell.Until("tessel> "), HasSubstr("unknown command \"frobnicate\""));

    shell.Type("open " + serialPort + "\r");
    shell.Until("tessel " + serialPort + "> ");
    shell.Type("open " + tcpPort + "\r");
    shell.Until("tessel " + tcpPort + "> ");
    shell.Type("sende FOO\r");
    EXPECT_THAT(shell.Until("> "), HasSubstr("from clsEthernet.IPort_SendE: Device reports a command error"));
    shell.Type("ports\r");
    const std::string listed = shell.Until("> ");
    EXPECT_THAT(listed, HasSubstr("  1 " + serialPort));
    EXPECT_THAT(listed, HasSubstr("* 2 " + tcpPort));
    shell.Type("use 1\r");
    shell.Until("tessel " + serialPort + "> ");
    shell.Type("set Stop Bits=3\r");
    EXPECT_THAT(shell.Until("> "), HasSubstr("error 380 from MSComm: Invalid property value"));
    shell.Type("get Stop Bits\r");
    EXPECT_THAT(shell.Until("> "), HasSubstr("1\r\n")) << "a setting the port refused is taken back";
    shell.Type("set Stop Bits=2\r");
    shell.Until("> ");
    shell.Type("get stop bits\r");
    EXPECT_THAT(shell.Until("> "), HasSubstr("2\r\n"));
    shell.Type("sende SOUR:VOLT 4\r");
    shell.Until("> ");
    shell.Type("query MEAS:VOLT?\r");
    EXPECT_THAT(shell.Until("> "), HasSubstr("+4.000000E+00"));
    shell.Type("quit\r");
    EXPECT_EQ(shell.Exit(), 0);
}

}  // namespace
}  // namespace tessel
