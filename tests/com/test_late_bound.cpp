// Late-bound calls: every member a class lists is reached by name on a live
// port, everything else is refused, and arguments convert and fail by the
// run time's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <tessel/error.h>
#include <tessel/factory.h>
#include <tessel/gpib.h>
#include <tessel/gpib_sim.h>
#include <tessel/host.h>
#include <tessel/identifiers.h>
#include <tessel/late_bound.h>
#include <tessel/serial_ports.h>
#include <tessel/sim.h>
#include <tessel/th03.h>
#include <tessel/th03_sim.h>
#include <tessel/timeout.h>

#include "support/errors.h"

using namespace tessel;
using test::CaughtError;

namespace {

constexpr const char* kIdentity = "Tessel,SIM-488,0,1.0";
constexpr int kGpibAddress = 12;

Variant Call(Object& obj, std::string_view member, CallType type, std::vector<Variant> args = {},
             std::string_view interfaceName = {}) {
    return CallByName(obj, member, type, args, interfaceName);
}
Variant Get(Object& obj, std::string_view member) { return Call(obj, member, CallType::Get); }
void Let(Object& obj, std::string_view member, Variant value) { Call(obj, member, CallType::Let, {std::move(value)}); }

std::set<std::string> MemberNames(const InterfaceInfo& info) {
    std::set<std::string> names;
    for (const auto& m : info.members) names.insert(m.name + (m.type == CallType::Let ? " let" : ""));
    return names;
}

// The simulated loggers' calls, one a line.
std::string LoggerCalls() {
    std::string log(th03sim_call_log(nullptr, 0) + 1, '\0');
    th03sim_call_log(log.data(), log.size());
    log.pop_back();
    return log;
}

class LateBound : public ::testing::Test {
protected:
    void SetUp() override {
        DefaultHostControl().Reset();
        UseGpibLibrary(GPIB_SIM_LIBRARY);
        TesselGpibSimReset();
        ASSERT_EQ(TesselGpibSimPlace(0, kGpibAddress, 0, 100), 0);
        UseTH03Library("");
        th03sim_reset();
    }
    void TearDown() override { clsTimeout::SetClock(nullptr); }

    // The settings object of a driver, reached by name as a host reaches it.
    std::shared_ptr<Object> Settings(Object& driver) {
        return Call(driver, "Settings", CallType::Get, {}, "IPortSetup").AsObject();
    }
    void Set(Object& driver, const char* name, Variant value) {
        auto item = Call(*Settings(driver), "Item", CallType::Get, {name}).AsObject();
        Call(*item, "Value", CallType::Let, {int32_t{-1}, int32_t{-1}, std::move(value)});
    }
    std::shared_ptr<Object> SerialOnSimulator() {
        auto comm = CreateObject("Tessel.clsComm");
        AssignSerialPort(7, pty.SlavePath());
        Set(*comm, "Comm Port", int16_t{7});
        Set(*comm, "Handshaking", "None");
        return comm;
    }
    std::shared_ptr<Object> GpibOnSimulatedBus() {
        auto gpib = CreateObject("Tessel.clsGPIB");
        Set(*gpib, "Board", "0");
        Set(*gpib, "Primary Address", int16_t{kGpibAddress});
        return gpib;
    }
    // Channel 2 of the simulated logger on COM1, with a light sensor.
    std::shared_ptr<Object> LoggerChannel() {
        auto th03 = CreateObject("Tessel.clsTH03");
        Set(*th03, "Comm Port", "COM1");
        Set(*th03, "Channel", "2");
        Set(*th03, "Sensor", "4");
        return th03;
    }

