// The class factory (fresh objects, interfaces by query, the live-object count)
// and late-bound calls: every member a class lists is reached by name on a live
// port, everything else is refused, arguments convert and fail by the run time's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <tessel/gpib_sim.h>
#include <tessel/sim.h>
#include <tessel/tessel.h>  // as a host includes it
#include <tessel/th03_sim.h>

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

TEST(Factory, EveryCreationIsAFreshObjectInItsInitialState) {
    auto setup = QueryInterface<IPortSetup>(CreateObject("Tessel.clsComm"));
    ASSERT_TRUE(setup);
    setup->Name("changed");
    setup->Settings()->Item("Baud Rate")->Value(-1, -1, "300");
    auto second = QueryInterface<IPortSetup>(CreateObject("tessel.CLSCOMM"));  // identifiers ignore case
    ASSERT_TRUE(second);
    EXPECT_NE(second.get(), setup.get());
    EXPECT_EQ(second->Name(), "");
    EXPECT_EQ(second->Settings()->Item("Baud Rate")->Value(-1, -1), Variant("9600"));
    EXPECT_NE(second->Settings(), setup->Settings());
}

TEST(Factory, InterfacesShareTheObjectsLifeAndUnsupportedOnesAreNull) {
    const std::size_t before = LiveObjectCount();
    std::shared_ptr<IPort> port;
    {
        auto obj = CreateObject("Tessel.clsComm");
        EXPECT_TRUE(QueryInterface<IPortB>(obj));
        EXPECT_TRUE(QueryInterface<IPortDirect>(obj));
        port = QueryInterface<IPort>(obj);
    }
    // The interface alone keeps the object (and its settings) alive.
    EXPECT_GT(LiveObjectCount(), before);
    EXPECT_FLOAT_EQ(port->TimeOut(), 1.0f);
    EXPECT_FALSE(CanUnloadNow());
    port.reset();
    EXPECT_EQ(LiveObjectCount(), before);

    EXPECT_FALSE(QueryInterface<IPortSetup>(CreateObject("Tessel.clsTimeout")));
    EXPECT_FALSE(QueryInterface<IPort>(std::shared_ptr<Object>()));
}

TEST(Factory, UnknownIdentifierNamesItselfAndTheKnownOnes) {
    const ComError e = CaughtError([] { CreateObject("Tessel.clsModem"); });
    EXPECT_EQ(e.Number, kErrCannotCreateObject);
    EXPECT_EQ(e.Source, "Tessel");
    EXPECT_NE(e.Detail.find("Tessel.clsComm"), std::string::npos);
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
    std::shared_ptr<Object> Driver(const char* progId, std::vector<std::pair<const char*, Variant>> settings) {
        auto driver = CreateObject(progId);
        for (auto& [name, value] : settings) Set(*driver, name, std::move(value));
        return driver;
    }
    std::shared_ptr<Object> SerialOnSimulator() {
        AssignSerialPort(7, pty.SlavePath());
        return Driver("Tessel.clsComm", {{"Comm Port", int16_t{7}}, {"Handshaking", "None"}});
    }
    // Channel 2 of the simulated logger on COM1, with a light sensor.
    std::shared_ptr<Object> LoggerChannel() {
        return Driver("Tessel.clsTH03", {{"Comm Port", "COM1"}, {"Channel", "2"}, {"Sensor", "4"}});
    }

    sim::PtyServer pty;
    sim::TcpServer tcp;
};

// The default interfaces hold exactly these members; a Let is listed apart.
TEST_F(LateBound, DefaultInterfacesListExactlyTheirMembers) {
    const auto names = [](Object& obj) {
        std::set<std::string> listed;
        for (const auto& m : DefaultInterfaceOf(obj).members)
            listed.insert(m.name + (m.type == CallType::Let ? " let" : ""));
        return listed;
    };
    const std::set<std::string> name = {"IPortSetup_Name", "IPortSetup_Name let"};
    std::set<std::string> online = name, gui = name;
    online.insert({"IPortSetup_OnLine", "IPortSetup_OnLine let"});
    gui.insert({"IPort_TimeOut", "IPort_TimeOut let"});
    std::set<std::string> port = online, comm, ethernet, th03 = online;
    port.insert({"IPort_TimeOut", "IPort_TimeOut let", "IPort_Send", "IPort_Receive", "IPort_Error", "IPort_Count"});
    comm = ethernet = port;
    comm.insert({"GetMsCommErrorDescription", "SendDirect", "ReceiveDirect", "ReceiveDirectV", "IPort_Status"});
    ethernet.insert("StateString");
    th03.insert({"value", "Cycle", "Version", "Sensor", "FilterFactor", "FilterFactor let"});
    const std::pair<const char*, std::set<std::string>> cases[] = {
        {"Tessel.clsComm", comm}, {"Tessel.clsEthernet", ethernet}, {"Tessel.clsGPIB", name},
        {"Tessel.clsGUI", gui},   {"Tessel.clsTH03", th03},
        {"Tessel.clsTimeout", {"Interval", "Interval let", "Start", "State", "Clear"}}};
    for (const auto& [progId, members] : cases) EXPECT_EQ(names(*CreateObject(progId)), members) << progId;
    EXPECT_EQ(names(*Settings(*CreateObject("Tessel.clsComm"))),
              (std::set<std::string>{"Define", "Add", "Item", "Value", "Value let"}));
}

