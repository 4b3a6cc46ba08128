// The termios layer on real pseudo-terminals, the control's error texts, and
// the serial port listing and numbering.
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tessel/error.h>
#include <tessel/serial_ports.h>

#include "serial/comm_errors.h"
#include "serial/serial_device.h"
#include "support/errors.h"
#include "support/pty.h"

namespace tessel::serial {
namespace {

using test::CaughtError;

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

void ExpectControlError(const ComError& e, int code) {
    EXPECT_EQ(e.Number, code) << e.Detail;
    EXPECT_EQ(e.Source, "MSComm");
    EXPECT_EQ(e.Description, CommErrorText(static_cast<int16_t>(code)));
}

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// A directory removed with everything in it when the test ends.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-serial-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// ---- error texts and settings text ----

TEST(CommErrors, TextsAreTheControlsOwn) {
    EXPECT_EQ(CommErrorText(8002), "Invalid Port Number");
    EXPECT_EQ(CommErrorText(8007), "The device 's baud rate is unsupported");
    EXPECT_EQ(CommErrorText(8010), "The hardware is not available (locked by another device)");
    EXPECT_EQ(CommErrorText(383), "Property is read-only");
    EXPECT_EQ(CommErrorText(394), "Property is read-only");
    EXPECT_EQ(CommErrorText(8021), "Internal error retrieving device control block for the port");
    for (int16_t unknown : {0, 8017, 8022, 381, -8002}) {
        EXPECT_EQ(CommErrorText(unknown), "Unrecognised error code") << unknown;
    }
}

TEST(CommErrors, RaiseCarriesSourceDescriptionAndDetail) {
    const ComError e = CaughtError([] { RaiseCommError(kCommReadError, "the other side closed"); });
    ExpectControlError(e, 8020);
    EXPECT_EQ(e.Description, "Error reading comm device");
    EXPECT_EQ(e.Detail, "the other side closed");
}

TEST(LineText, FormatsAndParsesEveryField) {
    LineSettings base;
    base.handshake = Handshake::RtsCts;
    const LineSettings s = ParseLineText(" 19200 , o,7,1.5", base);
    EXPECT_EQ(s.baud, 19200u);
    EXPECT_EQ(s.parity, Parity::Odd);
    EXPECT_EQ(s.dataBits, 7);  // refused later by Apply, not here
    EXPECT_EQ(s.stopBits, StopBits::OneAndHalf);
    EXPECT_EQ(s.handshake, Handshake::RtsCts);
    EXPECT_EQ(FormatLineText(s), "19200,O,7,1.5");

    for (const char* text : {"9600,N,8,1", "110,E,5,1.5", "256000,M,6,2", "28800,S,4,1", "300,O,8,2"}) {
        EXPECT_EQ(FormatLineText(ParseLineText(text, base)), text);
    }
}

TEST(LineText, MalformedTextIs380NamingTheField) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "separated by commas"},          {"9600,N,8", "separated by commas"},
        {"9600,N,8,1,1", "separated by commas"}, {"fast,N,8,1", "baud rate"},
        {"0,N,8,1", "baud rate"},             {"99999999999,N,8,1", "baud rate"},
        {"-9600,N,8,1", "baud rate"},         {"9600,X,8,1", "parity"},
        {"9600,NE,8,1", "parity"},            {"9600,,8,1", "parity"},
        {"9600,N,eight,1", "data bits"},      {"9600,N,8.5,1", "data bits"},
        {"9600,N,8,3", "stop bits"},          {"9600,N,8,1.0", "stop bits"},
    };
    for (const auto& [text, field] : cases) {
        const ComError e = CaughtError([&] { ParseLineText(text, {}); });
        ExpectControlError(e, 380);
        EXPECT_THAT(e.Detail, HasSubstr(field)) << text;
    }
}

// ---- opening ----

class SerialDeviceTest : public ::testing::Test {
protected:
    bool Exclusive() const {
        int excl = 0;
        EXPECT_EQ(::ioctl(pty.Slave(), TIOCGEXCL, &excl), 0);
        return excl != 0;
    }