    sim::PtyServer pty;
};

// The default interfaces hold exactly these members; a Let is listed apart.
TEST_F(LateBound, DefaultInterfacesListExactlyTheirMembers) {
    const std::set<std::string> port = {"IPort_TimeOut", "IPort_TimeOut let", "IPort_Send", "IPort_Receive",
                                        "IPort_Error", "IPort_Count", "IPortSetup_OnLine", "IPortSetup_OnLine let",
                                        "IPortSetup_Name", "IPortSetup_Name let"};
    std::set<std::string> comm = port;
    comm.insert({"GetMsCommErrorDescription", "SendDirect", "ReceiveDirect", "ReceiveDirectV", "IPort_Status"});
    std::set<std::string> ethernet = port;
    ethernet.insert("StateString");
    const std::set<std::string> timeout = {"Interval", "Interval let", "Start", "State", "Clear"};
    const std::set<std::string> gpib = {"IPortSetup_Name", "IPortSetup_Name let"};
    const std::set<std::string> gui = {"IPort_TimeOut", "IPort_TimeOut let", "IPortSetup_Name",
                                       "IPortSetup_Name let"};
    const std::set<std::string> th03 = {"value", "Cycle", "Version", "Sensor", "FilterFactor", "FilterFactor let",
                                        "IPortSetup_Name", "IPortSetup_Name let", "IPortSetup_OnLine",
                                        "IPortSetup_OnLine let"};
    const struct {
        const char* progId;
        const std::set<std::string>& members;
    } cases[] = {{"Tessel.clsComm", comm}, {"Tessel.clsEthernet", ethernet}, {"Tessel.clsTimeout", timeout},
                 {"Tessel.clsGPIB", gpib}, {"Tessel.clsGUI", gui},           {"Tessel.clsTH03", th03}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progId);
        EXPECT_EQ(MemberNames(DefaultInterfaceOf(*CreateObject(c.progId))), c.members);
    }
    auto settings = Settings(*CreateObject("Tessel.clsComm"));
    EXPECT_EQ(MemberNames(DefaultInterfaceOf(*settings)),
              (std::set<std::string>{"Define", "Add", "Item", "Value", "Value let"}));
}

TEST_F(LateBound, SerialMembersWorkByNameOnALivePort) {
    auto comm = SerialOnSimulator();
    Let(*comm, "IPortSetup_Name", "bench supply");
    EXPECT_EQ(Get(*comm, "IPortSetup_Name"), Variant("bench supply"));
    Let(*comm, "IPort_TimeOut", "2.5");  // text converts
    EXPECT_EQ(Get(*comm, "IPort_TimeOut"), Variant(2.5f));
    EXPECT_EQ(Call(*comm, "GetMsCommErrorDescription", CallType::Method, {int32_t{8002}}),
              Variant("Invalid Port Number"));

    Let(*comm, "IPortSetup_OnLine", true);
    EXPECT_EQ(Get(*comm, "IPortSetup_OnLine").RawBooleanValue(), -1);
    Call(*comm, "IPort_Send", CallType::Method, {"*CLS"});
    EXPECT_EQ(Call(*comm, "IPort_Receive", CallType::Method, {"*IDN?"}), Variant(kIdentity));
    EXPECT_EQ(Get(*comm, "IPort_Status"), Variant(int32_t{256}));
    EXPECT_EQ(Get(*comm, "IPort_Count"), Variant(static_cast<int32_t>(std::string(kIdentity).size())));
    EXPECT_EQ(Get(*comm, "IPort_Error"), Variant(int16_t{0}));

    // The direct members move bytes as they are: the reply keeps its CR LF.
    Call(*comm, "SendDirect", CallType::Method, {"*IDN?\r\n"});
    std::string direct;
    for (int i = 0; i < 100 && direct.find('\n') == std::string::npos; ++i) {
        float seconds = 0.05f;
        CurrentHostControl().Delay(seconds);
        direct += Call(*comm, "ReceiveDirect", CallType::Method).ToString();
    }
    EXPECT_EQ(direct, std::string(kIdentity) + "\r\n");
    EXPECT_EQ(Call(*comm, "ReceiveDirectV", CallType::Method), Variant(""));

    Let(*comm, "IPortSetup_OnLine", false);
    EXPECT_EQ(Get(*comm, "IPortSetup_OnLine").RawBooleanValue(), 0);
}