TEST_F(LateBound, PortMembersWorkByNameOnALivePort) {
    auto comm = SerialOnSimulator();
    auto eth = Driver("Tessel.clsEthernet", {{"Remote Host", "127.0.0.1"}, {"Remote Port", int32_t{tcp.Port()}}});
    EXPECT_EQ(Call(*eth, "StateString", CallType::Method), Variant("Closed"));
    // Properties convert what they are given to their type, and names ignore case.
    Let(*comm, "IPort_TimeOut", "2.5");
    EXPECT_EQ(Get(*comm, "iport_timeout"), Variant(2.5f));
    Let(*eth, "IPORT_TIMEOUT", int16_t{3});
    EXPECT_EQ(Get(*eth, "IPort_TimeOut"), Variant(3.0f));
    for (Object* port : {comm.get(), eth.get()}) {
        Let(*port, "IPortSetup_OnLine", true);
        // A reply that arrives before any Receive waits with the socket until
        // the next arrival, so a plain Send then Receive would race; the query
        // form sends inside the Receive.
        Call(*port, "IPort_Send", CallType::Method, {"*CLS"});
        EXPECT_EQ(Call(*port, "IPort_Receive", CallType::Method, {"*IDN?"}), Variant(kIdentity));
        EXPECT_EQ(Get(*port, "IPort_Count"), Variant(static_cast<int32_t>(std::strlen(kIdentity))));
        EXPECT_EQ(Get(*port, "IPort_Error"), Variant(int16_t{0}));
    }
    EXPECT_EQ(Call(*eth, "StateString", CallType::Method), Variant("Connected"));
    EXPECT_EQ(Get(*comm, "IPort_Status"), Variant(int32_t{256}));

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
}

TEST_F(LateBound, LoggerMembersWorkByNameOnASimulatedLogger) {
    auto th03 = LoggerChannel();
    Let(*th03, "IPortSetup_OnLine", true);
    EXPECT_EQ(Get(*th03, "Sensor"), Variant(int32_t{thsEL031}));
    Let(*th03, "FilterFactor", "75");
    EXPECT_EQ(Get(*th03, "FilterFactor"), Variant(int16_t{75}));

    const int32_t cycle = Get(*th03, "Cycle").ToLong();
    th03sim_set_next_reading(1, 2, -512);
    EXPECT_EQ(Get(*th03, "Value"), Variant(-5.12));
    EXPECT_EQ(Get(*th03, "Cycle"), Variant(int32_t{cycle + 1}));
    EXPECT_EQ(Get(*th03, "Version"), Variant(int32_t{3}));

    // The driver's own errors pass through unchanged, and change nothing.
    const ComError e = CaughtError([&] { Let(*th03, "FilterFactor", int16_t{101}); });
    EXPECT_EQ(e.Number, kObjectErrorBase + tthsInvalidPropertyValue);
    EXPECT_EQ(e.Source, "clsTH03.FilterFactor");
    EXPECT_EQ(Get(*th03, "FilterFactor"), Variant(int16_t{75}));
    th03sim_fail_next_read(1);
    EXPECT_EQ(CaughtError([&] { Get(*th03, "Version"); }).Source, "clsTH03.Version");
}

TEST_F(LateBound, TimerMembersWorkByName) {
    double now = 1000.0;
    clsTimeout::SetClock([&] { return now; });
    auto timer = CreateObject("Tessel.clsTimeout");
    Let(*timer, "Interval", 2.0);
    EXPECT_EQ(Get(*timer, "INTERVAL"), Variant(2.0f));
    Call(*timer, "Start", CallType::Method);  // no argument: the stored interval
    now += 3.0;
    EXPECT_EQ(Get(*timer, "State"), Variant(int32_t{tmoExpired}));
    Call(*timer, "Start", CallType::Method, {"10"});
    now += 3.0;
    EXPECT_EQ(Get(*timer, "State"), Variant(int32_t{tmoRunning}));
    Call(*timer, "Clear", CallType::Method);
    EXPECT_EQ(Get(*timer, "State"), Variant(int32_t{tmoReady}));
}

