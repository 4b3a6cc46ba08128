#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <gtest/gtest.h>

#include <tessel/events.h>

namespace tessel::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

void Check(bool ok, const char* what) {
    if (!ok) throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool ReadableBy(int fd, SteadyClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    pollfd p{fd, POLLIN, 0};
    return left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) == 1;
}

}  // namespace

Listener::Listener(int backlog, int receiveBuffer) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    Check(bool(fd_), "socket");
    if (receiveBuffer > 0)
        Check(::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer) == 0, "SO_RCVBUF");
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    Check(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), length) == 0, "bind");
    Check(::listen(fd_.get(), backlog) == 0, "listen");
    Check(::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0, "getsockname");
    port_ = ntohs(address.sin_port);
}

UniqueFd Listener::Accept() {
    if (!ReadableBy(fd_.get(), SteadyClock::now() + kGuard))
        throw std::runtime_error("no connection came to port " + std::to_string(port_));
    UniqueFd connection(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    Check(bool(connection), "accept");
    int one = 1;
    ::setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return connection;
}

UniqueFd ConnectTo(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    Check(bool(fd), "socket");
    sockaddr_in address = Loopback(port);
    Check(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "connect");
    return fd;
}

uint16_t UnusedPort() {
    // Free once the probe closes: the system hands ephemeral ports out at random.
    return Listener().Port();
}

void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        Check(n >= 0 || errno == EINTR, "send");
        if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string ReadExactly(int fd, std::size_t n) {
    std::string got;
    const auto deadline = SteadyClock::now() + kGuard;
    char buffer[65536];
    ssize_t r = 1;
    while (got.size() < n && ReadableBy(fd, deadline) &&
           (r = ::recv(fd, buffer, std::min(sizeof buffer, n - got.size()), 0)) > 0)
        got.append(buffer, static_cast<std::size_t>(r));
    if (got.size() < n) ADD_FAILURE() << "only " << got.size() << " of " << n << " bytes came";
    return got;
}

std::string ReadLine(int fd) {
    std::string line;
    while (line.empty() || line.back() != '\n') {
        const std::string byte = ReadExactly(fd, 1);
        if (byte.empty()) break;
        line += byte;
    }
    return line;
}

bool SeesClose(int fd) {
    const auto deadline = SteadyClock::now() + kGuard;
    char buffer[4096];
    while (ReadableBy(fd, deadline))
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return true;  // 0: closed; -1: reset
    return false;
}

void Reset(UniqueFd& fd) {
    linger hard{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    fd.reset();
}

bool PumpUntil(const std::function<bool()>& cond) {
    const auto deadline = SteadyClock::now() + kGuard;
    while (!cond() && SteadyClock::now() < deadline) WaitForEvents(std::chrono::milliseconds(100));
    return cond();
}

}  // namespace tessel::test