TEST_F(LateBound, EthernetMembersWorkByNameOnALiveConnection) {
    sim::TcpServer server;
    auto eth = CreateObject("Tessel.clsEthernet");
    Set(*eth, "Remote Host", "127.0.0.1");
    Set(*eth, "Remote Port", static_cast<int32_t>(server.Port()));
    EXPECT_EQ(Call(*eth, "StateString", CallType::Method), Variant("Closed"));
    Let(*eth, "IPort_TimeOut", int16_t{3});
    EXPECT_EQ(Get(*eth, "IPort_TimeOut"), Variant(3.0f));
    Let(*eth, "IPortSetup_Name", "dmm");
    EXPECT_EQ(Get(*eth, "iportsetup_name"), Variant("dmm"));

    Let(*eth, "IPortSetup_OnLine", true);
    EXPECT_EQ(Get(*eth, "IPortSetup_OnLine").RawBooleanValue(), -1);
    EXPECT_EQ(Call(*eth, "StateString", CallType::Method), Variant("Connected"));
    // A reply that arrives before any Receive waits with the socket until the
    // next arrival, so a plain Send then Receive would race; the query form
    // sends inside the Receive.
    Call(*eth, "IPort_Send", CallType::Method, {"*CLS"});
    EXPECT_EQ(Call(*eth, "IPort_Receive", CallType::Method, {"*IDN?"}), Variant(kIdentity));
    EXPECT_EQ(Get(*eth, "IPort_Count"), Variant(static_cast<int32_t>(std::string(kIdentity).size())));
    EXPECT_EQ(Get(*eth, "IPort_Error"), Variant(int16_t{0}));
    Let(*eth, "IPortSetup_OnLine", false);
}

// The default interface holds only the name; the instrument is reached
// through the port interfaces, by name as well.
TEST_F(LateBound, GpibMembersWorkByNameOnTheSimulatedBus) {
    auto gpib = GpibOnSimulatedBus();
    Let(*gpib, "IPortSetup_Name", "counter");
    EXPECT_EQ(Get(*gpib, "IPORTSETUP_NAME"), Variant("counter"));
    EXPECT_EQ(Call(*gpib, "Name", CallType::Get, {}, "IPortSetup"), Variant("counter"));

    Call(*gpib, "OnLine", CallType::Let, {true}, "IPortSetup");
    EXPECT_EQ(TesselGpibSimRemoteState(0, kGpibAddress) & 1, 1);
    EXPECT_EQ(Call(*gpib, "Receive", CallType::Method, {"*IDN?"}, "IPort"), Variant(kIdentity));
    Call(*gpib, "OnLine", CallType::Let, {false}, "IPortSetup");
    EXPECT_EQ(TesselGpibSimRemoteState(0, kGpibAddress) & 1, 0);
    EXPECT_EQ(TesselGpibSimBoardOpenCount(0), 0);
}

TEST_F(LateBound, LoggerMembersWorkByNameOnASimulatedLogger) {
    auto th03 = LoggerChannel();
    Let(*th03, "IPortSetup_Name", "oven");
    EXPECT_EQ(Get(*th03, "IPortSetup_Name"), Variant("oven"));
    EXPECT_EQ(Get(*th03, "Sensor"), Variant(int32_t{thsOff}));  // read at on-line only

    Let(*th03, "IPortSetup_OnLine", true);
    EXPECT_EQ(Get(*th03, "IPortSetup_OnLine").RawBooleanValue(), -1);
    EXPECT_EQ(Get(*th03, "Sensor"), Variant(int32_t{thsEL031}));
    EXPECT_EQ(Get(*th03, "FilterFactor"), Variant(int16_t{10}));
    Let(*th03, "FilterFactor", "75");
    EXPECT_EQ(Get(*th03, "FilterFactor"), Variant(int16_t{75}));

    const int32_t cycle = Get(*th03, "Cycle").ToLong();
    th03sim_set_next_reading(1, 2, -512);
    EXPECT_EQ(Get(*th03, "Value"), Variant(-5.12));
    EXPECT_NE(LoggerCalls().find("th03_get_temp(1, 2, 75) = 1\n"), std::string::npos) << LoggerCalls();
    EXPECT_EQ(Get(*th03, "Cycle"), Variant(int32_t{cycle + 1}));
    EXPECT_EQ(Get(*th03, "Version"), Variant(int32_t{3}));

    // The driver's own errors pass through unchanged, and change nothing.
    const ComError e = CaughtError([&] { Let(*th03, "FilterFactor", int16_t{101}); });
    EXPECT_EQ(e.Number, kObjectErrorBase + tthsInvalidPropertyValue);
    EXPECT_EQ(e.Source, "clsTH03.FilterFactor");
    EXPECT_EQ(Get(*th03, "FilterFactor"), Variant(int16_t{75}));
    th03sim_fail_next_read(1);
    EXPECT_EQ(CaughtError([&] { Get(*th03, "Version"); }).Source, "clsTH03.Version");

    Let(*th03, "IPortSetup_OnLine", false);
    EXPECT_EQ(Get(*th03, "IPortSetup_OnLine").RawBooleanValue(), 0);
    EXPECT_EQ(th03sim_open_count(1), 0);
}