// Only -1 is True to the drivers: a Boolean 1, another language's True, takes
// an on-line port off-line and leaves an off-line one alone.
TEST_F(LateBound, OnLineByNameTakesOnlyMinusOneAsTrue) {
    const struct {
        std::shared_ptr<Object> driver;
        const char* member;
        const char* interfaceName;
        std::function<int()> opened;
    } drivers[] = {
        {SerialOnSimulator(), "IPortSetup_OnLine", "", nullptr},
        {Driver("Tessel.clsGPIB", {{"Board", "0"}, {"Primary Address", int16_t{kGpibAddress}}}), "OnLine",
         "IPortSetup", [] { return TesselGpibSimBoardOpenCount(0); }},
        {LoggerChannel(), "IPortSetup_OnLine", "", [] { return static_cast<int>(th03sim_open_count(1)); }},
        {Driver("Tessel.clsGUI", {{"Show Commands", "No"}}), "OnLine", "IPortSetup", nullptr},
    };
    for (const auto& d : drivers) {
        for (const auto& [value, online] : {std::pair{Variant::RawBoolean(1), 0}, {Variant::RawBoolean(-1), -1},
                                            {Variant::RawBoolean(1), 0}, {Variant::RawBoolean(-1), -1}}) {
            Call(*d.driver, d.member, CallType::Let, {value}, d.interfaceName);
            EXPECT_EQ(Call(*d.driver, d.member, CallType::Get, {}, d.interfaceName).RawBooleanValue(), online)
                << d.member << " " << d.interfaceName;
            if (d.opened) {
                EXPECT_EQ(d.opened(), -online);
            }
        }
    }
    // On-line, the GPIB and operator ports answer through their port
    // interfaces by name; with "Show Commands" off a Send needs no operator.
    EXPECT_EQ(Call(*drivers[1].driver, "Receive", CallType::Method, {"*IDN?"}, "IPort"), Variant(kIdentity));
    Object& gui = *drivers[3].driver;
    Call(gui, "Send", CallType::Method, {"VOLT 5"}, "IPort");
    EXPECT_EQ(Call(gui, "Status", CallType::Get, {}, "IPort").ToDouble(), 256.0);
    EXPECT_EQ(Call(gui, "Count", CallType::Get, {}, "IPort").ToDouble(), 6.0);

    // What converts to True, from on-line: each turn is a change of state.
    Object& comm = *drivers[0].driver;
    for (const auto& [value, online] : {std::pair{Variant(false), 0}, {Variant(int16_t{1}), -1},
                                        {Variant::RawBoolean(1), 0}, {Variant("True"), -1}, {Variant(false), 0},
                                        {Variant(true), -1}}) {
        Let(comm, "IPortSetup_OnLine", value);
        const Variant got = Get(comm, "IPortSetup_OnLine");
        EXPECT_EQ(got.Type(), VarType::Boolean);
        EXPECT_EQ(got.RawBooleanValue(), online) << value.ToString();
    }

    // On-line, a by-reference reply comes back through the interface; a query
    // without a place for its reply, or with Missing there, is the driver's error.
    std::vector<Variant> args = {"*IDN?", Variant()};
    CallByName(comm, "SendE", CallType::Method, args, "iport");
    EXPECT_EQ(args, (std::vector<Variant>{"*IDN?", kIdentity}));
    for (auto reply : {std::vector<Variant>{"*IDN?"}, std::vector<Variant>{"*IDN?", Variant::Missing()}}) {
        const ComError e = CaughtError([&] { CallByName(comm, "SendE", CallType::Method, reply, "IPort"); });
        EXPECT_EQ(e.Number, kObjectErrorBase + kErrReturnParameterMissing);
    }
}

// Calls go by the same tables the interfaces are listed from (above), so a
// few names show that anything off the list is refused, whatever the call.
TEST_F(LateBound, MembersOffTheDefaultInterfaceAreNotFound) {
    for (const auto& [progId, member] : {std::pair{"Tessel.clsComm", "IPort_SendE"}, {"Tessel.clsComm", "Receive"},
                                         {"Tessel.clsGPIB", "IPort_Send"}, {"Tessel.clsTimeout", ""}}) {
        for (CallType type : {CallType::Method, CallType::Get, CallType::Let}) {
            const ComError e = CaughtError([&] { Call(*CreateObject(progId), member, type, {int16_t{1}}); });
            EXPECT_EQ(e.Number, kErrMemberNotFound) << progId << " " << member;
            EXPECT_EQ(e.Source, "Tessel");
        }
    }
}

