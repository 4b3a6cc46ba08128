#include "serial/serial_device.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "serial/comm_errors.h"
#include "serial/termios2.h"
#include "ports/text.h"
#include "ports/trace_hook.h"

namespace tessel::serial {
namespace {

// Unix98 pseudo-terminal slaves use majors 136 to 143.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

constexpr uint32_t kParityFlags = PARENB | PARODD | CMSPAR;
constexpr uint32_t kFlowInputFlags = IXON | IXOFF | IXANY;

// The kernel treats two rates within 2% as the same when it encodes a rate
// (tty_termios_encode_baud_rate), and a UART receiver tolerates that much;
// a driver that rounds to the rate its divider can make is not refusing.
bool SameRate(uint32_t asked, uint32_t got) {
    const uint64_t diff = asked > got ? asked - got : got - asked;
    return diff * 50 <= asked;
}

std::string ErrnoText(int err) { return std::strerror(err); }

std::string StopBitsText(StopBits b) {
    switch (b) {
    case StopBits::One: return "1";
    case StopBits::OneAndHalf: return "1.5";
    case StopBits::Two: return "2";
    }
    return "?";
}

std::string ParityText(Parity p) {
    switch (p) {
    case Parity::None: return "N (none)";
    case Parity::Even: return "E (even)";
    case Parity::Odd: return "O (odd)";
    case Parity::Mark: return "M (mark)";
    case Parity::Space: return "S (space)";
    }
    return "?";
}

std::string HandshakeText(Handshake h) {
    switch (h) {
    case Handshake::None: return "0 (none)";
    case Handshake::XonXoff: return "1 (XON/XOFF)";
    case Handshake::RtsCts: return "2 (RTS/CTS)";
    case Handshake::RtsXonXoff: return "3 (RTS/CTS and XON/XOFF)";
    }
    return "?";
}

uint32_t SizeFlag(int dataBits) {
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

int DataBitsOf(uint32_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

uint32_t ParityFlagsOf(Parity p) {
    switch (p) {
    case Parity::None: return 0;
    case Parity::Even: return PARENB;
    case Parity::Odd: return PARENB | PARODD;
    case Parity::Mark: return PARENB | CMSPAR | PARODD;
    case Parity::Space: return PARENB | CMSPAR;
    }
    return 0;
}

bool UsesRtsCts(Handshake h) { return h == Handshake::RtsCts || h == Handshake::RtsXonXoff; }
bool UsesXonXoff(Handshake h) { return h == Handshake::XonXoff || h == Handshake::RtsXonXoff; }

// What the termios fields say about the line. A pseudo-terminal forces 8 data
// bits and clears PARENB whatever was asked, so there `assumed` stands in for
// those two: its data bits, and parity enabled when it asked for parity.
LineSettings Decode(const detail::Line2& line, const LineSettings* assumed) {
    LineSettings s;
    s.baud = line.ospeed;
    s.dataBits = assumed ? assumed->dataBits : DataBitsOf(line.cflag);
    const bool enabled = assumed ? assumed->parity != Parity::None : (line.cflag & PARENB) != 0;
    const bool odd = (line.cflag & PARODD) != 0;
    if (!enabled) {
        s.parity = Parity::None;
    } else if (line.cflag & CMSPAR) {
        s.parity = odd ? Parity::Mark : Parity::Space;
    } else {
        s.parity = odd ? Parity::Odd : Parity::Even;
    }
    // With 5 data bits a 16550-type UART sends 1.5 stop bits for CSTOPB.
    if (line.cflag & CSTOPB) {
        s.stopBits = s.dataBits == 5 ? StopBits::OneAndHalf : StopBits::Two;
    }
    const bool rts = (line.cflag & CRTSCTS) != 0;
    const bool xon = (line.iflag & IXON) && (line.iflag & IXOFF);
    s.handshake = rts ? (xon ? Handshake::RtsXonXoff : Handshake::RtsCts)
                      : (xon ? Handshake::XonXoff : Handshake::None);
    return s;
}

// The first field where the device's settings differ from what was asked,
// described for the Detail; empty when they agree.
std::string Difference(const LineSettings& asked, const LineSettings& got, uint32_t inputSpeed) {
    auto says = [](const std::string& field, const std::string& a, const std::string& g) {
        return field + ": asked for " + a + ", the device reports " + g;
    };
    if (!SameRate(asked.baud, got.baud)) {
        return says("baud rate", std::to_string(asked.baud), std::to_string(got.baud));
    }
    if (!SameRate(asked.baud, inputSpeed)) {
        return says("input baud rate", std::to_string(asked.baud), std::to_string(inputSpeed));
    }
    if (asked.dataBits != got.dataBits) {
        return says("data bits", std::to_string(asked.dataBits), std::to_string(got.dataBits));
    }
    if (asked.parity != got.parity) return says("parity", ParityText(asked.parity), ParityText(got.parity));
    if (asked.stopBits != got.stopBits) {
        return says("stop bits", StopBitsText(asked.stopBits), StopBitsText(got.stopBits));
    }
    if (asked.handshake != got.handshake) {
        return says("handshaking", HandshakeText(asked.handshake), HandshakeText(got.handshake));
    }
    return {};
}

// Refuses what termios cannot express before the device is touched.
void Validate(const LineSettings& s) {
    if (s.dataBits < 5 || s.dataBits > 8) {
        RaiseCommError(kCommInvalidByteSize, std::to_string(s.dataBits) +
                                                 " data bits: a serial device here sends 5, 6, 7 or 8");
    }
    if (s.baud == 0) {
        RaiseCommError(kCommSetStateFailed, "baud rate 0 would hang up the line instead of setting a speed");
    }
    if (s.stopBits == StopBits::OneAndHalf && s.dataBits != 5) {
        RaiseCommError(kCommSetStateFailed,
                       "1.5 stop bits with " + std::to_string(s.dataBits) +
                           " data bits: a UART sends 1.5 stop bits only with 5 data bits");
    }
    if (s.stopBits == StopBits::Two && s.dataBits == 5) {
        RaiseCommError(kCommSetStateFailed,
                       "2 stop bits with 5 data bits: a UART sends 1.5 stop bits there (use \"1.5\")");
    }
}

// Who keeps a device from us: the flock entry in /proc/locks for the
// device's inode, else any process with the device open (openers that use
// only TIOCEXCL take no lock). Processes of other users stay hidden from an
// unprivileged caller.
struct Holder {
    pid_t pid = 0;
    bool locked = false;  // found through its flock
};

std::optional<Holder> FindFlockHolder(const struct stat& dev) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 4066 00:19:3 0 EOF"; blocked waiters
        // have a "->" after the number and hold nothing.
        std::istringstream fields(line);
        std::string id, type, mode, access, devIno;
        long pid = 0;
        if (!(fields >> id >> type) || type != "FLOCK") continue;
        if (!(fields >> mode >> access >> pid >> devIno)) continue;
        unsigned maj = 0, min = 0;
        unsigned long ino = 0;
        if (std::sscanf(devIno.c_str(), "%x:%x:%lu", &maj, &min, &ino) != 3) continue;
        if (maj == major(dev.st_dev) && min == minor(dev.st_dev) && ino == dev.st_ino && pid > 0) {
            return Holder{static_cast<pid_t>(pid), true};
        }
    }
    return std::nullopt;
}

std::optional<Holder> FindOpener(const struct stat& dev) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::optional<Holder> self;
    for (fs::directory_iterator procs("/proc", ec), end; !ec && procs != end; procs.increment(ec)) {
        const std::string name = procs->path().filename();
        pid_t pid = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc{}) continue;
        std::error_code fdEc;
        for (fs::directory_iterator fds(procs->path() / "fd", fdEc), fdEnd; !fdEc && fds != fdEnd;
             fds.increment(fdEc)) {
            struct stat st {};
            if (::stat(fds->path().c_str(), &st) != 0) continue;
            if (S_ISCHR(st.st_mode) && st.st_rdev == dev.st_rdev) {
                // Our own descriptors (a test's, a second driver's) are
                // reported only when nobody else has the device open.
                if (pid != ::getpid()) return Holder{pid, false};
                self = Holder{pid, false};
                break;
            }
        }
    }
    return self;
}

