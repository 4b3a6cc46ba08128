// Loopback peers for the TCP/IP tests: listeners on 127.0.0.1 with an
// ephemeral port, and blocking reads and writes on the accepted side, each
// bounded so that a broken driver fails the test instead of hanging it.
// Failures of the helpers throw std::system_error or std::runtime_error.
#pragma once

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include <tessel/events.h>

#include "ports/unique_fd.h"
#include "support/pty.h"

namespace tessel::test {

using namespace std::chrono_literals;

// Longest a test waits for something that should happen at once. Reaching
// it means the behaviour is broken, never that the machine is slow.
inline constexpr auto kGuard = 10s;

inline int Checked(int result, const char* what) {
    if (result < 0) throw std::system_error(errno, std::generic_category(), what);
    return result;
}

inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Readable (or closed) before `deadline`.
inline bool ReadableBy(int fd, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 && WaitReadable(fd, left);
}

class Listener {
public:
    // backlog 0 with one connection already queued makes every further
    // connect hang: the host that neither answers nor refuses. receiveBuffer
    // (bytes, 0 for the default) is inherited by accepted connections.
    explicit Listener(int backlog = 16, int receiveBuffer = 0)
        : fd_(Checked(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket")) {
        if (receiveBuffer > 0)
            Checked(::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer), "SO_RCVBUF");
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        Checked(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), length), "bind");
        Checked(::listen(fd_.get(), backlog), "listen");
        Checked(::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length), "getsockname");
        port_ = ntohs(address.sin_port);
    }
    uint16_t Port() const { return port_; }
    // The next connection; it must already be queued (or come within kGuard).
    UniqueFd Accept() {
        if (!ReadableBy(fd_.get(), std::chrono::steady_clock::now() + kGuard))
            throw std::runtime_error("no connection came to port " + std::to_string(port_));
        UniqueFd connection(Checked(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC), "accept"));
        int one = 1;
        ::setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return connection;
    }

private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};

// A blocking client connection to 127.0.0.1:port.
inline UniqueFd ConnectTo(uint16_t port) {
    UniqueFd fd(Checked(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket"));
    const sockaddr_in address = Loopback(port);
    Checked(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), "connect");
    return fd;
}

// A port on 127.0.0.1 where nothing listens: free once the probe closes, as
// the system hands ephemeral ports out at random.
inline uint16_t UnusedPort() { return Listener().Port(); }

inline void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR) Checked(-1, "send");
        if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Exactly n bytes; fails the test (and returns what came) on close or kGuard.
inline std::string ReadExactly(int fd, std::size_t n) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    char buffer[65536];
    ssize_t r = 1;
    while (got.size() < n && ReadableBy(fd, deadline) &&
           (r = ::recv(fd, buffer, std::min(sizeof buffer, n - got.size()), 0)) > 0)
        got.append(buffer, static_cast<std::size_t>(r));
    if (got.size() < n) ADD_FAILURE() << "only " << got.size() << " of " << n << " bytes came";
    return got;
}

// Bytes up to and including the first LF.
inline std::string ReadLine(int fd) {
    std::string line;
    for (std::string byte; line.empty() || line.back() != '\n'; line += byte)
        if ((byte = ReadExactly(fd, 1)).empty()) break;
    return line;
}

// True when the other side has closed (read gives 0 or a reset) within kGuard.
inline bool SeesClose(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    char buffer[4096];
    while (ReadableBy(fd, deadline))
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return true;  // 0: closed; -1: reset
    return false;
}

// Closes with a reset instead of an orderly close.
inline void Reset(UniqueFd& fd) {
    linger hard{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    fd.reset();
}

// Runs the thread's message loop until cond holds or kGuard passes; returns cond().
inline bool PumpUntil(const std::function<bool()>& cond) {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (!cond() && std::chrono::steady_clock::now() < deadline) WaitForEvents(100ms);
    return cond();
}

}  // namespace tessel::test
