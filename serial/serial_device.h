// One open serial device: the termios layer under the serial control.
//
// Opening takes the device for this open file description alone: TIOCEXCL
// keeps out openers that do not lock, flock(LOCK_EX|LOCK_NB) keeps out every
// other opener that locks (root included, this process included). The device
// is put into raw mode on every open: a reopened pseudo-terminal comes back
// cooked.
//
// Line settings are applied with TCSETS2 (any baud rate, through BOTHER) and
// always read back and compared, because the kernel may accept a request and
// silently drop part of it. On a pseudo-terminal, which carries bytes rather
// than characters on a wire, the kernel forces 8 data bits and clears parity
// enabling; those two are not compared there.
//
// Errors are raised as ComError with the serial control's numbers and source
// "MSComm", and a Detail that says what happened on this machine:
//   8002  no such device (ENOENT, ENODEV, ENXIO, a directory, not a tty)
//   8010  held by another opener (Detail names the process when it can be
//         found), or no permission (Detail names the group that grants access,
//         usually "dialout")
//   8008  data bits the termios interface cannot express (anything but 5 to 8)
//   8015  settings the device refused or changed, and combinations a UART
//         cannot send: 1.5 stop bits exist only with 5 data bits (CSTOPB with
//         5 data bits), and 2 stop bits therefore only with 6 to 8
//   8020  the device failed a read, write or count (it was unplugged, or the
//         other side of a pseudo-terminal closed)
//   8021  the device's settings could not be read
//
// Threads: one thread at a time per device. Nothing here blocks: the
// descriptor is non-blocking and waiting is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "ports/unique_fd.h"

namespace tessel::serial {

enum class Parity : char { None = 'N', Even = 'E', Odd = 'O', Mark = 'M', Space = 'S' };
enum class StopBits { One, OneAndHalf, Two };
enum class Handshake : int16_t { None = 0, XonXoff = 1, RtsCts = 2, RtsXonXoff = 3 };

struct LineSettings {
    uint32_t baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
    Handshake handshake = Handshake::None;

    bool operator==(const LineSettings&) const = default;
};

// "9600,N,8,1" from the fields of s, in the serial control's format.
std::string FormatLineText(const LineSettings& s);

// Parses the serial control's settings text: baud, parity letter, data bits,
// stop bits ("1", "1.5" or "2"), separated by commas, no blanks required.
// Keeps the handshake of `base`. Malformed text raises 380 "Invalid property
// value" (source "MSComm") with a Detail that names the bad field. Values that
// parse but a device may refuse (4 data bits, 1.5 stop bits with 8 data bits)
// are accepted here and refused by Apply.
LineSettings ParseLineText(const std::string& text, const LineSettings& base);

class SerialDevice {
public:
    // Opens and takes the device at path; raw mode, CLOCAL|CREAD, no settings
    // changed besides those. Raises 8002 or 8010 (see above).
    static SerialDevice Open(const std::string& path);

    SerialDevice(SerialDevice&&) noexcept = default;
    // Releases the device held so far as the destructor does, then takes over.
    SerialDevice& operator=(SerialDevice&&) noexcept;
    ~SerialDevice();  // releases the lock and TIOCEXCL, then closes

    int Fd() const { return fd_.get(); }
    const std::string& Path() const { return path_; }
    bool IsPseudoTerminal() const { return pty_; }

    // Applies s and reads it back; raises 8008 or 8015 when the device cannot
    // do it (Detail says which field and what came back).
    void Apply(const LineSettings& s);
    // The settings as the device reports them now (on a pseudo-terminal the
    // data bits and parity read back as last applied).
    LineSettings ReadBack() const;

    // Bytes waiting in the kernel's input queue.
    std::size_t InputPending() const;
    // Bytes in the kernel's output queue not yet sent (always 0 on a pty).
    std::size_t OutputPending() const;
    // Reads what the kernel holds now, at most bytes.size(): the number of
    // bytes read, 0 when nothing waits. A hang-up or failure raises 8020.
    std::size_t Read(std::span<char> bytes);

    // Reading as input arrives is the serial control's, through the message
    // loop on Fd(). What it says of a failed read (or write): for a hang-up (EIO, or a read
    // of 0 bytes) that the device hung up, naming it; otherwise the system's
    // message.
    std::string HangUpDetail(int err, const char* doing) const;

    // Writes what the kernel takes now: the number of bytes written, 0 when
    // the queue is full or XOFF holds the output. Failures raise 8020.
    std::size_t Write(std::span<const uint8_t> bytes);

    // Seconds needed to send n characters at the current settings (start,
    // data, parity and stop bits): how long a real UART needs to drain.
    double SecondsToSend(std::size_t n) const;

private:
    SerialDevice(UniqueFd fd, std::string path, bool pty);
    void Release() noexcept;
    [[noreturn]] void RaiseIoError(int err, const char* doing) const;

    UniqueFd fd_;
    std::string path_;
    bool pty_ = false;
    LineSettings applied_;
};

namespace detail {

// Raises the error for an open of path that failed with errno err: 8002 for
// a missing or unsuitable device, 8010 for one that is held (naming the
// holder) or forbidden (naming the group that grants access), with a Detail.
[[noreturn]] void RaiseOpenError(int err, const std::string& path);

}  // namespace detail

}  // namespace tessel::serial