std::string CommandOf(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string HolderText(const std::string& path) {
    struct stat dev {};
    if (::stat(path.c_str(), &dev) != 0) return "another program holds it";
    std::optional<Holder> holder = FindFlockHolder(dev);
    if (!holder && S_ISCHR(dev.st_mode)) holder = FindOpener(dev);
    if (!holder) return "another program holds it (it could not be identified; it may belong to another user)";
    const std::string how = holder->locked ? "holds it" : "has it open";
    const std::string command = CommandOf(holder->pid);
    const std::string who = std::to_string(holder->pid) + (command.empty() ? "" : " (" + command + ")");
    if (holder->pid == ::getpid()) {
        return "this process, pid " + who + ", already " + how + " (another port or driver of this program)";
    }
    return "process " + who + " " + how;
}

// getgrgid and getpwuid share static storage between threads.
std::string GroupName(gid_t gid) {
    struct group entry {};
    struct group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->gr_name;
    return std::to_string(gid);
}

std::string UserName(uid_t uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->pw_name;
    return std::to_string(uid);
}

std::string PermissionText(const std::string& path) {
    std::string text = "permission denied opening " + path;
    struct stat dev {};
    if (::stat(path.c_str(), &dev) != 0) return text;
    const std::string group = GroupName(dev.st_gid);
    if ((dev.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        return text + ": the device belongs to group \"" + group +
               "\"; join it with `sudo usermod -aG " + group + " $USER`, then log in again";
    }
    const std::string owner = UserName(dev.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(dev.st_mode & 07777));
    return text + ": only its owner \"" + owner + "\" may open it (mode " + mode + ", group \"" + group +
           "\" has no access)";
}

}  // namespace

std::string FormatLineText(const LineSettings& s) {
    return std::to_string(s.baud) + "," + static_cast<char>(s.parity) + "," + std::to_string(s.dataBits) + "," +
           StopBitsText(s.stopBits);
}

LineSettings ParseLineText(const std::string& text, const LineSettings& base) {
    std::vector<std::string> fields;
    std::string_view rest = text;
    for (;;) {
        const auto comma = rest.find(',');
        fields.emplace_back(TrimBlanks(rest.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    auto invalid = [&](const std::string& why) {
        RaiseCommError(kCommInvalidPropertyValue, "settings \"" + text + "\": " + why);
    };
    if (fields.size() != 4) {
        invalid("expected baud rate, parity, data bits and stop bits separated by commas, e.g. \"9600,N,8,1\"");
    }
    auto wholeNumber = [](const std::string& f, auto& value) {
        const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), value);
        return !f.empty() && ec == std::errc{} && end == f.data() + f.size();
    };

    LineSettings s = base;
    if (!wholeNumber(fields[0], s.baud) || s.baud == 0) {
        invalid("baud rate \"" + fields[0] + "\" is not a positive whole number");
    }
    const std::string& p = fields[1];
    const char letter = p.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))) : '\0';
    switch (letter) {
    case 'N': s.parity = Parity::None; break;
    case 'E': s.parity = Parity::Even; break;
    case 'O': s.parity = Parity::Odd; break;
    case 'M': s.parity = Parity::Mark; break;
    case 'S': s.parity = Parity::Space; break;
    default: invalid("parity \"" + p + "\" is not one of N, E, O, M, S");
    }
    if (!wholeNumber(fields[2], s.dataBits)) invalid("data bits \"" + fields[2] + "\" is not a whole number");
    const std::string& stop = fields[3];
    if (stop == "1") {
        s.stopBits = StopBits::One;
    } else if (stop == "1.5") {
        s.stopBits = StopBits::OneAndHalf;
    } else if (stop == "2") {
        s.stopBits = StopBits::Two;
    } else {
        invalid("stop bits \"" + stop + "\" is not 1, 1.5 or 2");
    }
    return s;
}

