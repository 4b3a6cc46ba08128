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
#include <string>
#include <string_view>
#include <system_error>

#include "ports/unique_fd.h"

namespace tessel::sim::test {

// What DATA? n answers inside its block: byte i is i % 256.
inline std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 256);
    return s;
}

class Client {
public:
    // A pty slave opened as a serial driver would: raw mode set on every open.
    static Client Pty(const std::string& path) {
        Client c(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), "open");
        termios t{};
        Check(::tcgetattr(c.fd_.get(), &t) == 0, "tcgetattr");
        ::cfmakeraw(&t);
        Check(::tcsetattr(c.fd_.get(), TCSANOW, &t) == 0, "tcsetattr");
        return c;
    }
    // A loopback connection; it completes at once or waits in the listen queue.
    static Client Tcp(uint16_t port) {
        Client c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket");
        const sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        Check(::connect(c.fd_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0, "connect");
        Check(::fcntl(c.fd_.get(), F_SETFL, O_NONBLOCK) == 0, "fcntl");
        return c;
    }

    // Writes everything, waiting for room when the other side is slow.
    void Write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
            if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
            else Check(n < 0 && (errno == EAGAIN || errno == EINTR) && Wait(POLLOUT, kGuard), "write");
        }
    }
    // Reads until `count` bytes came, or up to and including the first CR LF;
    // what came before the guard ran out when that does not happen.
    std::string ReadBytes(std::size_t count) { return Read([=](const std::string& s) { return s.size() < count; }); }
    std::string ReadLine() { return Read([](const std::string& s) { return s.find("\r\n") == s.npos; }); }
    std::string Ask(std::string_view message) {
        Write(std::string(message) + "\n");
        return ReadLine();
    }
    // True when the other end has gone: end of file or a terminal error.
    bool HungUp() {
        char c;
        const ssize_t n = Wait(POLLIN, kGuard) ? ::read(fd_.get(), &c, 1) : 1;
        return n == 0 || (n < 0 && (errno == EIO || errno == ECONNRESET));
    }

private:
    static constexpr std::chrono::milliseconds kGuard{5000};

    Client(int fd, const char* what) : fd_(fd) { Check(bool(fd_), what); }
    static void Check(bool ok, const char* what) {
        if (!ok) throw std::system_error(errno, std::generic_category(), what);
    }
    bool Wait(short events, std::chrono::milliseconds timeout) {
        pollfd p{fd_.get(), events, 0};
        int r;
        while ((r = ::poll(&p, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
        }
        return r > 0;
    }
    template <class More>
    std::string Read(More more) {
        std::string s;
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        for (char buf[4096]; more(s);) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !Wait(POLLIN, left)) break;
            const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
            if (n > 0) s.append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
        }
        return s;
    }

    UniqueFd fd_;
};

}  // namespace tessel::sim::test
