// The tessel command started as a child process, with its standard output
// and error on pipes; every wait is bounded by kGuard.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/unique_fd.h"

namespace tessel::test {

using namespace std::chrono_literals;

// Longest a test waits for the command; reaching it means it hangs.
constexpr auto kGuard = 10s;

struct Result {
    int status = -1;  // exit status, or -1 when it did not exit by itself
    std::string out;
    std::string err;
};

// The command started with its standard output and error on pipes.
class Command {
public:
    explicit Command(std::vector<std::string> args) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
        out_.reset(out[0]);
        err_.reset(err[0]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), TESSEL_COMMAND);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int failed = ::posix_spawn(&pid_, TESSEL_COMMAND, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        if (failed != 0) throw std::runtime_error("posix_spawn " TESSEL_COMMAND);
    }
    ~Command() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Standard output up to and including the line that contains `text`
    // (everything so far when it does not come within kGuard).
    std::string OutputUntil(const std::string& text) { return Until(result_.out, text); }
    // The same for standard error.
    std::string ErrorUntil(const std::string& text) { return Until(result_.err, text); }

    void Interrupt() { ::kill(pid_, SIGINT); }

    // Reads both streams to their end and waits for the exit; a command still
    // running after kGuard is killed and reported with status -1.
    Result Finish() {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (ReadSome(deadline)) {
        }
        int raw = 0;
        while (::waitpid(pid_, &raw, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &raw, 0);
                raw = -1;
                break;
            }
            ::poll(nullptr, 0, 10);
        }
        pid_ = -1;
        result_.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return result_;
    }

private:
    std::string Until(const std::string& stream, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (stream.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            if (!ReadSome(deadline)) break;
        }
        return stream;
    }

    // False once both streams have ended or the deadline passed.
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        std::array<pollfd, 2> fds{{{out_.get(), POLLIN, 0}, {err_.get(), POLLIN, 0}}};
        if (!out_ && !err_) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || ::poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) return false;
        Drain(fds[0], out_, result_.out);
        Drain(fds[1], err_, result_.err);
        return true;
    }
    static void Drain(const pollfd& p, UniqueFd& fd, std::string& into) {
        if (!fd || p.revents == 0) return;
        char buf[4096];
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n > 0)
            into.append(buf, static_cast<std::size_t>(n));
        else
            fd.reset();
    }

    pid_t pid_ = -1;
    UniqueFd out_;
    UniqueFd err_;
    Result result_;
};

inline Result RunTessel(std::vector<std::string> args) { return Command(std::move(args)).Finish(); }

}  // namespace tessel::test