TEST_F(LateBound, ArgumentsConvertOrFailByTheRunTimesRules) {
    auto comm = CreateObject("Tessel.clsComm");
    auto timer = CreateObject("Tessel.clsTimeout");
    auto settings = Settings(*comm);
    constexpr auto kMethod = CallType::Method, kGet = CallType::Get, kLet = CallType::Let;
    const struct {
        Object& obj;
        const char* member;
        CallType type;
        std::vector<Variant> args;
        int32_t error;
    } cases[] = {
        {*comm, "IPort_TimeOut", kLet, {"fast"}, kErrTypeMismatch},                   // text that is no number
        {*timer, "Interval", kLet, {Variant::Bytes({1})}, kErrTypeMismatch},          // bytes for a number
        {*comm, "IPort_Send", kMethod, {Variant(settings)}, kErrTypeMismatch},        // an object for text
        {*comm, "GetMsCommErrorDescription", kMethod, {int32_t{40000}}, kErrOverflow},  // beyond an Integer
        {*timer, "Interval", kLet, {"1E39"}, kErrOverflow},                           // beyond a Single
        {*settings, "Value", kGet, {3e9, int32_t{-1}}, kErrOverflow},                 // beyond a Long
        {*comm, "IPort_Send", kMethod, {}, kErrArgumentNotOptional},
        {*comm, "IPort_Send", kMethod, {Variant::Missing()}, kErrArgumentNotOptional},
        {*comm, "IPort_Receive", kMethod, {"*IDN?", "again"}, kErrWrongArgumentCount},
        {*comm, "IPort_Status", kLet, {int16_t{0}}, kErrWrongArgumentCount},  // a read-only property
    };
    for (const auto& c : cases) {
        std::vector<Variant> args = c.args;
        const ComError e = CaughtError([&] { CallByName(c.obj, c.member, c.type, args); });
        EXPECT_EQ(e.Number, c.error) << c.member << " with " << args.size() << " argument(s)";
        EXPECT_EQ(e.Description, RuntimeErrorText(c.error)) << c.member;
    }
    // Conversions that succeed: a numeric text, a Double rounded half to even.
    for (const Variant& code : {Variant(" 8002 "), Variant(8002.5)})
        EXPECT_EQ(Call(*comm, "GetMsCommErrorDescription", CallType::Method, {code}), Variant("Invalid Port Number"));
}

TEST_F(LateBound, InterfacesAreNamedByNameOrIdentifier) {
    auto comm = CreateObject("Tessel.clsComm");
    auto timer = CreateObject("Tessel.clsTimeout");
    Call(*comm, "Name", CallType::Let, {"by id"}, std::string("{").append(kIidIPortSetup).append("}"));
    EXPECT_EQ(Get(*comm, "IPortSetup_Name"), Variant("by id"));
    EXPECT_EQ(Call(*comm, "IPort_TimeOut", CallType::Get, {}, "_clsComm"), Variant(1.0f));
    EXPECT_FALSE(Implements(*comm, "IPortFast"));
    for (const char* name : {"IPort", "IPortFast", "_clsEthernet"})
        EXPECT_EQ(CaughtError([&] { Call(*timer, "Count", CallType::Get, {}, name); }).Number, kErrTypeMismatch)
            << name;
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
        auto obj = CreateObjectById("{" + lower + "}");
        EXPECT_EQ(DefaultInterfaceOf(*obj).id, c.defaultInterface.id);
        for (const char* port : {"IPort", "IPortB", "IPortDirect", "IPortSetup"})
            EXPECT_EQ(Implements(*obj, port), std::count(c.interfaces.begin(), c.interfaces.end(), port) == 1) << port;
    }
    EXPECT_EQ(ids.size(), 2 * classes.size());
    EXPECT_EQ(classes[0].id, kClsidComm);
    EXPECT_EQ(CaughtError([] { CreateObjectById("00000000-0000-0000-0000-000000000000"); }).Number,
              kErrCannotCreateObject);
}

// Each enumeration's names and values are distinct, so a host can go either way.
TEST_F(LateBound, EnumerationsAreListedByNameAndValue) {
    std::vector<std::string> names;
    for (const auto& e : Enumerations()) {
        names.push_back(e.name);
        std::set<std::string> members;
        std::set<int32_t> values;
        for (const auto& [name, value] : e.members) members.insert(name), values.insert(value);
        EXPECT_EQ(members.size() + values.size(), 2 * e.members.size()) << e.name << ": a name or value twice";
    }
    EXPECT_EQ(names, (std::vector<std::string>{"tmoStates", "tibErrorConstants", "ErrorConstants", "TH03Sensors"}));
    EXPECT_EQ(Enumerations()[0].members,
              (std::vector<std::pair<std::string, int32_t>>{
                  {"tmoReady", tmoReady}, {"tmoRunning", tmoRunning}, {"tmoExpired", tmoExpired}}));
}

}  // namespace
