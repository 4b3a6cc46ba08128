// The kernel's termios2 interface, behind plain fields.
//
// termios2 carries the baud rate as a number (with BOTHER in c_cflag), which
// is how rates without a B* constant (14400, 28800, 56000, ...) are set and
// read back. Its header, <asm/termbits.h>, cannot share a translation unit
// with <termios.h>, so only termios2.cpp includes it; callers use the flag
// constants of <termios.h>, which glibc copies from the kernel unchanged.
#pragma once

#include <cstdint>

namespace tessel::serial::detail {

// c_cflag: the baud rate is the number in ispeed/ospeed, not a B* code.
inline constexpr uint32_t kBaudOther = 0010000;

// The parts of a terminal's termios2 the serial layer reads or sets.
struct Line2 {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    uint32_t ispeed = 0;
    uint32_t ospeed = 0;
};

// TCGETS2. Returns 0 or the errno. On a pseudo-terminal master this reads
// the slave's settings.
int GetLine2(int fd, Line2& out) noexcept;

// TCSETS2, effective at once: replaces the fields of Line2 and keeps the
// rest (control characters, line discipline). Returns 0 or the errno.
int SetLine2(int fd, const Line2& in) noexcept;

}  // namespace tessel::serial::detail
