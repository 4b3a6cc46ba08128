// clsGUI's members that need no operator: settings, time-out, on-line state,
// and the errors raised before anything is shown.
#include <gtest/gtest.h>

#include <tessel/tessel.h>

#include "support/errors.h"
#include "support/trace_recorder.h"

namespace tessel::test {
namespace {

TEST(ClsGUI, ASendShownToNobodyIsStillTracedUnderThePortsName) {
    Recorder trace;
    auto gui = std::make_shared<clsGUI>();
    IPortSetup& setup = *gui;
    setup.Name("Bench");
    setup.Settings()->Item("Show Commands")->Value(-1, -1, Variant("No"));
    setup.OnLine(true);
    static_cast<IPort&>(*gui).Send("VOLT 5");
    const auto records = trace.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].direction, TraceDirection::Sent);
    EXPECT_EQ(records[0].port, "console Bench");
    EXPECT_EQ(records[0].bytes, "VOLT 5");
}

TEST(ClsGUI, ImplementsTheTwoInterfacesOnly) {
    std::shared_ptr<Object> object = std::make_shared<clsGUI>();
    EXPECT_NE(QueryInterface<IPort>(object), nullptr);
    EXPECT_NE(QueryInterface<IPortSetup>(object), nullptr);
    EXPECT_EQ(QueryInterface<IPortB>(object), nullptr);
    EXPECT_EQ(QueryInterface<IPortDirect>(object), nullptr);
}

TEST(ClsGUI, SettingsAreDefinedInOrderWithTheirDefaults) {
    clsGUI gui;
    auto settings = static_cast<IPortSetup&>(gui).Settings();
    EXPECT_EQ(settings, static_cast<IPortSetup&>(gui).Settings());  // the root itself, not a copy
    struct Expected {
        const char* name;
        int16_t kind;
        const char* allowed;
        const char* unit;
        Variant value;
    };
    const Expected expected[] = {
        {"Show Commands", kParameterList, "Yes=-1,No=0", "", Variant("-1")},
        {"X Position", kParameterRange, "0<1>100", "%", Variant(int16_t{0})},
        {"Y Position", kParameterRange, "0<1>100", "%", Variant(int16_t{0})},
    };
    ASSERT_EQ(settings->Children().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& setting = settings->Children()[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(setting->Name(), expected[i].name);
        EXPECT_EQ(setting->Kind(), expected[i].kind);
        EXPECT_EQ(setting->Allowed(), expected[i].allowed);
        EXPECT_EQ(setting->Unit(), expected[i].unit);
        EXPECT_EQ(setting->Value(-1, -1), expected[i].value);
    }
}

TEST(ClsGUI, TimeOutIsOnlyStored) {
    clsGUI gui;
    IPort& port = gui;
    EXPECT_EQ(port.TimeOut(), 0.0f);
    for (float seconds : {2.5f, -1.0f, 0.0f, 1e30f}) {
        port.TimeOut(seconds);
        EXPECT_EQ(port.TimeOut(), seconds);
    }
}

TEST(ClsGUI, OnlyTrueItselfGoesOnLine) {
    clsGUI gui;
    IPortSetup& setup = gui;
    EXPECT_FALSE(setup.OnLine());
    struct Case {
        Variant value;
        bool online;
    };
    for (const Case& c : {Case{Variant(true), true}, Case{Variant(int16_t{1}), false},
                          Case{Variant::RawBoolean(-1), true}, Case{Variant::RawBoolean(1), false},
                          Case{Variant(int16_t{-1}), true}, Case{Variant(false), false}}) {
        gui.IPortSetup_OnLine(c.value);
        EXPECT_EQ(setup.OnLine(), c.online) << c.value.ToString();
    }
}

TEST(ClsGUI, NameIsStoredAsGiven) {
    clsGUI gui;
    IPortSetup& setup = gui;
    EXPECT_EQ(setup.Name(), "");
    setup.Name("Bench 3 @ line 2");
    EXPECT_EQ(setup.Name(), "Bench 3 @ line 2");
}

// Failures before the operator is asked: the member's source, the number as
// caught; the positions' failure reaches the caller as the conversion raised it.
TEST(ClsGUI, FailuresCarryTheMembersSource) {
    clsGUI gui;
    IPort& port = gui;
    IPortSetup& setup = gui;
    setup.Settings()->Item("Show Commands")->Value(-1, -1, Variant("Perhaps"));
    ComError e = CaughtError([&] { port.Send("x"); });
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, "clsGUI.IPort_Send");

    // An object as the prompt: it has no text.
    e = CaughtError([&] { port.Receive(Variant(std::static_pointer_cast<Object>(setup.Settings()))); });
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, "clsGUI.IPort_Receive");

    setup.Settings()->Item("X Position")->Value(-1, -1, Variant("left"));
    e = CaughtError([&] { setup.OnLine(true); });
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, kRuntimeSource);
    EXPECT_EQ(port.Status(), 0);  // nothing completed
    EXPECT_EQ(port.Count(), 0);
}

}  // namespace
}  // namespace tessel::test