TEST_F(LateBound, TimerMembersWorkByName) {
    double now = 1000.0;
    clsTimeout::SetClock([&] { return now; });
    auto timer = CreateObject("Tessel.clsTimeout");
    Let(*timer, "Interval", 2.0);
    EXPECT_EQ(Get(*timer, "INTERVAL"), Variant(2.0f));
    Call(*timer, "Start", CallType::Method);  // no argument: the stored interval
    EXPECT_EQ(Get(*timer, "State"), Variant(int32_t{tmoRunning}));
    now += 3.0;
    EXPECT_EQ(Get(*timer, "State"), Variant(int32_t{tmoExpired}));
    Call(*timer, "Start", CallType::Method, {"10"});
    now += 3.0;
    EXPECT_EQ(Get(*timer, "State"), Variant(int32_t{tmoRunning}));
    Call(*timer, "Clear", CallType::Method);
    EXPECT_EQ(Get(*timer, "State"), Variant(int32_t{tmoReady}));
}

TEST_F(LateBound, MembersOffTheDefaultInterfaceAreNotFound) {
    const struct {
        const char* progId;
        const char* member;
    } cases[] = {
        {"Tessel.clsComm", "IPort_SendE"},         {"Tessel.clsComm", "IPortSetup_Settings"},
        {"Tessel.clsComm", "IPortB_SendB"},        {"Tessel.clsComm", "IPortB_ReceiveB"},
        {"Tessel.clsComm", "IPortDirect_Send"},    {"Tessel.clsComm", "Receive"},
        {"Tessel.clsComm", "Settings"},            {"Tessel.clsEthernet", "IPort_Status"},
        {"Tessel.clsEthernet", "IPort_SendE"},     {"Tessel.clsEthernet", "IPortSetup_Settings"},
        {"Tessel.clsEthernet", "SendDirect"},      {"Tessel.clsEthernet", "IPortB_ReceiveB"},
        {"Tessel.clsTimeout", "SecondsUntilExpiry"}, {"Tessel.clsTimeout", "IPortSetup_Name"},
        {"Tessel.clsTimeout", ""},
        {"Tessel.clsGPIB", "IPortSetup_OnLine"},   {"Tessel.clsGPIB", "IPort_TimeOut"},
        {"Tessel.clsGPIB", "IPort_Send"},          {"Tessel.clsGPIB", "IPort_Receive"},
        {"Tessel.clsGPIB", "IPort_SendE"},         {"Tessel.clsGPIB", "IPortB_ReceiveB"},
        {"Tessel.clsGPIB", "IPortSetup_Settings"}, {"Tessel.clsGPIB", "GetGpibErrorDescription"},
        {"Tessel.clsTH03", "IPortSetup_Settings"}, {"Tessel.clsTH03", "Settings"},
        {"Tessel.clsTH03", "OnLine"},              {"Tessel.clsTH03", "IPort_Receive"},
        {"Tessel.clsTH03", "Channel"},
        {"Tessel.clsGUI", "IPort_Send"},           {"Tessel.clsGUI", "IPort_Receive"},
        {"Tessel.clsGUI", "IPort_SendE"},          {"Tessel.clsGUI", "IPortSetup_OnLine"},
        {"Tessel.clsGUI", "IPort_Status"},         {"Tessel.clsGUI", "IPortSetup_Settings"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.progId) + " " + c.member);
        auto obj = CreateObject(c.progId);
        for (CallType type : {CallType::Method, CallType::Get, CallType::Let}) {
            const ComError e = CaughtError([&] { Call(*obj, c.member, type, {int16_t{1}}); });
            EXPECT_EQ(e.Number, kErrMemberNotFound);
            EXPECT_EQ(e.Description, "Object doesn't support this property or method");
            EXPECT_EQ(e.Source, "Tessel");
        }
    }
}

