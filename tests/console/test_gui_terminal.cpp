// The operator console without a display: the controlling terminal, played on
// a pseudo-terminal, and no console at all.
#include <dlfcn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include <tessel/tessel.h>

#include "support/pty.h"
#include "support/trace_recorder.h"
#include "support/xvfb.h"

namespace tessel::test {
namespace {

using namespace std::chrono_literals;

// A child process with no display running `call`: with a fresh
// pseudo-terminal as its controlling terminal, on whose master side the test
// plays the operator, or with no terminal at all. Its outcome line comes out
// on that side.
class Child {
public:
    Child(bool terminal, const std::function<std::string()>& call) {
        int fds[2] = {-1, -1};
        pid_ = terminal ? ::forkpty(&fd_, nullptr, nullptr, nullptr) : ::pipe(fds) == 0 ? ::fork() : -1;
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            if (!terminal && (::setsid() < 0 || ::dup2(fds[1], 1) < 0)) ::_exit(1);
            ::unsetenv("DISPLAY");
            // The answer or the error, and whether the window module got loaded.
            std::string line;
            try {
                line = "RESULT[" + call() + "]";
            } catch (const ComError& e) {
                line = "ERROR[" + std::to_string(e.Number) + "|" + e.Source + "|" + e.Description + "]";
            }
            line += ::dlopen(TESSEL_CONSOLE_MODULE, RTLD_LAZY | RTLD_NOLOAD) ? " module loaded\n" : " module not loaded\n";
            (void)!::write(1, line.data(), line.size());
            ::_exit(0);
        }
        if (!terminal) {
            fd_ = fds[0];
            ::close(fds[1]);
        }
    }
    ~Child() {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        ::close(fd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Everything the child wrote until `text` appeared (or 5 s passed).
    std::string ReadUntil(const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (seen_.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
            if (!WaitReadable(fd_, 100ms)) continue;
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            seen_.append(buf, static_cast<std::size_t>(n));
        }
        return seen_;
    }
    void Type(const std::string& keys) { ASSERT_EQ(::write(fd_, keys.data(), keys.size()), ssize_t(keys.size())); }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string seen_;
};

std::string CancelError(const char* source) {
    return "ERROR[" + std::to_string(kObjectErrorBase + kErrCancelButton) + "|" + source + "|Cancel button used]";
}

TEST(TerminalConsole, OperatorAnswersOnTheControllingTerminal) {
    const std::string receiveCancel = CancelError("clsGUI.IPort_Receive"), sendCancel = CancelError("clsGUI.IPort_Send");
    const struct {
        const char* what;
        bool receive;  // Receive("Volts?"), else Send("Probe TP4")
        std::string keys, outcome;
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Child child(true, [&] {
            auto gui = std::make_shared<clsGUI>();
            gui->Name("Bench");
            IPort& port = *gui;
            Recorder trace;
            std::string answer;
            if (c.receive) answer = port.Receive("Volts?");
            else port.Send("Probe TP4");
            // What the operator typed is what a trace shows arriving.
            if (trace.Joined(TraceDirection::Received) != answer) return std::string("trace differs");
            return answer.append("|").append(std::to_string(port.Count()));
        });
        const std::string shown = child.ReadUntil(c.receive ? "Volts?\r\n>  " : "Esc = Cancel) ");
        EXPECT_NE(shown.find(c.receive ? "[Bench]\r\nVolts?\r\n>  " : "[Bench]\r\nProbe TP4\r\nOK/Cancel"),
                  std::string::npos) << shown;
        child.Type(c.keys);
        const std::string all = child.ReadUntil("module");
        EXPECT_NE(all.find(c.outcome + " module not loaded"), std::string::npos) << all;
    }
}

TEST(TerminalConsole, NoDisplayAndNoTerminalFailsAtOnce) {
    const std::string prefix =
        "ERROR[" + std::to_string(kObjectErrorBase + kErrNoOperatorConsole) + "|clsGUI.IPort_Send|";
    for (const auto& [console, description] :
         {std::pair{OperatorConsole::Automatic, "No display and no terminal for the operator console"},
          {OperatorConsole::Window, "No display for the operator console"},
          {OperatorConsole::Terminal, "No terminal for the operator console"}}) {
        Child child(false, [console] {
            SetOperatorConsole(console);
            clsGUI gui;
            static_cast<IPort&>(gui).Send("Nobody there");
            return std::string("sent");
        });
        EXPECT_EQ(child.ReadUntil("\n"), prefix + description + "] module not loaded\n");
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
