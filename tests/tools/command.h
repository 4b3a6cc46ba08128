// The tessel command started as a child process, either on pipes (standard
// output and error apart) or on a pseudo-terminal that is its controlling
// terminal, so that Ctrl+C and Ctrl+D mean what they mean to a person. Every
// wait is bounded by kGuard.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ports/unique_fd.h"

namespace tessel::test {

using namespace std::chrono_literals;

// Longest a test waits for the command; reaching it means it hangs.
constexpr auto kGuard = 10s;

struct Result {
    int status = -1;  // exit status, or -1 when it did not exit by itself
    std::string out;  // on a terminal: all it showed
    std::string err;
};

class Command {
public:
    enum On { kPipes, kTerminal };

    // On pipes, `input` is what the command reads on its standard input,
    // followed by end of file.
    explicit Command(std::vector<std::string> args, On on = kPipes, const std::string& input = {}) {
        args.insert(args.begin(), TESSEL_COMMAND);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, master = -1;
        if (on == kPipes && (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
                             ::pipe2(err, O_CLOEXEC) != 0))
            throw std::runtime_error("pipe2");
        // Small enough for the pipe to hold whole: written before the command runs.
        if (on == kPipes && (::write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
                             ::close(in[1]) != 0))
            throw std::runtime_error("standard input");
        pid_ = on == kPipes ? ::fork() : ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            if (on == kPipes && (::dup2(in[0], 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0))
                ::_exit(126);
            ::execv(TESSEL_COMMAND, argv.data());
            ::_exit(127);
        }
        fds_[0].reset(on == kTerminal ? master : out[0]);
        if (on == kPipes) {
            fds_[1].reset(err[0]);
            ::close(in[0]);
            ::close(out[1]);
            ::close(err[1]);
        }
    }
    ~Command() {
        if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    }

    // Standard output (on a terminal: what it showed) since the last call, up
    // to and including `text`; all there was when it does not come in time.
    std::string OutputUntil(const std::string& text) { return Until(0, text); }
    // The same for standard error.
    std::string ErrorUntil(const std::string& text) { return Until(1, text); }

    void Interrupt() { ::kill(pid_, SIGINT); }

    // Keys on the terminal, at once, whatever the command is doing.
    void Press(const std::string& keys) {
        if (::write(fds_[0].get(), keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
            throw std::runtime_error("write to the terminal");
    }
    // Keys at the prompt. libedit shows the prompt a moment before it takes
    // the terminal out of canonical mode; keys typed ahead into that moment
    // are the kernel's to interpret (a Ctrl+D there would be lost), so this
    // waits until the shell is editing a line, as a person's pace would.
    void Type(const std::string& keys) {
        termios t{};
        for (int i = 0; i < 1000 && ::tcgetattr(fds_[0].get(), &t) == 0 && (t.c_lflag & ICANON) != 0; ++i)
            ::usleep(1000);
        Press(keys);
    }
    // Types a line at the prompt; what the shell shows up to its next prompt.
    std::string Enter(const std::string& line, const std::string& prompt = "> ") {
        Type(line + "\r");
        return OutputUntil(prompt);
    }

    // Reads the output to its end and waits for the exit; a command still
    // running after kGuard has status -1 (and is killed with the Command).
    Result Finish() {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (ReadSome(deadline)) continue;
        int raw = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &raw, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            ::usleep(10000);
        if (done == pid_) pid_ = -1;  // otherwise the destructor kills it
        result_.status = done > 0 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return result_;
    }

private:
    std::string Until(int stream, const std::string& text) {
        std::string& all = stream == 0 ? result_.out : result_.err;
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        std::size_t at;
        while ((at = all.find(text, shown_[stream])) == std::string::npos && ReadSome(deadline)) continue;
        const std::size_t end = at == std::string::npos ? all.size() : at + text.size();
        const std::size_t from = std::exchange(shown_[stream], end);
        return all.substr(from, end - from);
    }

    // False once the output has ended or the deadline passed.
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        pollfd fds[2] = {{fds_[0].get(), POLLIN, 0}, {fds_[1].get(), POLLIN, 0}};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if ((!fds_[0] && !fds_[1]) || left <= 0ms || ::poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds_[i].get(), buf, sizeof buf);
            if (n <= 0) fds_[i].reset();  // ended; a terminal reads EIO once the command has gone
            else (i == 0 ? result_.out : result_.err).append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }

    pid_t pid_ = -1;
    UniqueFd fds_[2];  // output (or the terminal), error
    std::size_t shown_[2] = {0, 0};
    Result result_;
};

// Instruments the simulated GPIB library places as the command loads it.
struct GpibInstruments {
    explicit GpibInstruments(const char* places) { ::setenv("TESSEL_GPIB_SIM_INSTRUMENTS", places, 1); }
    ~GpibInstruments() { ::unsetenv("TESSEL_GPIB_SIM_INSTRUMENTS"); }
};

// s with every `from` in it replaced by `to`.
inline std::string Replaced(std::string s, const std::string& from, const std::string& to) {
    for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

inline Result RunTessel(std::vector<std::string> args) { return Command(std::move(args)).Finish(); }

}  // namespace tessel::test
