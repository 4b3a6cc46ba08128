// clsComm: creation, settings, going on-line and off-line over real
// pseudo-terminals, and every failure a host meets there.
#include <termios.h>

#include <gmock/gmock.h>

#include "comm_fixture.h"

using namespace tessel;
using test::CaughtError;
using test::ExpectError;
using test::Set;
using ::testing::HasSubstr;

namespace {

class ClsCommSetup : public test::CommTest {
protected:
    void SetUp() override { AssignSerialPort(test::kCommPort, pty.SlavePath()); }

    static std::shared_ptr<clsComm> Driver(int16_t number = test::kCommPort) {
        auto driver = std::make_shared<clsComm>();
        Set(*driver, "Comm Port", Variant(number));
        return driver;
    }
    static void OffAndOnLine(clsComm& driver) {
        driver.IPortSetup_OnLine(false);
        EXPECT_FALSE(driver.IPortSetup_OnLine());
        driver.IPortSetup_OnLine(true);
        EXPECT_TRUE(driver.IPortSetup_OnLine());
    }
};

}  // namespace

TEST_F(ClsCommSetup, StartsOffLineWithItsDefaultSettings) {
    EXPECT_FALSE(setup().OnLine());
    EXPECT_FLOAT_EQ(port().TimeOut(), 1.0f);
    EXPECT_EQ(Words(), std::tuple(0, 0, 0));

    auto settings = setup().Settings();
    EXPECT_EQ(settings, setup().Settings());  // the object itself, not a copy
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
    }
    EXPECT_EQ(settings->Item("Parity")->Value(-1, -1), Variant("N"));
    EXPECT_EQ(settings->Item("Handshaking")->Value(-1, -1).ToInteger(), 2);

    EXPECT_EQ(comm->GetMsCommErrorDescription(8017), "Unrecognised error code");
    EXPECT_EQ(comm->GetMsCommErrorDescription(0), "Unrecognised error code");
    EXPECT_EQ(comm->GetMsCommErrorDescription(8007), "The device 's baud rate is unsupported");
}

TEST_F(ClsCommSetup, DefaultsThenLabelsThenValuesOfEverySettingReachTheDeviceAtTheNextOnLine) {
    auto driver = Driver();
    driver->IPortSetup_OnLine(true);
    auto line = pty.SlaveLine();
    EXPECT_EQ(line.ospeed, 9600u);
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), static_cast<uint32_t>(CRTSCTS));
    EXPECT_EQ(line.iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(line.lflag & (ICANON | ECHO), 0u);  // raw

    for (const auto& [name, value] : {std::pair{"Baud Rate", Variant("28800")}, {"Parity", Variant("MARK")},
                                      {"Stop Bits", Variant("2")}, {"Handshaking", Variant("XOn/XOff")}})
        Set(*driver, name, value);
    OffAndOnLine(*driver);
    line = pty.SlaveLine();
    EXPECT_EQ(line.ospeed, 28800u);
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), static_cast<uint32_t>(PARODD | CMSPAR | CSTOPB));
    EXPECT_EQ(line.iflag & (IXON | IXOFF), static_cast<uint32_t>(IXON | IXOFF));

    Set(*driver, "Parity", "S");
    Set(*driver, "Handshaking", Variant(int16_t{3}));
    OffAndOnLine(*driver);
    line = pty.SlaveLine();
    EXPECT_EQ(line.cflag & (PARODD | CMSPAR | CRTSCTS), static_cast<uint32_t>(CMSPAR | CRTSCTS));
    EXPECT_EQ(line.iflag & (IXON | IXOFF), static_cast<uint32_t>(IXON | IXOFF));
}

TEST_F(ClsCommSetup, APortIsHeldByOneDriverAtATime) {
    auto first = Driver();
    first->IPortSetup_OnLine(true);
    auto second = Driver();
    auto e = CaughtError([&] { second->IPortSetup_OnLine(true); });
    ExpectError(e, 8010, "MSComm", "The hardware is not available (locked by another device)");
    EXPECT_THAT(e.Detail, HasSubstr("this process"));
    EXPECT_FALSE(second->IPortSetup_OnLine());

    // Releasing the on-line driver closes the port, so the other can have it.
    first.reset();
    second->IPortSetup_OnLine(true);
    EXPECT_TRUE(second->IPortSetup_OnLine());
}