TEST_F(LateBound, ArgumentsConvertOrFailByTheRunTimesRules) {
    auto comm = CreateObject("Tessel.clsComm");
    auto timer = CreateObject("Tessel.clsTimeout");
    auto th03 = CreateObject("Tessel.clsTH03");
    auto settings = Settings(*comm);
    const struct {
        const char* what;
        Object& obj;
        const char* member;
        CallType type;
        std::vector<Variant> args;
        int32_t error;
    } cases[] = {
        {"text that is no number", *comm, "IPort_TimeOut", CallType::Let, {"fast"}, kErrTypeMismatch},
        {"a byte array for a number", *timer, "Interval", CallType::Let, {Variant::Bytes({1})}, kErrTypeMismatch},
        {"an object for text", *comm, "IPort_Send", CallType::Method, {Variant(settings)}, kErrTypeMismatch},
        {"beyond an Integer", *comm, "GetMsCommErrorDescription", CallType::Method, {int32_t{40000}}, kErrOverflow},
        {"beyond a Single", *timer, "Interval", CallType::Let, {"1E39"}, kErrOverflow},
        {"beyond a Long", *settings, "Value", CallType::Get, {3e9, int32_t{-1}}, kErrOverflow},
        {"a required argument left out", *comm, "IPort_Send", CallType::Method, {}, kErrArgumentNotOptional},
        {"a required argument Missing", *comm, "IPort_Send", CallType::Method, {Variant::Missing()},
         kErrArgumentNotOptional},
        {"a leading index left out", *settings, "Value", CallType::Get, {int32_t{-1}}, kErrArgumentNotOptional},
        {"one argument too many", *comm, "IPort_Receive", CallType::Method, {"*IDN?", "again"},
         kErrWrongArgumentCount},
        {"an argument for none", *timer, "Clear", CallType::Method, {int16_t{0}}, kErrWrongArgumentCount},
        {"a Let of a read-only property", *comm, "IPort_Status", CallType::Let, {int16_t{0}},
         kErrWrongArgumentCount},
        {"a Let of a method", *timer, "Start", CallType::Let, {int16_t{1}}, kErrWrongArgumentCount},
        {"beyond a filter factor", *th03, "FilterFactor", CallType::Let, {int32_t{40000}}, kErrOverflow},
        {"a Let of a reading", *th03, "value", CallType::Let, {1.0}, kErrWrongArgumentCount},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Variant> args = c.args;
        const ComError e = CaughtError([&] { CallByName(c.obj, c.member, c.type, args); });
        EXPECT_EQ(e.Number, c.error);
        EXPECT_EQ(e.Description, RuntimeErrorText(c.error));
    }
    // Conversions that succeed: a numeric text, a Double rounded half to even.
    EXPECT_EQ(Call(*comm, "GetMsCommErrorDescription", CallType::Method, {" 8002 "}), Variant("Invalid Port Number"));
    EXPECT_EQ(Call(*comm, "GetMsCommErrorDescription", CallType::Method, {8002.5}), Variant("Invalid Port Number"));
}

