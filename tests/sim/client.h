// Controller ends for the server tests: a pty slave in raw mode and a loopback
// TCP socket, with reads bounded by a deadline. A deadline only guards against
// a hang; no test passes or fails on how fast a reply comes.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "ports/unique_fd.h"

namespace tessel::sim::test {

inline constexpr std::chrono::milliseconds kHangGuard{5000};

class Client {
public:
    int Fd() const { return fd_.get(); }
    void Close() { fd_.reset(); }

    // Writes everything, waiting for room when the other side is slow.
    void Write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (!Wait(POLLOUT, kHangGuard)) throw std::runtime_error("write blocked");
            } else {
                throw std::system_error(errno, std::generic_category(), "write");
            }
        }
    }

    // Reads until `count` bytes came or the hang guard ran out; returns what came.
    std::string ReadBytes(std::size_t count) {
        return ReadWhile([count](const std::string& s) { return s.size() < count; });
    }

    // Reads up to and including the first CR LF (or what came before the guard).
    std::string ReadLine() {
        return ReadWhile([](const std::string& s) { return s.find("\r\n") == std::string::npos; });
    }

    std::string Ask(std::string_view message) {
        Write(std::string(message) + "\n");
        return ReadLine();
    }

    // True when the other end has gone: end of file or a terminal error.
    bool HungUp() {
        if (!Wait(POLLIN, kHangGuard)) return false;
        char c;
        const ssize_t n = ::read(fd_.get(), &c, 1);
        return n == 0 || (n < 0 && (errno == EIO || errno == ECONNRESET));
    }

    // Bytes that are already there, without waiting.
    std::string Pending() {
        std::string s;
        char buf[256];
        ssize_t n;
        while ((n = ::read(fd_.get(), buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
        return s;
    }

protected:
    explicit Client(int fd) : fd_(fd) {
        if (!fd_) throw std::system_error(errno, std::generic_category(), "open client");
    }

private:
    bool Wait(short events, std::chrono::milliseconds timeout) {
        pollfd p{fd_.get(), events, 0};
        int r;
        do {
            r = ::poll(&p, 1, static_cast<int>(timeout.count()));
        } while (r < 0 && errno == EINTR);
        return r > 0;
    }

    template <typename More>
    std::string ReadWhile(More more) {
        std::string s;
        const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
        char buf[4096];
        while (more(s)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Wait(POLLIN, left)) break;
            const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
            if (n > 0)
                s.append(buf, static_cast<std::size_t>(n));
            else if (!(n < 0 && (errno == EAGAIN || errno == EINTR)))
                break;
        }
        return s;
    }

    UniqueFd fd_;
};

// A pty slave opened as a serial driver would: raw mode set on every open.
class PtyClient : public Client {
public:
    explicit PtyClient(const std::string& path)
        : Client(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios t{};
        if (::tcgetattr(Fd(), &t) != 0) throw std::system_error(errno, std::generic_category(), "tcgetattr");
        ::cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (::tcsetattr(Fd(), TCSANOW, &t) != 0) throw std::system_error(errno, std::generic_category(), "tcsetattr");
    }
};

class TcpClient : public Client {
public:
    explicit TcpClient(uint16_t port) : Client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Loopback connects complete at once (or go into the listen queue).
        if (::connect(Fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
            throw std::system_error(errno, std::generic_category(), "connect");
        const int flags = ::fcntl(Fd(), F_GETFL);
        ::fcntl(Fd(), F_SETFL, flags | O_NONBLOCK);
    }
};

}  // namespace tessel::sim::test
