// The serial control: one serial device behind the members a serial driver
// uses (port number, settings text, handshaking, input and output queues and
// their counts, input mode and length, an event code and an event).
//
// Input is read from the device into our own queue as it arrives, while the
// thread runs its message loop: counts and Input report what the loop has
// delivered, so a caller yields before it reads them (every driver member
// does). The queue holds at most
// kInputQueueLimit bytes; beyond that the device is left unread, so the
// kernel's buffer and the line's flow control hold the rest and nothing is
// lost. Output is written at once as far as the device takes it; the rest
// waits in our own queue and is written as the device becomes writable
// (XOFF or a full line), while the loop runs.
//
// Failures raise ComError with the control's numbers and source "MSComm" (see
// serial/comm_errors.h): 8002 for a port number below 1 or a missing device,
// 8000 for changing the port number while open, 8005 for opening an open
// port, 8010 when the device is held or forbidden, 8008/8015 for settings the
// device refuses, 380 for malformed values, 8018 for using a closed port, 8020
// when the device hangs up.
//
// Events: OnComm is called on the loop with CommEvent set: comEvReceive when
// bytes arrived, comEvSend when the output queue has drained, comEvCD when the
// device hung up. The handler must not close the port or destroy the control.
//
// Threads: the control belongs to the thread whose loop it was created on.
#pragma once

#include <cstdint>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/posix/stream_descriptor.hpp>

#include <tessel/variant.h>

#include "ports/connection.h"
#include "ports/event_loop.h"
#include "serial/serial_device.h"

namespace tessel::serial {

enum CommEventCode : int16_t {
    comEvSend = 1,
    comEvReceive = 2,
    comEvCD = 5,
};

enum InputModeConstant : int16_t {
    comInputModeText = 0,
    comInputModeBinary = 1,
};

inline constexpr std::size_t kInputQueueLimit = 32767;

class CommControl {
public:
    explicit CommControl(std::shared_ptr<EventLoop> loop);
    ~CommControl();
    CommControl(const CommControl&) = delete;
    CommControl& operator=(const CommControl&) = delete;

    int16_t CommPort() const { return commPort_; }
    void CommPort(int16_t port);
    // "9600,N,8,1": baud, parity letter, data bits, stop bits.
    std::string Settings() const;
    void Settings(const std::string& text);
    int16_t Handshaking() const { return static_cast<int16_t>(settings_.handshake); }
    void Handshaking(int16_t mode);
    // Characters one read of Input takes; 0 takes everything.
    int16_t InputLen() const { return inputLen_; }
    void InputLen(int16_t length);
    int16_t InputMode() const { return inputMode_; }
    void InputMode(int16_t mode);

    bool PortOpen() const { return static_cast<bool>(link_); }
    // Opening discards what waits in the device (it came before the open);
    // closing ends every read and wait of the open connection, so nothing
    // read before the close is delivered after it.
    void PortOpen(bool open);

    // Bytes waiting to be read (at most 32767); writing 0 discards everything
    // received so far: our queue, and the device's input, flushed (the loop
    // only waits for readiness, so it holds no bytes of its own).
    int16_t InBufferCount();
    void InBufferCount(int16_t count);
    // Bytes not yet transmitted: our queue and the device's (at most 32767).
    int16_t OutBufferCount();
    // Takes waiting input: text, or a byte array in binary mode.
    Variant Input();
    // Queues text or a byte array for transmission.
    void Output(const Variant& data);

    int16_t CommEvent() const { return commEvent_; }
    std::function<void()> OnComm;

    // How long the device's own output queue needs to drain at the current
    // line speed, for waits that have no event to wake them; 0 when nothing
    // is queued in the device.
    double SecondsUntilDeviceDrained() const;

private:
    // One open of the device: closing drops it, and with it every read and
    // wait still queued in the loop (ports/connection.h).
    struct Link {
        Link(asio::io_context& io, SerialDevice opened);
        ~Link();
        Link(const Link&) = delete;
        Link& operator=(const Link&) = delete;

        SerialDevice device;
        // Tells the loop when the device is readable or writable; the device
        // owns the descriptor and does the reading and writing itself.
        asio::posix::stream_descriptor watch;
        std::array<char, 4096> buffer{};
        bool reading = false;  // a readiness wait, or a read, is under way
        bool writing = false;
        // The last read filled what it was given, or reading stopped at the
        // queue's limit: the device may hold more, which no new readiness
        // would announce.
        bool mayHaveMore = false;
    };

    SerialDevice& Open();  // the open device, or 8018
    void Flush();          // output queue -> device, as far as it takes
    void WatchInput();
    void ReadNow(Link& link);
    void WatchOutput();
    // Every byte that comes from the device passes here.
    void Arrived(const char* bytes, std::size_t n);
    void DiscardInput(Link& link);
    void Raise(int16_t event);
    void Close() noexcept;

    std::shared_ptr<EventLoop> loop_;
    int16_t commPort_ = 1;
    LineSettings settings_;
    int16_t inputLen_ = 0;
    int16_t inputMode_ = comInputModeText;
    int16_t commEvent_ = 0;

    Connection<Link> link_;
    std::optional<std::string> hangUp_;  // why the device stopped, once it has
    std::string input_;
    std::string output_;
};

}  // namespace tessel::serial
