// clsComm: creation, settings, going on-line and off-line over real
// pseudo-terminals, and every failure a host meets there.
#include <termios.h>

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tessel/comm.h>
#include <tessel/error.h>
#include <tessel/host.h>
#include <tessel/serial_ports.h>

#include "serial/serial_device.h"
#include "support/errors.h"
#include "support/pty.h"

using namespace tessel;
using ::testing::HasSubstr;

namespace {

using test::CaughtError;

constexpr int16_t kPort = 7;

void ExpectControlError(const ComError& e, int32_t number, const std::string& description) {
    EXPECT_EQ(e.Number, number) << e.Detail;
    EXPECT_EQ(e.Source, "MSComm");
    EXPECT_EQ(e.Description, description);
}

class ClsCommSetup : public ::testing::Test {
protected:
    void SetUp() override { AssignSerialPort(kPort, pty.SlavePath()); }
    void TearDown() override { AssignSerialPort(kPort, ""); }

    std::shared_ptr<clsComm> Driver(int16_t port = kPort) {
        auto comm = std::make_shared<clsComm>();
        Set(*comm, "Comm Port", Variant(port));
        return comm;
    }
    static void Set(clsComm& comm, const char* name, const Variant& v) {
        static_cast<IPortSetup&>(comm).Settings()->Item(name)->Value(-1, -1, v);
    }

    test::PseudoTerminal pty;
};

}  // namespace

TEST(ClsComm, StartsOffLineWithItsDefaultSettings) {
    auto comm = std::make_shared<clsComm>();
    IPortSetup& setup = *comm;
    IPort& port = *comm;
    EXPECT_FALSE(setup.OnLine());
    EXPECT_FLOAT_EQ(port.TimeOut(), 1.0f);
    EXPECT_EQ(port.Status(), 0);
    EXPECT_EQ(port.Count(), 0);
    EXPECT_EQ(port.Error(), 0);
    EXPECT_EQ(setup.Name(), "");

    auto settings = setup.Settings();
    EXPECT_EQ(settings, setup.Settings());  // the object itself, not a copy
    EXPECT_EQ(settings->Name(), "RS232");
    const std::vector<std::pair<std::string, Variant>> expected = {
        {"Comm Port", Variant(int16_t{1})}, {"Baud Rate", Variant("9600")}, {"Parity", Variant("NONE")},
        {"Data Bits", Variant("8")},        {"Stop Bits", Variant("1")},    {"Handshaking", Variant("RTS/CTS")}};
    ASSERT_EQ(settings->Children().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& child = settings->Children()[i];
        EXPECT_EQ(child->Name(), expected[i].first);
        EXPECT_EQ(child->StoredValue(), expected[i].second) << child->Name();
        EXPECT_EQ(child->Kind(), kParameterList);
        EXPECT_EQ(child->Unit(), "");
    }
    EXPECT_EQ(settings->Item("Parity")->Value(-1, -1), Variant("N"));
    EXPECT_EQ(settings->Item("Handshaking")->Value(-1, -1).ToInteger(), 2);
    EXPECT_EQ(settings->Item("Baud Rate")->Allowed(),
              "110=110,300=300,600=600,1200=1200,2400=2400,4800=4800,9600=9600,14400=14400,19200=19200,"
              "28800=28800,38400=38400,56000=56000,57600=57600,115200=115200,128000=128000,256000=256000");
    EXPECT_EQ(settings->Item("Handshaking")->Allowed(), "None=0,XOn/XOff=1,RTS/CTS=2,RTS/XOn/XOff=3");
    EXPECT_EQ(settings->Item("Data Bits")->Allowed(), "4=4,5=5,6=6,7=7,8=8");
    EXPECT_EQ(settings->Item("Stop Bits")->Allowed(), "1=1,1.5=1.5,2=2");
    EXPECT_EQ(settings->Item("Comm Port")->Allowed(), "COM1=1,COM2=2");
    EXPECT_EQ(settings->Item("Parity")->Allowed(), "EVEN=E,MARK=M,NONE=N,ODD=O,SPACE=S");

    setup.Name("bench supply");
    EXPECT_EQ(setup.Name(), "bench supply");
}

