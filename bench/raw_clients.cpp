#include "raw_clients.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace tessel::bench {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Milliseconds left until `end` for poll, rounded up so that poll never
// returns just before the deadline and forces one more pass; -1 when past.
int MillisecondsLeft(Clock::time_point end) {
    const auto left = end - Clock::now();
    if (left <= Clock::duration::zero()) return -1;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Waits for `events` on fd until `end`; false when the time ran out.
bool Await(int fd, short events, Clock::time_point end) {
    for (;;) {
        const int ms = MillisecondsLeft(end);
        if (ms < 0) return false;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, ms);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) Fail("poll");
    }
}

}  // namespace

RawSerialClient::RawSerialClient(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_.get() < 0) Fail("open");
    termios t{};
    if (::tcgetattr(fd_.get(), &t) != 0) Fail("tcgetattr");
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetspeed(&t, B115200);
    if (::tcsetattr(fd_.get(), TCSANOW, &t) != 0) Fail("tcsetattr");
    in_.reserve(4096);
}

std::string RawSerialClient::Query(std::string_view command, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    out_.assign(command);
    out_ += "\r\n";
    for (std::size_t sent = 0; sent < out_.size();) {
        const ssize_t n = ::write(fd_.get(), out_.data() + sent, out_.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            if (!Await(fd_.get(), POLLOUT, end)) throw std::runtime_error("raw serial client: send timed out");
        } else if (!(n < 0 && errno == EINTR)) {
            Fail("write");
        }
    }
    in_.clear();
    char buffer[4096];
    while (in_.empty() || in_.back() != '\n') {
        // The reply cannot be there yet right after the write: wait first,
        // then read, so that no read comes back empty.
        if (!Await(fd_.get(), POLLIN, end)) throw std::runtime_error("raw serial client: receive timed out");
        const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n > 0) in_.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) Fail("read");
    }
    return in_;
}

std::size_t RawSerialClient::WaitForNothing(std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    std::size_t got = 0;
    char buffer[256];
    while (Await(fd_.get(), POLLIN, end)) {
        const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n > 0) got += static_cast<std::size_t>(n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) Fail("read");
    }
    return got;
}

RawTcpClient::RawTcpClient(uint16_t port, std::chrono::milliseconds deadline)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (fd_.get() < 0) Fail("socket");
    const int one = 1;
    if (::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) Fail("TCP_NODELAY");
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(deadline.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((deadline.count() % 1000) * 1000);
    if (::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) Fail("SO_RCVTIMEO");
    if (::setsockopt(fd_.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) Fail("SO_SNDTIMEO");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) Fail("connect");
    in_.reserve(4096);
}

void RawTcpClient::SendLine(std::string_view command) {
    out_.assign(command);
    out_ += '\n';
    for (std::size_t sent = 0; sent < out_.size();) {
        const ssize_t n = ::send(fd_.get(), out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<std::size_t>(n);
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            throw std::runtime_error("raw TCP client: send timed out");
        else if (!(n < 0 && errno == EINTR)) Fail("send");
    }
}

std::string RawTcpClient::Query(std::string_view command) {
    SendLine(command);
    in_.clear();
    char buffer[4096];
    while (in_.size() < 2 || in_[in_.size() - 2] != '\r' || in_.back() != '\n') {
        const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
        if (n > 0) in_.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0) throw std::runtime_error("raw TCP client: the instrument closed the connection");
        else if (errno == EAGAIN || errno == EWOULDBLOCK)
            throw std::runtime_error("raw TCP client: receive timed out");
        else if (errno != EINTR) Fail("recv");
    }
    return in_;
}

void RawTcpClient::Exchange(std::string_view command, unsigned char* into, std::size_t count) {
    SendLine(command);
    for (std::size_t got = 0; got < count;) {
        const ssize_t n = ::recv(fd_.get(), into + got, count - got, 0);
        if (n > 0) got += static_cast<std::size_t>(n);
        else if (n == 0) throw std::runtime_error("raw TCP client: the instrument closed the connection");
        else if (errno == EAGAIN || errno == EWOULDBLOCK)
            throw std::runtime_error("raw TCP client: receive timed out");
        else if (errno != EINTR) Fail("recv");
    }
}

std::size_t RawTcpClient::WaitForNothing() {
    char buffer[256];
    const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Fail("recv");
    return 0;
}

}  // namespace tessel::bench