namespace detail {

void RaiseOpenError(int err, const std::string& path) {
    switch (err) {
    case ENOENT: RaiseCommError(kCommInvalidPortNumber, path + " does not exist");
    case ENODEV:
    case ENXIO:
        RaiseCommError(kCommInvalidPortNumber,
                       path + " has no device behind it (its driver is not loaded, or the adapter was unplugged)");
    case EIO:
        // The kernel keeps device nodes for UARTs it probed and found absent.
        RaiseCommError(kCommInvalidPortNumber, path + " exists but no hardware answers there");
    case EISDIR: RaiseCommError(kCommInvalidPortNumber, path + " is a directory, not a serial device");
    case ENOTTY: RaiseCommError(kCommInvalidPortNumber, path + " is not a serial device (not a terminal)");
    case EBUSY:
    case EWOULDBLOCK: RaiseCommError(kCommHardwareUnavailable, path + " is in use: " + HolderText(path));
    case EACCES:
    case EPERM: RaiseCommError(kCommHardwareUnavailable, PermissionText(path));
    default: RaiseCommError(kCommInvalidPortNumber, path + " cannot be opened: " + ErrnoText(err));
    }
}

}  // namespace detail

SerialDevice SerialDevice::Open(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) detail::RaiseOpenError(errno, path);
    struct termios raw {};
    if (::tcgetattr(fd.get(), &raw) != 0) detail::RaiseOpenError(errno, path);
    // The lock comes before TIOCEXCL: an opener that loses the race must not
    // mark the device exclusive, which would outlast its own descriptor.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) detail::RaiseOpenError(errno, path);
    struct stat st {};
    const bool pty = ::fstat(fd.get(), &st) == 0 && S_ISCHR(st.st_mode) &&
                     major(st.st_rdev) >= kPtySlaveMajorFirst && major(st.st_rdev) <= kPtySlaveMajorLast;

    // From here the device releases the lock and TIOCEXCL itself if a later
    // step fails.
    SerialDevice device(std::move(fd), path, pty);
    if (::ioctl(device.Fd(), TIOCEXCL) != 0) detail::RaiseOpenError(errno, path);

    ::cfmakeraw(&raw);
    // VMIN 1 on a non-blocking descriptor: an empty queue reads EAGAIN, so a
    // read of 0 can only mean a hang-up, with no poll needed to tell.
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(device.Fd(), TCSANOW, &raw) != 0) {
        const int err = errno;
        if (err == EIO) device.RaiseIoError(err, "setting raw mode");
        RaiseCommError(kCommSetStateFailed, path + " refused raw mode: " + ErrnoText(err));
    }
    return device;
}

