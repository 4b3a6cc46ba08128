// Only this file may include <asm/termbits.h>: its struct termios clashes
// with the one of <termios.h>.
#include "serial/termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace tessel::serial::detail {

static_assert(kBaudOther == BOTHER, "kBaudOther must be the kernel's BOTHER");

namespace {

int Get(int fd, struct termios2& t) noexcept { return ::ioctl(fd, TCGETS2, &t) == 0 ? 0 : errno; }

}  // namespace

int GetLine2(int fd, Line2& out) noexcept {
    struct termios2 t {};
    if (int err = Get(fd, t)) return err;
    out.iflag = t.c_iflag;
    out.oflag = t.c_oflag;
    out.cflag = t.c_cflag;
    out.lflag = t.c_lflag;
    out.ispeed = t.c_ispeed;
    out.ospeed = t.c_ospeed;
    return 0;
}

int SetLine2(int fd, const Line2& in) noexcept {
    struct termios2 t {};
    if (int err = Get(fd, t)) return err;
    t.c_iflag = in.iflag;
    t.c_oflag = in.oflag;
    t.c_cflag = in.cflag;
    t.c_lflag = in.lflag;
    t.c_ispeed = in.ispeed;
    t.c_ospeed = in.ospeed;
    return ::ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

}  // namespace tessel::serial::detail