TEST(ClsComm, ErrorDescriptions) {
    clsComm comm;
    EXPECT_EQ(comm.GetMsCommErrorDescription(8017), "Unrecognised error code");
    EXPECT_EQ(comm.GetMsCommErrorDescription(0), "Unrecognised error code");
    EXPECT_EQ(comm.GetMsCommErrorDescription(394), "Property is read-only");
    EXPECT_EQ(comm.GetMsCommErrorDescription(8002), "Invalid Port Number");
    EXPECT_EQ(comm.GetMsCommErrorDescription(8007), "The device 's baud rate is unsupported");
}

TEST_F(ClsCommSetup, DefaultsApplyTheControlsSettingsTextAndRtsCts) {
    auto comm = Driver();
    comm->IPortSetup_OnLine(true);
    EXPECT_TRUE(comm->IPortSetup_OnLine());
    const auto line = pty.SlaveLine();
    EXPECT_EQ(line.ospeed, 9600u);
    EXPECT_TRUE(line.cflag & CRTSCTS);
    EXPECT_FALSE(line.iflag & (IXON | IXOFF | IXANY));
    EXPECT_FALSE(line.cflag & (CSTOPB | PARODD | CMSPAR));
    EXPECT_FALSE(line.lflag & (ICANON | ECHO));  // raw
}

TEST_F(ClsCommSetup, LabelsAndValuesOfEverySettingReachTheDevice) {
    auto comm = Driver();
    Set(*comm, "Baud Rate", "28800");
    Set(*comm, "Parity", "MARK");
    Set(*comm, "Stop Bits", "2");
    Set(*comm, "Handshaking", "XOn/XOff");
    comm->IPortSetup_OnLine(true);
    auto line = pty.SlaveLine();
    EXPECT_EQ(line.ospeed, 28800u);
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR), static_cast<uint32_t>(PARODD | CMSPAR));
    EXPECT_TRUE(line.cflag & CSTOPB);
    EXPECT_EQ(line.iflag & (IXON | IXOFF), static_cast<uint32_t>(IXON | IXOFF));
    EXPECT_FALSE(line.cflag & CRTSCTS);

    // Changes take effect at the next on-line, after an off-line.
    Set(*comm, "Parity", "S");
    Set(*comm, "Handshaking", Variant(int16_t{3}));
    comm->IPortSetup_OnLine(false);
    EXPECT_FALSE(comm->IPortSetup_OnLine());
    comm->IPortSetup_OnLine(true);
    line = pty.SlaveLine();
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR), static_cast<uint32_t>(CMSPAR));
    EXPECT_TRUE(line.cflag & CRTSCTS);
    EXPECT_EQ(line.iflag & (IXON | IXOFF), static_cast<uint32_t>(IXON | IXOFF));
}

TEST_F(ClsCommSetup, PortNumbersMeanTtySUnlessAssigned) {
    EXPECT_EQ(SerialPortPath(kPort), pty.SlavePath());
    AssignSerialPort(kPort, "");
    EXPECT_EQ(SerialPortPath(kPort), "/dev/ttyS6");
    auto e = CaughtError([&] { Driver(40)->IPortSetup_OnLine(true); });
    ExpectControlError(e, 8002, "Invalid Port Number");
    EXPECT_THAT(e.Detail, HasSubstr("/dev/ttyS39"));
}

TEST_F(ClsCommSetup, APortIsHeldByOneDriverAtATime) {
    auto first = Driver();
    first->IPortSetup_OnLine(true);
    auto second = Driver();
    auto e = CaughtError([&] { second->IPortSetup_OnLine(true); });
    ExpectControlError(e, 8010, "The hardware is not available (locked by another device)");
    EXPECT_THAT(e.Detail, HasSubstr("this process"));
    EXPECT_FALSE(second->IPortSetup_OnLine());

    // Releasing the on-line driver closes the port, so the other can have it.
    first.reset();
    second->IPortSetup_OnLine(true);
    EXPECT_TRUE(second->IPortSetup_OnLine());
}

