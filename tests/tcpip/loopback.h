// Loopback peers for the TCP/IP tests: listeners on 127.0.0.1 with an
// ephemeral port, and blocking reads and writes on the accepted side, each
// bounded so that a broken driver fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ports/unique_fd.h"

namespace tessel::test {

using namespace std::chrono_literals;

// Longest a test waits for something that should happen at once. Reaching
// it means the behaviour is broken, never that the machine is slow.
inline constexpr auto kGuard = 10s;

class Listener {
public:
    // backlog 0 with one connection already queued makes every further
    // connect hang: the host that neither answers nor refuses. receiveBuffer
    // (bytes, 0 for the default) is inherited by accepted connections.
    explicit Listener(int backlog = 16, int receiveBuffer = 0);
    uint16_t Port() const { return port_; }
    // The next connection; it must already be queued (or come within kGuard).
    UniqueFd Accept();

private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};

// A blocking client connection to 127.0.0.1:port.
UniqueFd ConnectTo(uint16_t port);

// A port on 127.0.0.1 where nothing listens.
uint16_t UnusedPort();

void WriteAll(int fd, std::string_view bytes);
// Exactly n bytes; fails the test (and returns what came) on close or kGuard.
std::string ReadExactly(int fd, std::size_t n);
// Bytes up to and including the first LF.
std::string ReadLine(int fd);
// True when the other side has closed (read gives 0 or a reset) within kGuard.
bool SeesClose(int fd);
// Closes with a reset instead of an orderly close.
void Reset(UniqueFd& fd);

// Runs the thread's message loop until cond holds or kGuard passes; returns cond().
bool PumpUntil(const std::function<bool()>& cond);

}  // namespace tessel::test