TEST_F(ClsCommSetup, GoingOnLineTwiceIsRefusedByTheOpenControl) {
    auto driver = Driver();
    driver->IPortSetup_OnLine(true);
    ExpectError(CaughtError([&] { driver->IPortSetup_OnLine(true); }), 8005, "MSComm", "Port already open");
    EXPECT_TRUE(driver->IPortSetup_OnLine());
    // Another port number cannot be chosen while open.
    Set(*driver, "Comm Port", Variant(int16_t{test::kCommPort + 1}));
    ExpectError(CaughtError([&] { driver->IPortSetup_OnLine(true); }), 8000, "MSComm",
                "Operation not valid while the port is opened");
}

TEST_F(ClsCommSetup, SettingsTheDriverControlOrDeviceRefuse) {
    struct Case {
        const char* name;
        Variant value;
        int32_t number;
        std::string source;
        const char* description;
    };
    const std::string online = "clsComm.IPortSetup_Online";
    for (const Case& c : {Case{"Comm Port", Variant("COM9"), kErrTypeMismatch, online, "Type mismatch"},
                          Case{"Comm Port", Variant(int32_t{70000}), kErrOverflow, online, ""},
                          Case{"Baud Rate", Variant("fast"), 380, "MSComm", "Invalid property value"},
                          Case{"Parity", Variant("X"), 380, "MSComm", "Invalid property value"},
                          Case{"Data Bits", Variant("4"), 8008, "MSComm", "The specified byte size is invalid"},
                          Case{"Stop Bits", Variant("1.5"), 8015, "MSComm", "Could not set comm state"},
                          Case{"Handshaking", Variant(int16_t{4}), 380, "MSComm", "Invalid property value"},
                          Case{"Comm Port", Variant(int16_t{0}), 8002, "MSComm", "Invalid Port Number"}}) {
        SCOPED_TRACE(c.name);
        auto driver = Driver();
        Set(*driver, c.name, c.value);
        ExpectError(CaughtError([&] { driver->IPortSetup_OnLine(true); }), c.number, c.source, c.description);
        EXPECT_FALSE(driver->IPortSetup_OnLine());
        // The control says why; a second attempt fails the same way.
        EXPECT_TRUE(c.source != "MSComm" || !CaughtError([&] { driver->IPortSetup_OnLine(true); }).Detail.empty());
    }
}

TEST_F(ClsCommSetup, OffLineIsQuietWhenClosedAndClosedPortsRefuseTraffic) {
    setup().OnLine(false);  // nothing open: nothing raised
    const std::string closed = "Operation valid only when the port is open";
    ExpectError(CaughtError([&] { port().Send("*CLS"); }), 8018, "MSComm", closed);
    ExpectError(CaughtError([&] { port().Receive(); }), 8018, "MSComm", closed);
    // The direct read reports its inner read's failure under its own name.
    ExpectError(CaughtError([&] { comm->ReceiveDirect(); }), 8018, "clsComm.IPortDirect_Receive", closed);
    EXPECT_EQ(CaughtError([&] { comm->ReceiveDirectV(); }).Source, "MSComm");
    EXPECT_EQ(port().Status(), 0);
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
    const auto e = CaughtError([&] { Driver(40)->IPortSetup_OnLine(true); });  // /dev/ttyS39: none here
    SetHostErrors(nullptr);
    ExpectError(e, 8002, "MSComm", "Invalid Port Number");
    EXPECT_THAT(e.Detail, HasSubstr("/dev/ttyS39"));
    // The control's own raise, then the driver's control handler raising again.
    ASSERT_FALSE(counting->sources.empty());
    EXPECT_EQ(counting->sources.back(), "MSComm");
}