TEST_F(ClsCommSetup, GoingOnLineTwiceIsRefusedByTheOpenControl) {
    auto comm = Driver();
    comm->IPortSetup_OnLine(true);
    ExpectControlError(CaughtError([&] { comm->IPortSetup_OnLine(true); }), 8005, "Port already open");
    EXPECT_TRUE(comm->IPortSetup_OnLine());
    // Another port number cannot be chosen while open.
    Set(*comm, "Comm Port", Variant(int16_t{kPort + 1}));
    ExpectControlError(CaughtError([&] { comm->IPortSetup_OnLine(true); }), 8000,
                       "Operation not valid while the port is opened");
}

TEST_F(ClsCommSetup, SettingsThatCannotBeConvertedFailBeforeTheControlIsTouched) {
    auto comm = Driver();
    Set(*comm, "Comm Port", "COM9");
    auto e = CaughtError([&] { comm->IPortSetup_OnLine(true); });
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, "clsComm.IPortSetup_Online");
    EXPECT_EQ(e.Description, "Type mismatch");

    Set(*comm, "Comm Port", Variant(int32_t{70000}));
    e = CaughtError([&] { comm->IPortSetup_OnLine(true); });
    EXPECT_EQ(e.Number, kErrOverflow);
    EXPECT_EQ(e.Source, "clsComm.IPortSetup_Online");
    EXPECT_FALSE(comm->IPortSetup_OnLine());
}

TEST_F(ClsCommSetup, SettingsTheControlOrDeviceRefuse) {
    struct Case {
        const char* name;
        Variant value;
        int32_t number;
        const char* description;
    };
    for (const Case& c : {Case{"Baud Rate", Variant("fast"), 380, "Invalid property value"},
                          Case{"Parity", Variant("X"), 380, "Invalid property value"},
                          Case{"Data Bits", Variant("4"), 8008, "The specified byte size is invalid"},
                          Case{"Stop Bits", Variant("1.5"), 8015, "Could not set comm state"},
                          Case{"Handshaking", Variant(int16_t{4}), 380, "Invalid property value"},
                          Case{"Comm Port", Variant(int16_t{0}), 8002, "Invalid Port Number"}}) {
        auto comm = Driver();
        Set(*comm, c.name, c.value);
        ExpectControlError(CaughtError([&] { comm->IPortSetup_OnLine(true); }), c.number, c.description);
        EXPECT_FALSE(comm->IPortSetup_OnLine()) << c.name;
        EXPECT_FALSE(CaughtError([&] { comm->IPortSetup_OnLine(true); }).Detail.empty()) << c.name;
    }
}

TEST_F(ClsCommSetup, OffLineIsQuietWhenClosedAndClosedPortsRefuseTraffic) {
    auto comm = Driver();
    comm->IPortSetup_OnLine(false);  // nothing open: nothing raised
    IPort& port = *comm;
    ExpectControlError(CaughtError([&] { port.Send("*CLS"); }), 8018, "Operation valid only when the port is open");
    ExpectControlError(CaughtError([&] { port.Receive(); }), 8018, "Operation valid only when the port is open");
    // The direct read reports its inner read's failure under its own name.
    auto e = CaughtError([&] { comm->ReceiveDirect(); });
    EXPECT_EQ(e.Number, 8018);
    EXPECT_EQ(e.Source, "clsComm.IPortDirect_Receive");
    EXPECT_EQ(e.Description, "Operation valid only when the port is open");
    EXPECT_EQ(CaughtError([&] { comm->ReceiveDirectV(); }).Source, "MSComm");
    EXPECT_EQ(port.Status(), 0);
}

TEST_F(ClsCommSetup, ErrorsReachTheHostThroughItsErrorService) {
    struct Counting : HostErrors {
        std::vector<std::string> sources;
        void Raise(int32_t Number, const Variant& Source, const Variant& Description, const Variant& HelpFile,
                   const Variant& HelpContext) override {
            sources.push_back(Source.ToString());
            HostErrors::Raise(Number, Source, Description, HelpFile, HelpContext);
        }
    };
    auto counting = std::make_shared<Counting>();
    SetHostErrors(counting);
    auto comm = Driver(40);
    EXPECT_THROW(comm->IPortSetup_OnLine(true), ComError);
    SetHostErrors(nullptr);
    // The control's own raise, then the driver's control handler raising again.
    ASSERT_FALSE(counting->sources.empty());
    EXPECT_EQ(counting->sources.back(), "MSComm");
}
