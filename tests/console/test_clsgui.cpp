// clsGUI's members that need no operator: settings, on-line state,
// and the errors raised before anything is shown.
#include <gtest/gtest.h>

#include <tuple>

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
    EXPECT_EQ(std::tuple(records[0].direction, records[0].port, records[0].bytes),
              std::tuple(TraceDirection::Sent, "console Bench", "VOLT 5"));
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
    const std::tuple<std::string, int16_t, std::string, std::string, Variant> expected[] = {
        {"Show Commands", kParameterList, "Yes=-1,No=0", "", Variant("-1")},
        {"X Position", kParameterRange, "0<1>100", "%", Variant(int16_t{0})},
        {"Y Position", kParameterRange, "0<1>100", "%", Variant(int16_t{0})},
    };
    ASSERT_EQ(settings->Children().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Parameter& s = *settings->Children()[i];
        EXPECT_EQ(std::tuple(s.Name(), s.Kind(), s.Allowed(), s.Unit(), s.Value(-1, -1)), expected[i]);
    }
}

TEST(ClsGUI, OnlyTrueItselfGoesOnLine) {
    clsGUI gui;
    IPortSetup& setup = gui;
    EXPECT_FALSE(setup.OnLine());
    for (const auto& [value, online] : {std::pair{Variant(true), true}, {Variant(int16_t{1}), false},
                                        {Variant::RawBoolean(-1), true}, {Variant::RawBoolean(1), false},
                                        {Variant(int16_t{-1}), true}, {Variant(false), false}}) {
        gui.IPortSetup_OnLine(value);
        EXPECT_EQ(setup.OnLine(), online) << value.ToString();
    }
}

// Failures before the operator is asked: the member's source, the number as
// caught; the positions' failure reaches the caller as the conversion raised it.
TEST(ClsGUI, FailuresCarryTheMembersSource) {
    clsGUI gui;
    IPort& port = gui;
    IPortSetup& setup = gui;
    setup.Settings()->Item("Show Commands")->Value(-1, -1, Variant("Perhaps"));
    // The number and source raised.
    const auto raised = [](const std::function<void()>& call) {
        const ComError e = CaughtError(call);
        return std::to_string(e.Number) + " " + e.Source;
    };
    const std::string mismatch = std::to_string(kErrTypeMismatch) + " ";
    EXPECT_EQ(raised([&] { port.Send("x"); }), mismatch + "clsGUI.IPort_Send");
    // An object as the prompt: it has no text.
    EXPECT_EQ(raised([&] { port.Receive(Variant(std::static_pointer_cast<Object>(setup.Settings()))); }),
              mismatch + "clsGUI.IPort_Receive");
    setup.Settings()->Item("X Position")->Value(-1, -1, Variant("left"));
    EXPECT_EQ(raised([&] { setup.OnLine(true); }), mismatch + kRuntimeSource);
    EXPECT_EQ(port.Status(), 0);  // nothing completed
    EXPECT_EQ(port.Count(), 0);
}

}  // namespace
}  // namespace tessel::test
