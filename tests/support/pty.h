// A pseudo-terminal pair for tests: the slave stands in for a serial port that
// a driver opens by path, the master for the instrument at the other end.
//
// The pair keeps a descriptor of the slave open for its whole life, as a
// serial port's hardware is always there: without it the master's reads fail
// with EIO whenever the driver has the port closed. The slave starts in the
// kernel's default cooked mode, so a test sees whether the driver made it raw.
//
// Termios read on the master are the slave's (the kernel answers for the
// other side), which is how a test checks what a driver set.
//
// Failures of the helpers throw std::runtime_error; every wait is bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports/unique_fd.h"
#include "serial/termios2.h"

namespace tessel::test {

// Waits until fd is readable, or has hung up, or timeout passes; true unless
// the time ran out.
inline bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
    struct pollfd p {fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

class PseudoTerminal {
public:
    PseudoTerminal() {
        int master = -1, slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) Fail("openpty");
        master_.reset(master);
        slave_.reset(slave);
        slavePath_ = name;
        if (::fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0 ||
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
            Fail("fcntl");
        }
    }

    int Master() const { return master_.get(); }
    // The pair's own descriptor of the slave (for ioctls such as TIOCGEXCL).
    int Slave() const { return slave_.get(); }
    const std::string& SlavePath() const { return slavePath_; }

    // The slave's settings, read through the master.
    serial::detail::Line2 SlaveLine() const {
        serial::detail::Line2 line;
        if (int err = serial::detail::GetLine2(Master(), line)) Fail("TCGETS2 on the master", err);
        return line;
    }
    void SetSlaveLine(const serial::detail::Line2& line) {
        if (int err = serial::detail::SetLine2(Master(), line)) Fail("TCSETS2 on the master", err);
    }

    // Sends bytes to the slave as the instrument would.
    void Send(std::span<const uint8_t> bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(Master(), bytes.data(), bytes.size());
            if (n > 0) {
                bytes = bytes.subspan(static_cast<std::size_t>(n));
            } else if (errno != EINTR && errno != EAGAIN) {
                Fail("write on the master");
            } else if (errno == EAGAIN) {
                struct pollfd p {Master(), POLLOUT, 0};
                if (::poll(&p, 1, kWait) <= 0) Fail("waiting to write on the master", ETIMEDOUT);
            }
        }
    }
    void Send(const std::string& text) {
        Send(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }

    // Bytes the slave side can read now: what the kernel has handed on from
    // the master and nobody has read yet.
    std::size_t SlaveHolds() const {
        int n = 0;
        if (::ioctl(Slave(), FIONREAD, &n) != 0) Fail("FIONREAD on the slave");
        return static_cast<std::size_t>(n);
    }
    // Sends text and returns once the slave side can read all of it: the
    // kernel hands a master's writes on in the background. For while nobody
    // reads the slave.
    void SendAndWaitHeld(const std::string& text) {
        const std::size_t want = SlaveHolds() + text.size();
        Send(text);
        for (int i = 0; i < kWait && SlaveHolds() < want; ++i) ::usleep(1000);
        if (SlaveHolds() < want) Fail("waiting for the slave to hold what was sent", ETIMEDOUT);
    }

    // What the slave sent, until `count` bytes have come or `timeout` passed.
    std::vector<uint8_t> Receive(std::size_t count,
                                 std::chrono::milliseconds timeout = std::chrono::milliseconds(kWait)) {
        std::vector<uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !WaitReadable(Master(), left)) break;
            uint8_t buffer[4096];
            const ssize_t n = ::read(Master(), buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                break;  // the slave side is gone
            }
        }
        return got;
    }

    // The instrument goes away: the slave hangs up.
    void CloseMaster() { master_.reset(); }

private:
    static constexpr int kWait = 5000;  // ms; bounds every wait of the helpers

    [[noreturn]] static void Fail(const std::string& what, int err = errno) {
        throw std::runtime_error("pseudo-terminal: " + what + ": " + std::strerror(err));
    }

    UniqueFd master_;
    UniqueFd slave_;
    std::string slavePath_;
};

}  // namespace tessel::test
