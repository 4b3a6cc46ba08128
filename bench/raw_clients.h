// The baselines: the least a program can do to hold the same conversation
// with the simulated instrument, written straight on the system calls. They
// sleep in poll (or a blocking call with a deadline) like the drivers do, so
// that what the comparison shows is the drivers' own cost, not spinning.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <unistd.h>

namespace tessel::bench {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    int get() const noexcept { return fd_; }

private:
    void Close() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
};

// A terminal opened the way a careful program opens a serial port: raw,
// non-blocking, read only when poll says so.
class RawSerialClient {
public:
    explicit RawSerialClient(const std::string& path);
    // Writes the command and CR LF, then collects input until it ends with
    // LF. Throws std::runtime_error when the deadline passes first.
    std::string Query(std::string_view command, std::chrono::milliseconds deadline);
    // Waits for input that never comes, as long as the deadline; returns the
    // bytes that came (none is expected).
    std::size_t WaitForNothing(std::chrono::milliseconds deadline);

private:
    Fd fd_;
    std::string out_;
    std::string in_;
};

// A blocking TCP socket with TCP_NODELAY and a receive deadline
// (SO_RCVTIMEO), so every call either makes progress or ends the wait.
class RawTcpClient {
public:
    RawTcpClient(uint16_t port, std::chrono::milliseconds deadline);
    // Sends the command and LF, then receives until the text ends with CR LF.
    std::string Query(std::string_view command);
    // Sends the command and LF, then receives exactly `count` bytes into
    // `into` (which must hold them).
    void Exchange(std::string_view command, unsigned char* into, std::size_t count);
    // Waits for input that never comes until the receive deadline ends it.
    std::size_t WaitForNothing();

private:
    void SendLine(std::string_view command);
    Fd fd_;
    std::string out_;
    std::string in_;
};

}  // namespace tessel::bench