TEST_F(LateBound, OnlyMinusOneIsTrue) {
    const struct {
        const char* what;
        Variant value;
        bool online;
    } cases[] = {
        {"a Boolean -1", Variant::RawBoolean(-1), true},
        {"True", Variant(true), true},
        {"another language's Boolean 1", Variant::RawBoolean(1), false},
        {"False", Variant(false), false},
        {"the Integer 1, which converts to True", Variant(int16_t{1}), true},
        {"the text \"True\"", Variant("True"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto comm = SerialOnSimulator();
        Let(*comm, "IPortSetup_OnLine", c.value);
        const Variant online = Get(*comm, "IPortSetup_OnLine");
        EXPECT_EQ(online.Type(), VarType::Boolean);
        EXPECT_EQ(online.RawBooleanValue(), c.online ? -1 : 0);
    }
}

// A Boolean 1 is an off-line transition for the drivers that take only -1 as
// True: it takes an on-line port off-line and leaves an off-line one alone.
TEST_F(LateBound, BooleanOneTakesDriversOffLine) {
    const struct {
        const char* what;
        std::function<std::shared_ptr<Object>()> make;
        const char* member;
        const char* interfaceName;
        std::function<int()> opened;
    } drivers[] = {
        {"clsGPIB", [this] { return GpibOnSimulatedBus(); }, "OnLine", "IPortSetup",
         [] { return TesselGpibSimBoardOpenCount(0); }},
        {"clsTH03", [this] { return LoggerChannel(); }, "IPortSetup_OnLine", "",
         [] { return static_cast<int>(th03sim_open_count(1)); }},
    };
    for (const auto& d : drivers) {
        SCOPED_TRACE(d.what);
        const auto online = [&](Object& o) {
            return Call(o, d.member, CallType::Get, {}, d.interfaceName).RawBooleanValue();
        };
        auto off = d.make();
        Call(*off, d.member, CallType::Let, {Variant::RawBoolean(1)}, d.interfaceName);
        EXPECT_EQ(online(*off), 0);
        EXPECT_EQ(d.opened(), 0);

        auto on = d.make();
        Call(*on, d.member, CallType::Let, {Variant::RawBoolean(-1)}, d.interfaceName);
        EXPECT_EQ(online(*on), -1);
        EXPECT_EQ(d.opened(), 1);
        Call(*on, d.member, CallType::Let, {Variant::RawBoolean(1)}, d.interfaceName);
        EXPECT_EQ(online(*on), 0);
        EXPECT_EQ(d.opened(), 0);
    }
}

// With "Show Commands" off a Send needs no operator, so the console's members
// can be reached by name on any machine.
TEST_F(LateBound, OperatorPortMembersWorkByNameWithoutAnOperator) {
    auto gui = CreateObject("Tessel.clsGUI");
    Let(*gui, "iport_timeout", "2.5");
    EXPECT_EQ(Get(*gui, "IPort_TimeOut"), Variant(2.5f));
    Let(*gui, "IPortSetup_Name", "bench");
    EXPECT_EQ(Get(*gui, "IPortSetup_Name"), Variant("bench"));
    Set(*gui, "Show Commands", "No");

    const auto online = [&] { return Call(*gui, "OnLine", CallType::Get, {}, "IPortSetup").RawBooleanValue(); };
    Call(*gui, "OnLine", CallType::Let, {Variant::RawBoolean(1)}, "IPortSetup");
    EXPECT_EQ(online(), 0);
    Call(*gui, "OnLine", CallType::Let, {Variant::RawBoolean(-1)}, "IPortSetup");
    EXPECT_EQ(online(), -1);
    Call(*gui, "Send", CallType::Method, {"VOLT 5"}, "IPort");
    EXPECT_EQ(Call(*gui, "Status", CallType::Get, {}, "IPort").ToDouble(), 256.0);
    EXPECT_EQ(Call(*gui, "Count", CallType::Get, {}, "IPort").ToDouble(), 6.0);
    Call(*gui, "OnLine", CallType::Let, {Variant::RawBoolean(1)}, "IPortSetup");
    EXPECT_EQ(online(), 0);
}

TEST_F(LateBound, ByReferenceReplyComesBackThroughTheInterface) {
    auto comm = SerialOnSimulator();
    Call(*comm, "OnLine", CallType::Let, {true}, "IPortSetup");
    std::vector<Variant> args = {"*IDN?", Variant()};
    CallByName(*comm, "SendE", CallType::Method, args, "iport");
    EXPECT_EQ(args[1], Variant(kIdentity));
    EXPECT_EQ(args[0], Variant("*IDN?"));

    // A query without a place for its reply, or with Missing there, is the driver's error.
    for (auto reply : {std::vector<Variant>{"*IDN?"}, std::vector<Variant>{"*IDN?", Variant::Missing()}}) {
        const ComError e = CaughtError([&] { CallByName(*comm, "SendE", CallType::Method, reply, "IPort"); });
        EXPECT_EQ(e.Number, kObjectErrorBase + kErrReturnParameterMissing);
    }
}

TEST_F(LateBound, InterfacesAreNamedByNameOrIdentifier) {
    auto comm = CreateObject("Tessel.clsComm");
    auto timer = CreateObject("Tessel.clsTimeout");
    const std::string braced = std::string("{").append(kIidIPortSetup).append("}");
    Call(*comm, "Name", CallType::Let, {"by id"}, braced);
    EXPECT_EQ(Get(*comm, "IPortSetup_Name"), Variant("by id"));
    EXPECT_EQ(Call(*comm, "IPort_TimeOut", CallType::Get, {}, "_clsComm"), Variant(1.0f));

    EXPECT_TRUE(Implements(*comm, "IPortDirect"));
    EXPECT_FALSE(Implements(*timer, "IPort"));
    EXPECT_FALSE(Implements(*comm, "IPortFast"));
    for (const char* name : {"IPort", "IPortFast", "_clsEthernet"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CaughtError([&] { Call(*timer, "Count", CallType::Get, {}, name); }).Number, kErrTypeMismatch);
    }
}

TEST_F(LateBound, ClassesHaveFixedDistinctIdentifiers) {
    const auto classes = ClassList();
    EXPECT_EQ(classes.size(), RegisteredClasses().size());
    std::set<std::string> ids;
    for (const auto& c : classes) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.progId, "Tessel." + c.name);
        EXPECT_EQ(c.defaultInterface.name, "_" + c.name);
        ids.insert({c.id, c.defaultInterface.id});
        // By identifier, in lower case with braces, as a host may have stored it.
        std::string lower = c.id;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
        auto obj = CreateObjectById(std::string("{").append(lower).append("}"));
        EXPECT_EQ(DefaultInterfaceOf(*obj).id, c.defaultInterface.id);
        for (const char* port : {"IPort", "IPortB", "IPortDirect", "IPortSetup"}) {
            const bool listed = std::find(c.interfaces.begin(), c.interfaces.end(), port) != c.interfaces.end();
            EXPECT_EQ(Implements(*obj, port), listed) << port;
        }
    }
    EXPECT_EQ(ids.size(), 2 * classes.size());
    EXPECT_EQ(ClassList()[0].id, kClsidComm);
    EXPECT_EQ(CaughtError([] { CreateObjectById("00000000-0000-0000-0000-000000000000"); }).Number,
              kErrCannotCreateObject);
}

TEST_F(LateBound, EnumerationsAreListedByNameAndValue) {
    std::vector<std::string> names;
    for (const auto& e : Enumerations()) {
        names.push_back(e.name);
        std::set<std::string> members;
        std::set<int32_t> values;
        for (const auto& [name, value] : e.members) {
            members.insert(name);
            values.insert(value);
        }
        EXPECT_EQ(members.size(), e.members.size()) << e.name;
        EXPECT_EQ(values.size(), e.members.size()) << e.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"tmoStates", "tibErrorConstants", "ErrorConstants", "TH03Sensors"}));
    const auto all = Enumerations();
    EXPECT_EQ(all[0].members, (std::vector<std::pair<std::string, int32_t>>{
                                  {"tmoReady", tmoReady}, {"tmoRunning", tmoRunning}, {"tmoExpired", tmoExpired}}));
    EXPECT_EQ(all[1].members.size(), 17u);
    EXPECT_EQ(all[1].members.back(), (std::pair<std::string, int32_t>{"tibELCK", 2051}));
    EXPECT_EQ(all[3].members.size(), 8u);
}

}  // namespace
