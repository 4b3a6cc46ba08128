// The termios layer on real pseudo-terminals, the settings text, and
// the serial port listing and numbering.
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
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

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

// The control's wording of each number is checked word for word through the
// driver (test_clscomm_*.cpp); here, that an error carries the one of its number.
void ExpectControlError(const ComError& e, int code) {
    EXPECT_EQ(e.Number, code) << e.Detail;
    EXPECT_EQ(e.Source, "MSComm");
    EXPECT_EQ(e.Description, CommErrorText(static_cast<int16_t>(code)));
}

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// A directory removed with everything in it when the test ends.
struct TempDir {
    static std::filesystem::path Make() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-serial-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        return pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path, ignored); }
    std::error_code ignored;
    std::filesystem::path path = Make();
};

// ---- settings text ----

TEST(LineText, ParsesAndFormatsEveryFieldAndMalformedTextIs380NamingTheField) {
    const LineSettings base{.handshake = Handshake::RtsCts};
    EXPECT_EQ(ParseLineText(" 19200 , o,7,1.5", base),
              (LineSettings{19200, Parity::Odd, 7, StopBits::OneAndHalf, Handshake::RtsCts}));
    for (const char* text : {"9600,N,8,1", "110,E,5,1.5", "256000,M,6,2", "28800,S,4,1", "300,O,8,2"}) {
        EXPECT_EQ(FormatLineText(ParseLineText(text, base)), text);
    }
    const std::pair<std::string, std::string> malformed[] = {
        {"", "separated by commas"}, {"9600,N,8", "separated by commas"}, {"9600,N,8,1,1", "separated by commas"},
        {"fast,N,8,1", "baud rate"}, {"0,N,8,1", "baud rate"}, {"99999999999,N,8,1", "baud rate"},
        {"-9600,N,8,1", "baud rate"}, {"9600,X,8,1", "parity"}, {"9600,NE,8,1", "parity"},
        {"9600,,8,1", "parity"}, {"9600,N,eight,1", "data bits"}, {"9600,N,8.5,1", "data bits"},
        {"9600,N,8,3", "stop bits"}, {"9600,N,8,1.0", "stop bits"},
    };
    for (const auto& [text, field] : malformed) {
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

TEST_F(SerialDeviceTest, AnOpenDeviceIsRefusedToThisProcessAndToAnother) {
    const SerialDevice first = SerialDevice::Open(pty.SlavePath());
    const ComError e = CaughtError([&] { SerialDevice::Open(pty.SlavePath()); });
    ExpectControlError(e, 8010);
    EXPECT_THAT(e.Detail, AllOf(HasSubstr(pty.SlavePath()), HasSubstr("this process"),
                                HasSubstr(std::to_string(::getpid()))));
    EXPECT_TRUE(Exclusive()) << "the refused opener must not release the holder's exclusivity";

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // exits 0 when refused with 8010 naming the parent, 1 when it opened, 2 otherwise
        int result = 2;
        try {
            SerialDevice::Open(pty.SlavePath());
            result = 1;
        } catch (const ComError& refused) {
            const std::string& why = refused.Detail;
            if (refused.Number == 8010 && why.find(std::to_string(::getppid())) != std::string::npos &&
                why.find("this process") == std::string::npos)
                result = 0;
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the child opened the device; 2: wrong error or detail";
}

TEST_F(SerialDeviceTest, OpenTakesTheDeviceRawAndExclusiveAndClosingReleasesIt) {
    {
        const SerialDevice device = SerialDevice::Open(pty.SlavePath());
        EXPECT_TRUE(device.IsPseudoTerminal());
        EXPECT_TRUE(Exclusive());
        const detail::Line2 line = pty.SlaveLine();
        EXPECT_EQ(line.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(line.oflag & OPOST, 0u);
        EXPECT_EQ(line.iflag & (ICRNL | IXON | ISTRIP), 0u);
        EXPECT_EQ(line.cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
    }
    EXPECT_FALSE(Exclusive());
    test::PseudoTerminal other;
    SerialDevice again = SerialDevice::Open(pty.SlavePath());
    // Assigning another device over an open one releases the first as well.
    again = SerialDevice::Open(other.SlavePath());
    EXPECT_FALSE(Exclusive());
    EXPECT_NO_THROW(SerialDevice::Open(pty.SlavePath()));
}

TEST(SerialDeviceOpen, MissingOrUnsuitableDevicesAre8002AndOtherFailuresMapToTheControlsNumbers) {
    TempDir dir;
    const std::pair<std::string, std::string> unsuitable[] = {
        {(dir.path / "ttyUSB9").string(), "does not exist"},
        {"/dev/null", "not a serial device"},
        {dir.path.string(), "directory"},
    };
    for (const auto& [path, why] : unsuitable) {
        const ComError e = CaughtError([&] { SerialDevice::Open(path); });
        ExpectControlError(e, 8002);
        EXPECT_THAT(e.Detail, AllOf(HasSubstr(path), HasSubstr(why)));
    }
    // Failures a test cannot provoke for real, through the same mapping.
    for (const auto& [err, code] : {std::pair{ENODEV, 8002}, {ENXIO, 8002}, {EIO, 8002}, {EROFS, 8002},
                                    {EBUSY, 8010}, {EPERM, 8010}}) {
        const ComError e = CaughtError([&] { detail::RaiseOpenError(err, "/dev/ttyUSB7"); });
        ExpectControlError(e, code);
        EXPECT_THAT(e.Detail, HasSubstr("/dev/ttyUSB7")) << err;
    }
}

// Permission is denied for real only to an unprivileged user; root opens any
// file, so there the same errno goes through the mapping directly.
TEST(SerialDeviceOpen, PermissionDeniedNamesTheGroupThatGrantsAccess) {
    TempDir dir;
    const std::string path = (dir.path / "ttyACM0").string();
    std::ofstream(path).put('x');
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    const std::string group = g ? g->gr_name : std::to_string(st.st_gid);

    ASSERT_EQ(::chmod(path.c_str(), 0060), 0);  // only the group may open it
    const ComError e = CaughtError([&] {
        if (::geteuid() != 0) SerialDevice::Open(path);
        else detail::RaiseOpenError(EACCES, path);
    });
    ExpectControlError(e, 8010);
    EXPECT_THAT(e.Detail, AllOf(HasSubstr("permission denied"), HasSubstr("group \"" + group + "\""),
                                HasSubstr("sudo usermod -aG " + group + " $USER"), HasSubstr("log in again")));

    // When the group has no access either, joining it would not help.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const ComError ownerOnly = CaughtError([&] { detail::RaiseOpenError(EACCES, path); });
    ExpectControlError(ownerOnly, 8010);
    EXPECT_THAT(ownerOnly.Detail, AllOf(HasSubstr("only its owner"), Not(HasSubstr("usermod"))));
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

TEST_F(SerialSettingsTest, EveryBaudRateParityStopBitsAndHandshakeSetsItsFlagsAndReadsBack) {
    detail::Line2 preset = pty.SlaveLine();  // flow control another program left behind
    preset.iflag |= IXANY | IXON;
    preset.cflag |= CRTSCTS;
    pty.SetSlaveLine(preset);
    // A pty clears PARENB whatever was asked: parity shows in PARODD and CMSPAR.
    constexpr auto N = Parity::None;
    constexpr auto One = StopBits::One;
    const std::tuple<LineSettings, uint32_t, uint32_t> cases[] = {  // asked, cflag bits, iflag bits
        {With(110, N, 5, StopBits::OneAndHalf), CSTOPB, 0},  // 1.5 is CSTOPB with 5 data bits
        {With(300, N, 6, StopBits::Two), CSTOPB, 0},
        {With(600, Parity::Odd, 7, One), PARODD, 0},
        {With(1200, Parity::Mark, 7, StopBits::Two), CMSPAR | PARODD | CSTOPB, 0},
        {With(2400, Parity::Space, 8, One), CMSPAR, 0},
        {With(4800, Parity::Even, 8, StopBits::Two), CSTOPB, 0},
        {With(9600, N, 8, One, Handshake::XonXoff), 0, IXON | IXOFF},
        {With(14400, N, 8, One, Handshake::RtsCts), CRTSCTS, 0},
        {With(19200, N, 8, One, Handshake::RtsXonXoff), CRTSCTS, IXON | IXOFF},
        {With(28800, N, 8, One), 0, 0},  // and back: nothing left over
        {With(38400, N, 8, One), 0, 0},        {With(56000, N, 8, One), 0, 0},
        {With(57600, N, 8, One), 0, 0},        {With(115200, N, 8, One), 0, 0},
        {With(128000, N, 8, One), 0, 0},       {With(256000, N, 8, One), 0, 0},
        {With(31250, N, 8, One), 0, 0},        {With(1000000, N, 8, One), 0, 0},
    };
    for (const auto& [asked, cflags, iflags] : cases) {
        SCOPED_TRACE(FormatLineText(asked) + " handshake " + std::to_string(static_cast<int>(asked.handshake)));
        device->Apply(asked);
        const detail::Line2 line = pty.SlaveLine();
        EXPECT_EQ(line.ospeed, asked.baud);
        EXPECT_EQ(line.ispeed, asked.baud);
        EXPECT_EQ(line.cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), cflags);
        EXPECT_EQ(line.iflag & (IXON | IXOFF | IXANY), iflags);
        EXPECT_EQ(device->ReadBack(), asked);
    }
}

TEST_F(SerialSettingsTest, InexpressibleSettingsAreRefusedAndLeaveTheDeviceAlone) {
    const LineSettings before = With(4800, Parity::Odd, 8, StopBits::One);
    device->Apply(before);
    const std::tuple<LineSettings, int, std::string> cases[] = {
        {With(9600, Parity::None, 4, StopBits::One), 8008, "4 data bits"},
        {With(9600, Parity::None, 9, StopBits::One), 8008, "9 data bits"},
        {With(9600, Parity::None, 0, StopBits::One), 8008, "0 data bits"},
        {With(9600, Parity::None, 8, StopBits::OneAndHalf), 8015, "only with 5 data bits"},
        {With(9600, Parity::None, 5, StopBits::Two), 8015, "2 stop bits with 5 data bits"},
        {With(0, Parity::None, 8, StopBits::One), 8015, "baud rate 0"},
    };
    for (const auto& [asked, code, why] : cases) {
        const ComError e = CaughtError([&] { device->Apply(asked); });
        ExpectControlError(e, code);
        EXPECT_THAT(e.Detail, HasSubstr(why));
    }
    EXPECT_EQ(pty.SlaveLine().ospeed, 4800u);
    EXPECT_EQ(pty.SlaveLine().cflag & PARODD, static_cast<uint32_t>(PARODD));
    EXPECT_EQ(device->ReadBack(), before);
}

TEST_F(SerialSettingsTest, SecondsToSendCountsEveryBitOfACharacter) {
    for (const auto& [asked, count, seconds] :
         {std::tuple{With(9600, Parity::None, 8, StopBits::One), 960, 1.0},  // 10 bits
          {With(300, Parity::Even, 7, StopBits::Two), 300, 11.0},            // 11 bits
          {With(150, Parity::Mark, 5, StopBits::OneAndHalf), 100, 100 * 8.5 / 150},
          {With(150, Parity::Mark, 5, StopBits::OneAndHalf), 0, 0.0}}) {
        device->Apply(asked);
        EXPECT_DOUBLE_EQ(device->SecondsToSend(count), seconds) << count;
    }
}

// ---- input and output ----

TEST_F(SerialSettingsTest, BytesPassUnchangedBothWaysAndReadTakesWhatWaits) {
    device->Apply(With(115200, Parity::None, 8, StopBits::One));
    std::array<char, 64> buffer{};
    // Raw mode with VMIN 1: an empty queue is EAGAIN, never a 0 that would read as a hang-up.
    EXPECT_EQ(::read(device->Fd(), buffer.data(), buffer.size()), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(device->Read(buffer), 0u);

    const std::string toDevice("\r\nA\x11\x13\x00\xff\x7f\x03", 9);
    pty.Send(toDevice);
    ASSERT_TRUE(test::WaitReadable(device->Fd(), 5s));
    EXPECT_EQ(device->InputPending(), toDevice.size());
    std::array<char, 3> small{};
    EXPECT_EQ(device->Read(small), 3u);
    EXPECT_EQ(std::string(small.data(), 3), toDevice.substr(0, 3));
    EXPECT_EQ(device->Read(buffer), 6u);
    EXPECT_EQ(std::string(buffer.data(), 6), toDevice.substr(3));
    EXPECT_EQ(device->InputPending(), 0u);

    const std::string fromDevice("*IDN?\n\r\x00\xfe", 9);
    EXPECT_EQ(device->Write(Bytes(fromDevice)), fromDevice.size());
    EXPECT_EQ(device->Write({}), 0u);
    const std::vector<uint8_t> received = pty.Receive(fromDevice.size());
    EXPECT_EQ(std::string(received.begin(), received.end()), fromDevice);
    EXPECT_EQ(device->OutputPending(), 0u);
}

TEST_F(SerialSettingsTest, HangUpIs8020) {
    pty.CloseMaster();
    char c = 0;
    EXPECT_EQ(::read(device->Fd(), &c, 1), 0) << "a read of 0 is how a hang-up shows";
    std::array<char, 8> buffer{};
    const std::function<void()> calls[] = {[&] { device->Write(Bytes("x")); }, [&] { device->InputPending(); },
                                           [&] { device->Read(buffer); }};
    for (const auto& call : calls) {
        const ComError e = CaughtError(call);
        ExpectControlError(e, 8020);
        EXPECT_THAT(e.Detail, AllOf(HasSubstr("hung up"), HasSubstr(pty.SlavePath())));
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

TEST_F(AssignmentsTest, NumbersMeanTtySUntilAssignedLinksMeanTheirDeviceAndNumbersBelowOneAre8002) {
    test::PseudoTerminal pty;
    EXPECT_EQ(SerialPortPath(3), "/dev/ttyS2");
    EXPECT_EQ(SerialPortPath(32767), "/dev/ttyS32766");
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

    TempDir dir;
    const auto link = dir.path / "by-id-instrument";
    std::filesystem::create_symlink(pty.SlavePath(), link);
    Assign(9, link.string());
    EXPECT_EQ(SerialPortPath(9), link.string());
    EXPECT_EQ(SerialPortNumber(pty.SlavePath()), 9);

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
        EXPECT_TRUE(::stat(port.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << "not a character device";
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
        if (name.starts_with("ttyS") && !type.empty() && type != "0" && std::filesystem::exists("/dev/" + name)) {
            EXPECT_TRUE(listed.contains("/dev/" + name)) << name;
        }
    }

    // Sorted by path, numbers in numeric order.
    auto key = [](const std::string& path) {
        const auto cut = path.find_last_not_of("0123456789") + 1;
        return std::make_pair(path.substr(0, cut), cut < path.size() ? std::stoul(path.substr(cut)) : 0ul);
    };
    for (std::size_t i = 1; i < ports.size(); ++i)
        EXPECT_LE(key(ports[i - 1].path), key(ports[i].path)) << ports[i - 1].path << " before " << ports[i].path;
}

}  // namespace
}  // namespace tessel::serial