    test::PseudoTerminal pty;
};

TEST_F(SerialDeviceTest, OpenTakesTheDeviceInRawMode) {
    const SerialDevice device = SerialDevice::Open(pty.SlavePath());
    EXPECT_TRUE(device.IsPseudoTerminal());
    EXPECT_EQ(device.Path(), pty.SlavePath());
    EXPECT_TRUE(Exclusive());

    const detail::Line2 line = pty.SlaveLine();
    EXPECT_EQ(line.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.oflag & OPOST, 0u);
    EXPECT_EQ(line.iflag & (ICRNL | IXON | ISTRIP), 0u);
    EXPECT_EQ(line.cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
}

TEST_F(SerialDeviceTest, SecondOpenInThisProcessIsRefused) {
    const SerialDevice first = SerialDevice::Open(pty.SlavePath());
    const ComError e = CaughtError([&] { SerialDevice::Open(pty.SlavePath()); });
    ExpectControlError(e, 8010);
    EXPECT_THAT(e.Detail, HasSubstr(pty.SlavePath()));
    EXPECT_THAT(e.Detail, HasSubstr("this process"));
    EXPECT_THAT(e.Detail, HasSubstr(std::to_string(::getpid())));
    EXPECT_TRUE(Exclusive()) << "the refused opener must not release the holder's exclusivity";
}

TEST_F(SerialDeviceTest, OpenFromAnotherProcessIsRefused) {
    const SerialDevice first = SerialDevice::Open(pty.SlavePath());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // 0: refused with 8010 naming the parent; 1: opened; 2: anything else.
        int status = 2;
        try {
            SerialDevice::Open(pty.SlavePath());
            status = 1;
        } catch (const ComError& e) {
            const bool namesParent = e.Detail.find(std::to_string(::getppid())) != std::string::npos &&
                                     e.Detail.find("this process") == std::string::npos;
            if (e.Number == 8010 && namesParent) status = 0;
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the child opened the device; 2: wrong error or detail";
}

TEST_F(SerialDeviceTest, ClosingReleasesLockAndExclusivity) {
    {
        const SerialDevice device = SerialDevice::Open(pty.SlavePath());
    }
    EXPECT_FALSE(Exclusive());
    test::PseudoTerminal other;
    SerialDevice again = SerialDevice::Open(pty.SlavePath());

    // Assigning another device over an open one releases the first as well.
    again = SerialDevice::Open(other.SlavePath());
    EXPECT_FALSE(Exclusive());
    EXPECT_NO_THROW(SerialDevice::Open(pty.SlavePath()));
}

TEST(SerialDeviceOpen, MissingOrUnsuitableDevicesAre8002) {
    TempDir dir;
    const std::string missing = (dir.Path() / "ttyUSB9").string();
    const std::vector<std::tuple<std::string, std::string>> cases = {
        {missing, "does not exist"},
        {"/dev/null", "not a serial device"},
        {dir.Path().string(), "directory"},
    };
    for (const auto& [path, why] : cases) {
        const ComError e = CaughtError([&] { SerialDevice::Open(path); });
        ExpectControlError(e, 8002);
        EXPECT_THAT(e.Detail, HasSubstr(path));
        EXPECT_THAT(e.Detail, HasSubstr(why));
    }
}

TEST(SerialDeviceOpen, OpenErrorsMapToTheControlsNumbers) {
    const std::string path = "/dev/ttyUSB7";
    const std::vector<std::pair<int, int>> cases = {
        {ENOENT, 8002}, {ENODEV, 8002}, {ENXIO, 8002},  {EIO, 8002},   {EISDIR, 8002},
        {ENOTTY, 8002}, {EROFS, 8002},  {EBUSY, 8010},  {EWOULDBLOCK, 8010},
        {EACCES, 8010}, {EPERM, 8010},
    };
    for (const auto& [err, code] : cases) {
        const ComError e = CaughtError([&] { detail::RaiseOpenError(err, path); });
        ExpectControlError(e, code);
        EXPECT_THAT(e.Detail, HasSubstr(path)) << err;
    }
}

// Permission is denied for real only to an unprivileged user; root opens any
// file, so there the same errno goes through the mapping directly.
TEST(SerialDeviceOpen, PermissionDeniedNamesTheGroupThatGrantsAccess) {
    TempDir dir;
    const std::string path = (dir.Path() / "ttyACM0").string();
    std::ofstream(path).put('x');
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    const std::string group = g ? g->gr_name : std::to_string(st.st_gid);

    ASSERT_EQ(::chmod(path.c_str(), 0060), 0);  // only the group may open it
    const ComError e = CaughtError([&] {
        if (::geteuid() != 0) {
            SerialDevice::Open(path);
        } else {
            detail::RaiseOpenError(EACCES, path);
        }
    });
    ExpectControlError(e, 8010);
    EXPECT_THAT(e.Detail, HasSubstr("permission denied"));
    EXPECT_THAT(e.Detail, HasSubstr("group \"" + group + "\""));
    EXPECT_THAT(e.Detail, HasSubstr("sudo usermod -aG " + group + " $USER"));
    EXPECT_THAT(e.Detail, HasSubstr("log in again"));

    // When the group has no access either, joining it would not help.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const ComError ownerOnly = CaughtError([&] { detail::RaiseOpenError(EACCES, path); });
    ExpectControlError(ownerOnly, 8010);
    EXPECT_THAT(ownerOnly.Detail, HasSubstr("only its owner"));
    EXPECT_THAT(ownerOnly.Detail, Not(HasSubstr("usermod")));
}

// ---- settings ----

class SerialSettingsTest : public SerialDeviceTest {
protected:
    void SetUp() override { device.emplace(SerialDevice::Open(pty.SlavePath())); }

    static LineSettings With(uint32_t baud, Parity p, int dataBits, StopBits stop, Handshake h = Handshake::None) {
        return LineSettings{baud, p, dataBits, stop, h};
    }

    std::optional<SerialDevice> device;
};

TEST_F(SerialSettingsTest, EveryBaudRateReadsBackOnTheMaster) {
    for (uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 28800u, 38400u, 56000u,
                          57600u, 115200u, 128000u, 256000u, 31250u, 1000000u}) {
        device->Apply(With(baud, Parity::None, 8, StopBits::One));
        const detail::Line2 line = pty.SlaveLine();
        EXPECT_EQ(line.ospeed, baud);
        EXPECT_EQ(line.ispeed, baud);
        EXPECT_EQ(device->ReadBack().baud, baud);
    }
}

TEST_F(SerialSettingsTest, ParityLettersSetStickAndOddFlags) {
    const std::vector<std::pair<Parity, uint32_t>> cases = {
        {Parity::None, 0},           {Parity::Even, 0},
        {Parity::Odd, PARODD},       {Parity::Mark, CMSPAR | PARODD},
        {Parity::Space, CMSPAR},     {Parity::None, 0},  // and back: nothing left over
    };
    for (const auto& [parity, flags] : cases) {
        const LineSettings asked = With(9600, parity, 7, StopBits::One);
        device->Apply(asked);
        EXPECT_EQ(pty.SlaveLine().cflag & (PARODD | CMSPAR), flags) << static_cast<char>(parity);
        EXPECT_EQ(device->ReadBack(), asked) << static_cast<char>(parity);
    }
}

TEST_F(SerialSettingsTest, StopBits) {
    const std::vector<std::pair<LineSettings, bool>> cases = {
        {With(9600, Parity::None, 8, StopBits::Two), true},
        {With(9600, Parity::Even, 8, StopBits::One), false},
        {With(110, Parity::None, 5, StopBits::OneAndHalf), true},
        {With(110, Parity::None, 6, StopBits::Two), true},
    };
    for (const auto& [asked, cstopb] : cases) {
        device->Apply(asked);
        EXPECT_EQ((pty.SlaveLine().cflag & CSTOPB) != 0, cstopb) << FormatLineText(asked);
        EXPECT_EQ(device->ReadBack(), asked) << FormatLineText(asked);
    }
}

TEST_F(SerialSettingsTest, HandshakesSetFlowFlagsAndNeverIxany) {
    detail::Line2 preset = pty.SlaveLine();
    preset.iflag |= IXANY | IXON;
    preset.cflag |= CRTSCTS;
    pty.SetSlaveLine(preset);

    const std::vector<std::tuple<Handshake, bool, bool>> cases = {
        {Handshake::None, false, false},
        {Handshake::XonXoff, false, true},
        {Handshake::RtsCts, true, false},
        {Handshake::RtsXonXoff, true, true},
    };
    for (const auto& [handshake, rtscts, xonxoff] : cases) {
        const LineSettings asked = With(19200, Parity::None, 8, StopBits::One, handshake);
        device->Apply(asked);
        const detail::Line2 line = pty.SlaveLine();
        const auto mode = static_cast<int>(handshake);
        EXPECT_EQ((line.cflag & CRTSCTS) != 0, rtscts) << mode;
        EXPECT_EQ((line.iflag & IXON) != 0, xonxoff) << mode;
        EXPECT_EQ((line.iflag & IXOFF) != 0, xonxoff) << mode;
        EXPECT_EQ(line.iflag & IXANY, 0u) << mode;
        EXPECT_EQ(device->ReadBack(), asked) << mode;
    }
}

TEST_F(SerialSettingsTest, InexpressibleSettingsAreRefusedAndLeaveTheDeviceAlone) {
    device->Apply(With(4800, Parity::Odd, 8, StopBits::One));

    for (int bits : {4, 9, 0}) {
        const ComError e = CaughtError([&] { device->Apply(With(9600, Parity::None, bits, StopBits::One)); });
        ExpectControlError(e, 8008);
        EXPECT_THAT(e.Detail, HasSubstr(std::to_string(bits) + " data bits"));
    }
    const ComError halfWith8 =
        CaughtError([&] { device->Apply(With(9600, Parity::None, 8, StopBits::OneAndHalf)); });
    ExpectControlError(halfWith8, 8015);
    EXPECT_THAT(halfWith8.Detail, HasSubstr("only with 5 data bits"));
    const ComError twoWith5 = CaughtError([&] { device->Apply(With(9600, Parity::None, 5, StopBits::Two)); });
    ExpectControlError(twoWith5, 8015);
    EXPECT_THAT(twoWith5.Detail, HasSubstr("2 stop bits with 5 data bits"));
    ExpectControlError(CaughtError([&] { device->Apply(With(0, Parity::None, 8, StopBits::One)); }), 8015);

    EXPECT_EQ(pty.SlaveLine().ospeed, 4800u);
    EXPECT_EQ(pty.SlaveLine().cflag & PARODD, static_cast<uint32_t>(PARODD));
    EXPECT_EQ(device->ReadBack(), With(4800, Parity::Odd, 8, StopBits::One));
}

TEST_F(SerialSettingsTest, SecondsToSendCountsEveryBitOfACharacter) {
    device->Apply(With(9600, Parity::None, 8, StopBits::One));  // 10 bits
    EXPECT_DOUBLE_EQ(device->SecondsToSend(960), 1.0);
    device->Apply(With(300, Parity::Even, 7, StopBits::Two));  // 11 bits
    EXPECT_DOUBLE_EQ(device->SecondsToSend(300), 11.0);
    device->Apply(With(150, Parity::Mark, 5, StopBits::OneAndHalf));  // 8.5 bits
    EXPECT_DOUBLE_EQ(device->SecondsToSend(100), 100 * 8.5 / 150);
    EXPECT_DOUBLE_EQ(device->SecondsToSend(0), 0.0);
}

// ---- input and output ----

// What a non-blocking read of the device gives now: the bytes, or -1 and errno.
ssize_t ReadNow(const SerialDevice& device, std::string& into) {
    char buffer[64];
    const ssize_t n = ::read(device.Fd(), buffer, sizeof buffer);
    if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
    return n;
}

TEST_F(SerialSettingsTest, BytesPassUnchangedBothWays) {
    device->Apply(With(115200, Parity::None, 8, StopBits::One));
    const std::string toDevice("\r\nA\x11\x13\x00\xff\x7f\x03", 9);
    std::string got;
    // Raw mode with VMIN 1: an empty queue is EAGAIN, never a 0 that would read as a hang-up.
    EXPECT_EQ(ReadNow(*device, got), -1);
    EXPECT_EQ(errno, EAGAIN);

    pty.Send(toDevice);
    ASSERT_TRUE(test::WaitReadable(device->Fd(), 5s));
    EXPECT_EQ(device->InputPending(), toDevice.size());
    for (int attempt = 0; attempt < 100 && got.size() < toDevice.size(); ++attempt)
        if (ReadNow(*device, got) <= 0) test::WaitReadable(device->Fd(), 100ms);
    EXPECT_EQ(got, toDevice);
    EXPECT_EQ(device->InputPending(), 0u);

    const std::string fromDevice("*IDN?\n\r\x00\xfe", 9);
    EXPECT_EQ(device->Write(Bytes(fromDevice)), fromDevice.size());
    EXPECT_EQ(device->Write({}), 0u);
    const std::vector<uint8_t> received = pty.Receive(fromDevice.size());
    EXPECT_EQ(std::string(received.begin(), received.end()), fromDevice);
    EXPECT_EQ(device->OutputPending(), 0u);
}

TEST_F(SerialSettingsTest, DiscardInputDropsWaitingBytes) {
    pty.Send("12345");
    ASSERT_TRUE(test::WaitReadable(device->Fd(), 5s));
    EXPECT_EQ(device->InputPending(), 5u);
    device->DiscardInput();
    EXPECT_EQ(device->InputPending(), 0u);
    std::string got;
    EXPECT_EQ(ReadNow(*device, got), -1);
}

TEST_F(SerialSettingsTest, XoffHoldsOutputUntilXon) {
    device->Apply(With(9600, Parity::None, 8, StopBits::One, Handshake::XonXoff));
    std::string none;
    pty.Send("\x13");
    // A read waits for the kernel to pass what arrived to the line
    // discipline, so the XOFF has been seen when it returns.
    ReadNow(*device, none);
    EXPECT_EQ(device->Write(Bytes("a")), 0u);
    pty.Send("\x11");
    ReadNow(*device, none);
    EXPECT_EQ(none, "");
    EXPECT_EQ(device->Write(Bytes("b")), 1u);
    const std::vector<uint8_t> received = pty.Receive(1);
    EXPECT_EQ(std::string(received.begin(), received.end()), "b");
}

TEST_F(SerialSettingsTest, HangUpIs8020) {
    pty.CloseMaster();
    std::string none;
    EXPECT_EQ(ReadNow(*device, none), 0) << "a read of 0 is how a hang-up shows";
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"Write", [&] { device->Write(Bytes("x")); }},
        {"InputPending", [&] { device->InputPending(); }},
        {"DiscardInput", [&] { device->DiscardInput(); }},
    };
    for (const auto& [name, call] : calls) {
        const ComError e = CaughtError(call);
        ExpectControlError(e, 8020);
        EXPECT_THAT(e.Detail, HasSubstr("hung up")) << name;
        EXPECT_THAT(e.Detail, HasSubstr(pty.SlavePath())) << name;
    }
}