SerialDevice::SerialDevice(UniqueFd fd, std::string path, bool pty)
    : fd_(std::move(fd)), path_(std::move(path)), pty_(pty) {}

SerialDevice& SerialDevice::operator=(SerialDevice&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::move(other.fd_);
        path_ = std::move(other.path_);
        pty_ = other.pty_;
        applied_ = other.applied_;
    }
    return *this;
}

SerialDevice::~SerialDevice() { Release(); }

void SerialDevice::Release() noexcept {
    if (!fd_) return;
    // TIOCEXCL belongs to the terminal, not to our descriptor: left set, it
    // would keep others out while anyone else (a test, a getty) keeps the
    // terminal open. The lock goes explicitly too, in case a forked child
    // still shares the open file description.
    ::ioctl(fd_.get(), TIOCNXCL);
    ::flock(fd_.get(), LOCK_UN);
    fd_.reset();
}

std::string SerialDevice::HangUpDetail(int err, const char* doing) const {
    if (err == EIO || err == ENODEV || err == ENXIO || err == EPIPE)
        return path_ + " hung up while " + doing + ": the device was unplugged, or the other side closed";
    return std::string(doing) + " " + path_ + " failed: " + ErrnoText(err);
}

void SerialDevice::RaiseIoError(int err, const char* doing) const { RaiseCommError(kCommReadError, HangUpDetail(err, doing)); }

