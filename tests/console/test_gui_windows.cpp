// The operator console's windows on a real X server.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "console/gui_fixture.h"
#include "support/errors.h"

namespace tessel::test {
namespace {

constexpr int32_t kCancelled = kObjectErrorBase + kErrCancelButton;

void ExpectCancel(const std::optional<ComError>& raised, const char* source) {
    ASSERT_TRUE(raised.has_value());
    EXPECT_EQ(raised->Number, kCancelled);
    EXPECT_EQ(raised->Source, source);
    EXPECT_EQ(raised->Description, "Cancel button used");
}

// Types `typed`, then presses `keys`, or "close" for the close control.
Act Answer(const std::string& keys, const std::string& typed = "") {
    return [=](const WindowGeometry& w) {
        if (!typed.empty()) Type(w, typed);
        if (keys == "close") SendCloseRequest(std::stoul(w.id));
        else Keys(w, keys);
    };
}

TEST_F(GuiWindows, MessageFormAnswersAsTheOperatorChose) {
    const struct {
        const char* how;
        Act act;
        bool cancelled;
    } cases[] = {{"OK clicked", ClickOK, false},          {"Cancel clicked", ClickCancel, true},
                 {"Esc", Answer("Escape"), true},          {"Enter", Answer("Return"), false},
                 {"Tab to Cancel, Enter", Answer("Tab Return"), true}, {"close control", Answer("close"), true}};
    int32_t count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        const std::string message = std::string("Answer by ") + c.how;
        const auto raised = Sent(message, c.act);
        if (c.cancelled) {
            ExpectCancel(raised, "clsGUI.IPort_Send");
        } else {
            ASSERT_FALSE(raised.has_value()) << raised->Description;
            count = static_cast<int32_t>(message.size());
            EXPECT_EQ(port().Status(), 256);
            EXPECT_EQ(port().Error(), 0);
        }
        EXPECT_EQ(port().Count(), count) << "untouched by a Cancel";
    }
}

TEST_F(GuiWindows, FormFollowsTheMessageAndItsButtonsTheBottom) {
    Set("Show Commands", Variant("No"));
    port().Send("Never shown");
    EXPECT_FALSE(WindowShown(title_));
    EXPECT_EQ(port().Status(), 256);
    ASSERT_EQ(port().Count(), 11);
    Set("Show Commands", Variant("Yes"));
    WindowGeometry none, one, three, narrow;
    ASSERT_FALSE(Sent("", ClickOK, &none).has_value());
    EXPECT_EQ(none.width, static_cast<int>(std::lround((960 + 240) / kTwipsPerPixel)));  // no text, only margins
    EXPECT_EQ(port().Count(), 0);
    EXPECT_EQ(port().Status(), 256);
    // Clicked where the buttons must be after the form changed: a miss is no answer.
    ASSERT_FALSE(Sent("Line one", ClickOK, &one).has_value());
    ASSERT_FALSE(Sent("Line one\nLine two\nLine three", ClickOK, &three).has_value());
    const int line = one.height - static_cast<int>(std::lround((240 + 705 + 715) / kTwipsPerPixel));
    EXPECT_GT(line, 8);
    EXPECT_NEAR(three.height - one.height, 2 * line, 1);
    EXPECT_GT(three.width, one.width);  // "Line three" is the widest line
    // Narrower than its centred buttons.
    ASSERT_FALSE(Sent("x", ClickOK, &narrow).has_value());
    EXPECT_LT(narrow.width * kTwipsPerPixel, 2 * 975 + 100);
    ExpectCancel(Sent("x", ClickCancel), "clsGUI.IPort_Send");
}

TEST_F(GuiWindows, PositionsPlaceTheFormsOnTheScreenAtTheNextOnLine) {
    struct Place {
        int16_t x, y;
    };
    WindowGeometry w;
    for (Place p : {Place{0, 0}, Place{50, 50}, Place{100, 100}, Place{100, 0}}) {
        SCOPED_TRACE(std::to_string(p.x) + "/" + std::to_string(p.y));
        Set("X Position", Variant(p.x));
        Set("Y Position", Variant(p.y));
        setup().OnLine(true);
        ASSERT_FALSE(Sent("Where am I?", ClickOK, &w).has_value());
        EXPECT_NEAR(w.left, (kScreenWidth - w.width) * p.x / 100.0, 2);
        EXPECT_NEAR(w.top, (kScreenHeight - w.height) * p.y / 100.0, 2);
    }
    Set("X Position", Variant(int16_t{0}));
    ASSERT_FALSE(Sent("Still right", ClickOK, &w).has_value());
    EXPECT_NEAR(w.left, kScreenWidth - w.width, 2);
    // The input box stands with its corner at the positions.
    Set("X Position", Variant(int16_t{50}));
    Set("Y Position", Variant(int16_t{25}));
    setup().OnLine(true);
    ASSERT_FALSE(Answered(Answer("Return"), [&] { port().Receive(); }, &w).has_value());
    EXPECT_NEAR(w.left, kScreenWidth / 2, 2);
    EXPECT_NEAR(w.top, kScreenHeight / 4, 2);
}

TEST_F(GuiWindows, FormIsAFixedSizeDialogOffTheTaskBar) {
    std::string properties;
    ASSERT_FALSE(Sent("Properties", [&](const WindowGeometry& w) {
                     properties = RunCommand("timeout 5 xprop -id " + w.id +
                                             " _NET_WM_WINDOW_TYPE _NET_WM_STATE WM_NORMAL_HINTS");
                     Keys(w, "Return");
                 }).has_value());
    EXPECT_NE(properties.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << properties;
    EXPECT_NE(properties.find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos) << properties;
    // Fixed size: the smallest and the largest size allowed are the same.
    const auto min = properties.find("minimum size: "), max = properties.find("maximum size: ");
    ASSERT_NE(min, std::string::npos) << properties;
    ASSERT_NE(max, std::string::npos) << properties;
    EXPECT_EQ(properties.substr(min + 14, properties.find('\n', min) - min - 14),
              properties.substr(max + 14, properties.find('\n', max) - max - 14));
}

TEST_F(GuiWindows, InputBoxReturnsWhatWasTyped) {
    const struct {
        const char* how;
        Act act;
        std::optional<std::string> answer;  // nothing: a Cancel
    } cases[] = {{"typed, Enter", Answer("Return", "12.5 V"), "12.5 V"},
                 {"untouched default, Enter", Answer("Return"), " "},
                 {"emptied, Enter", Answer("BackSpace Return"), std::nullopt},
                 {"Esc", Answer("Escape"), std::nullopt},
                 {"typed, Tab Tab to Cancel, Enter", Answer("Tab Tab Return", "9"), std::nullopt},
                 {"typed, close control", Answer("close", "9"), std::nullopt}};
    int32_t count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        std::string answer;
        const auto raised = Answered(c.act, [&] { answer = port().Receive("Voltage?"); });
        if (c.answer) {
            ASSERT_FALSE(raised.has_value()) << raised->Description;
            EXPECT_EQ(answer, *c.answer);
            count = static_cast<int32_t>(c.answer->size());
            EXPECT_EQ(port().Status(), 256);
        } else {
            ExpectCancel(raised, "clsGUI.IPort_Receive");
        }
        EXPECT_EQ(port().Count(), count);
    }
}

TEST_F(GuiWindows, SendEWithAReturnAsksAndWithoutOneShows) {
    Variant reply;
    ASSERT_FALSE(Answered(Answer("Return", "ready"), [&] { port().SendE("Ready?", &reply); }).has_value());
    EXPECT_EQ(reply, Variant("ready"));
    EXPECT_EQ(port().Count(), 5);
    ExpectCancel(Answered(Answer("Escape"), [&] { port().SendE("Shown only"); }), "clsGUI.IPort_Send");
}

}  // namespace
}  // namespace tessel::test