// ---- listing and numbering ----

// Frees the port numbers a test assigned, whatever the test's outcome.
class AssignmentsTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int16_t n : used) AssignSerialPort(n, "");
    }
    void Assign(int16_t n, const std::string& path) {
        used.push_back(n);
        AssignSerialPort(n, path);
    }
    std::vector<int16_t> used;
};

TEST_F(AssignmentsTest, RoundTrip) {
    test::PseudoTerminal pty;
    EXPECT_EQ(SerialPortPath(3), "/dev/ttyS2");
    EXPECT_EQ(SerialPortNumber("/dev/ttyS2"), 3);
    EXPECT_EQ(SerialPortNumber(pty.SlavePath()), 0);

    Assign(3, pty.SlavePath());
    EXPECT_EQ(SerialPortPath(3), pty.SlavePath());
    EXPECT_EQ(SerialPortNumber(pty.SlavePath()), 3);
    EXPECT_EQ(SerialPortNumber("/dev/ttyS2"), 0) << "COM3 no longer means /dev/ttyS2";

    Assign(40, "/dev/ttyS2");
    EXPECT_EQ(SerialPortNumber("/dev/ttyS2"), 40);

    AssignSerialPort(3, "");
    EXPECT_EQ(SerialPortPath(3), "/dev/ttyS2");
    EXPECT_EQ(SerialPortNumber("/dev/ttyS2"), 3) << "the smallest number that means the device";
    EXPECT_EQ(SerialPortPath(32767), "/dev/ttyS32766");
}