void SerialDevice::Apply(const LineSettings& s) {
    Validate(s);
    detail::Line2 line;
    if (int err = detail::GetLine2(Fd(), line)) {
        if (err == EIO) RaiseIoError(err, "reading its settings");
        RaiseCommError(kCommDeviceControlBlockError, "reading the settings of " + path_ + ": " + ErrnoText(err));
    }

    line.cflag &= ~(CBAUD | CIBAUD | CSIZE | kParityFlags | CSTOPB | CRTSCTS);
    // CIBAUD left at 0 makes the input speed follow the output speed.
    line.cflag |= detail::kBaudOther | SizeFlag(s.dataBits) | ParityFlagsOf(s.parity) | CLOCAL | CREAD;
    if (s.stopBits != StopBits::One) line.cflag |= CSTOPB;
    if (UsesRtsCts(s.handshake)) line.cflag |= CRTSCTS;
    // IXANY would let any received byte restart output held by XOFF; an
    // instrument's reply must not undo its own flow control.
    line.iflag &= ~kFlowInputFlags;
    if (UsesXonXoff(s.handshake)) line.iflag |= IXON | IXOFF;
    line.ispeed = s.baud;
    line.ospeed = s.baud;

    if (int err = detail::SetLine2(Fd(), line)) {
        if (err == EIO) RaiseIoError(err, "applying settings");
        RaiseCommError(kCommSetStateFailed,
                       path_ + " refused settings " + FormatLineText(s) + ": " + ErrnoText(err));
    }

    detail::Line2 back;
    if (int err = detail::GetLine2(Fd(), back)) {
        if (err == EIO) RaiseIoError(err, "reading its settings");
        RaiseCommError(kCommDeviceControlBlockError, "reading the settings of " + path_ + ": " + ErrnoText(err));
    }
    const std::string difference = Difference(s, Decode(back, pty_ ? &s : nullptr), back.ispeed);
    if (!difference.empty()) {
        RaiseCommError(kCommSetStateFailed, path_ + " did not take the settings: " + difference);
    }
    applied_ = s;
}

LineSettings SerialDevice::ReadBack() const {
    detail::Line2 line;
    if (int err = detail::GetLine2(Fd(), line)) {
        if (err == EIO) RaiseIoError(err, "reading its settings");
        RaiseCommError(kCommDeviceControlBlockError, "reading the settings of " + path_ + ": " + ErrnoText(err));
    }
    return Decode(line, pty_ ? &applied_ : nullptr);
}

std::size_t SerialDevice::InputPending() const {
    int count = 0;
    if (::ioctl(Fd(), FIONREAD, &count) != 0) RaiseIoError(errno, "counting input");
    return static_cast<std::size_t>(count);
}

std::size_t SerialDevice::OutputPending() const {
    if (pty_) return 0;  // a pseudo-terminal has no transmitter: nothing ever waits in it
    int count = 0;
    if (::ioctl(Fd(), TIOCOUTQ, &count) != 0) RaiseIoError(errno, "counting output");
    return static_cast<std::size_t>(count);
}

std::size_t SerialDevice::Read(std::span<char> bytes) {
    for (;;) {
        const ssize_t n = ::read(Fd(), bytes.data(), bytes.size());
        if (n > 0) {
            TraceTransfer(TraceDirection::Received, [&] { return path_; }, bytes.data(), static_cast<std::size_t>(n));
            return static_cast<std::size_t>(n);
        }
        if (n == 0) RaiseIoError(EIO, "reading");
        if (errno == EAGAIN) return 0;
        if (errno != EINTR) RaiseIoError(errno, "reading");
    }
}

std::size_t SerialDevice::Write(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return 0;
    const ssize_t n = ::write(Fd(), bytes.data(), bytes.size());
    if (n > 0) TraceTransfer(TraceDirection::Sent, [&] { return path_; }, bytes.data(), static_cast<std::size_t>(n));
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EAGAIN || errno == EINTR) return 0;
    RaiseIoError(errno, "writing");
}

double SerialDevice::SecondsToSend(std::size_t n) const {
    double bits = 1.0 + applied_.dataBits + (applied_.parity == Parity::None ? 0.0 : 1.0);
    switch (applied_.stopBits) {
    case StopBits::One: bits += 1.0; break;
    case StopBits::OneAndHalf: bits += 1.5; break;
    case StopBits::Two: bits += 2.0; break;
    }
    return static_cast<double>(n) * bits / applied_.baud;
}

}  // namespace tessel::serial
