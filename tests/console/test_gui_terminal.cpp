// The operator console without a display: the controlling terminal, played on
// a pseudo-terminal, and no console at all.
#include <dlfcn.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <tessel/tessel.h>

#include "support/pty.h"
#include "support/trace_recorder.h"
#include "support/xvfb.h"

namespace tessel::test {
namespace {

using namespace std::chrono_literals;

// What a call did, as one line the parent can read: the answer or the error,
// and whether the window module got loaded.
std::string Outcome(const std::function<std::string()>& call) {
    std::string line;
    try {
        line = "RESULT[" + call() + "]";
    } catch (const ComError& e) {
        line = "ERROR[" + std::to_string(e.Number) + "|" + e.Source + "|" + e.Description + "]";
    }
    const bool loaded = ::dlopen(TESSEL_CONSOLE_MODULE, RTLD_LAZY | RTLD_NOLOAD) != nullptr;
    return line + (loaded ? " module loaded" : " module not loaded") + "\n";
}

// A child process whose controlling terminal is a fresh pseudo-terminal, with
// no display; the test plays the operator on the master side.
class TerminalChild {
public:
    explicit TerminalChild(const std::function<std::string()>& call) {
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ < 0) throw std::runtime_error("forkpty");
        if (pid_ == 0) {
            ::unsetenv("DISPLAY");
            const std::string line = Outcome(call);
            (void)!::write(1, line.data(), line.size());
            ::_exit(0);
        }
    }
    ~TerminalChild() {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        ::close(master_);
    }
    TerminalChild(const TerminalChild&) = delete;
    TerminalChild& operator=(const TerminalChild&) = delete;

    // Everything the child wrote until `text` appeared (or 5 s passed).
    std::string ReadUntil(const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (seen_.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
            if (!WaitReadable(master_, 100ms)) continue;
            char buf[256];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            seen_.append(buf, static_cast<std::size_t>(n));
        }
        return seen_;
    }
    void Type(const std::string& keys) { ASSERT_EQ(::write(master_, keys.data(), keys.size()), ssize_t(keys.size())); }

private:
    pid_t pid_ = -1;
    int master_ = -1;
    std::string seen_;
};

std::string CancelError(const char* source) {
    return "ERROR[" + std::to_string(kObjectErrorBase + kErrCancelButton) + "|" + source + "|Cancel button used]";
}

struct TerminalCase {
    const char* what;
    bool receive;        // Receive("Volts?"), else Send("Probe TP4")
    std::string keys;
    std::string outcome;
};

TEST(TerminalConsole, OperatorAnswersOnTheControllingTerminal) {
    const std::string receiveCancel = CancelError("clsGUI.IPort_Receive");
    const std::string sendCancel = CancelError("clsGUI.IPort_Send");
    const std::vector<TerminalCase> cases = {
        {"typed answer", true, "12.5 V\r", "RESULT[12.5 V|6]"},
        {"default kept", true, "\r", "RESULT[ |1]"},
        {"typing replaces the default, Backspace edits", true, "abd\x7f" "c\r", "RESULT[abc|3]"},
        {"arrow keys are not Esc", true, "7\x1b[D\r", "RESULT[7|1]"},
        {"default erased", true, "\x7f\r", receiveCancel},
        {"Esc", true, "\x1b", receiveCancel},
        {"end of input", true, "\x04", receiveCancel},
        {"Enter is OK", false, "\r", "RESULT[|9]"},
        {"Esc is Cancel", false, "\x1b", sendCancel},
        {"end of input is Cancel", false, "x\x04", sendCancel},
    };
    for (const TerminalCase& c : cases) {
        SCOPED_TRACE(c.what);
        TerminalChild child([&] {
            auto gui = std::make_shared<clsGUI>();
            gui->Name("Bench");
            IPort& port = *gui;
            if (c.receive) {
                Recorder trace;
                const std::string answer = port.Receive("Volts?");
                // What the operator typed is what a trace shows arriving.
                if (trace.Joined(TraceDirection::Received) != answer) return std::string("trace differs");
                return answer + "|" + std::to_string(port.Count());
            }
            port.Send("Probe TP4");
            std::string sent = "|";  // (gcc 12 -O3 warns wrongly about "|" + std::string)
            sent += std::to_string(port.Count());
            return sent;
        });
        const std::string shown = child.ReadUntil(c.receive ? "Volts?\r\n>  " : "Esc = Cancel) ");
        if (c.receive) EXPECT_NE(shown.find("[Bench]\r\nVolts?\r\n>  "), std::string::npos) << shown;
        else EXPECT_NE(shown.find("[Bench]\r\nProbe TP4\r\nOK/Cancel"), std::string::npos) << shown;
        child.Type(c.keys);
        const std::string all = child.ReadUntil("module");
        EXPECT_NE(all.find(c.outcome + " module not loaded"), std::string::npos) << all;
    }
}

// A child with neither display nor controlling terminal: its outcome line.
std::string WithoutAnyConsole(OperatorConsole console) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::setsid();  // no controlling terminal from here on
        ::unsetenv("DISPLAY");
        SetOperatorConsole(console);
        const std::string line = Outcome([] {
            clsGUI gui;
            static_cast<IPort&>(gui).Send("Nobody there");
            return std::string("sent");
        });
        (void)!::write(fds[1], line.data(), line.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    while (WaitReadable(fds[0], 5s)) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

TEST(TerminalConsole, NoDisplayAndNoTerminalFailsAtOnce) {
    const std::string prefix =
        "ERROR[" + std::to_string(kObjectErrorBase + kErrNoOperatorConsole) + "|clsGUI.IPort_Send|";
    struct Case {
        OperatorConsole console;
        std::string description;
    };
    for (const Case& c : {Case{OperatorConsole::Automatic, "No display and no terminal for the operator console"},
                          Case{OperatorConsole::Window, "No display for the operator console"},
                          Case{OperatorConsole::Terminal, "No terminal for the operator console"}}) {
        EXPECT_EQ(WithoutAnyConsole(c.console), prefix + c.description + "] module not loaded\n");
    }
}

TEST(TerminalConsole, LibtesselNeedsNoToolkitOrX11) {
    const std::string libraries = RunCommand("ldd " TESSEL_LIBRARY);
    EXPECT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("fltk"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libX"), std::string::npos) << libraries;
}

}  // namespace
}  // namespace tessel::test