TEST_F(AssignmentsTest, SymbolicLinksMeanTheDeviceTheyPointTo) {
    test::PseudoTerminal pty;
    TempDir dir;
    const auto link = dir.Path() / "by-id-instrument";
    std::filesystem::create_symlink(pty.SlavePath(), link);
    Assign(9, link.string());
    EXPECT_EQ(SerialPortPath(9), link.string());
    EXPECT_EQ(SerialPortNumber(pty.SlavePath()), 9);
}

TEST_F(AssignmentsTest, NumbersBelowOneAre8002) {
    for (int16_t n : {0, -1, -32768}) {
        const ComError e = CaughtError([&] { AssignSerialPort(n, "/dev/ttyUSB0"); });
        ExpectControlError(e, 8002);
        EXPECT_THAT(e.Detail, HasSubstr(std::to_string(n)));
        ExpectControlError(CaughtError([&] { SerialPortPath(n); }), 8002);
    }
}

std::string SysfsType(const std::string& name) {
    std::ifstream in("/sys/class/tty/" + name + "/type");
    std::string type;
    std::getline(in, type);
    return type;
}

TEST(SerialPortList, ListsPresentPortsOnlyInOrder) {
    test::PseudoTerminal pty;
    const std::vector<SerialPortInfo> ports = ListSerialPorts();

    std::set<std::string> listed;
    for (const SerialPortInfo& port : ports) {
        SCOPED_TRACE(port.path);
        EXPECT_TRUE(listed.insert(port.path).second) << "listed twice";
        struct stat st {};
        EXPECT_EQ(::stat(port.path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_FALSE(port.description.empty());
        const std::string name = std::filesystem::path(port.path).filename();
        if (name.starts_with("ttyS")) {
            EXPECT_NE(SysfsType(name), "0") << "a UART slot with no UART";
        }
        for (const std::string& id : {port.usbVendorId, port.usbProductId}) {
            EXPECT_TRUE(id.empty() || (id.size() == 4 && id.find_first_not_of("0123456789abcdef") == std::string::npos))
                << id;
        }
        EXPECT_EQ(port.portNumber, SerialPortNumber(port.path));
    }
    EXPECT_FALSE(listed.contains(pty.SlavePath())) << "pseudo-terminals are not serial ports";

    // Every UART that the kernel found and that has a device node here is listed.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = entry.path().filename();
        const std::string type = SysfsType(name);
        if (!name.starts_with("ttyS") || type.empty() || type == "0") continue;
        if (std::filesystem::exists("/dev/" + name)) {
            EXPECT_TRUE(listed.contains("/dev/" + name)) << name;
        }
    }

    // Sorted by path, numbers in numeric order.
    auto key = [](const std::string& path) {
        const auto cut = path.find_last_not_of("0123456789") + 1;
        return std::make_pair(path.substr(0, cut), cut < path.size() ? std::stoul(path.substr(cut)) : 0ul);
    };
    for (std::size_t i = 1; i < ports.size(); ++i) {
        EXPECT_LE(key(ports[i - 1].path), key(ports[i].path)) << ports[i - 1].path << " before " << ports[i].path;
    }
}

}  // namespace
}  // namespace tessel::serial
