// The operator console's windows on a real X server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "console/close_request.h"
#include "console/gui_fixture.h"
#include "support/errors.h"

namespace tessel::test {
namespace {

constexpr int32_t kCancelled = kObjectErrorBase + kErrCancelButton;

// Sends `message` while `act` plays the operator; the error raised, if any.
std::optional<ComError> SendAnswered(IPort& port, const std::string& title, const std::string& message,
                                     const std::function<void(const WindowGeometry&)>& act,
                                     WindowGeometry* seen = nullptr) {
    Operator person(title, act);
    std::optional<ComError> raised;
    try {
        port.Send(message);
    } catch (const ComError& e) {
        raised = e;
    }
    const std::string failure = person.Finish();
    EXPECT_EQ(failure, "");
    if (seen != nullptr) *seen = person.Seen();
    return raised;
}

void ClickOK(const WindowGeometry& w) {
    const Buttons b = ExpectedButtons(w);
    Click(w, static_cast<int>(b.okCentreX), static_cast<int>(b.centreY));
}
void ClickCancel(const WindowGeometry& w) {
    const Buttons b = ExpectedButtons(w);
    Click(w, static_cast<int>(b.cancelCentreX), static_cast<int>(b.centreY));
}

struct AnswerCase {
    const char* how;
    std::function<void(const WindowGeometry&)> act;
    bool cancelled;
};

TEST_F(GuiWindows, MessageFormAnswersAsTheOperatorChose) {
    const std::vector<AnswerCase> cases = {
        {"OK clicked", ClickOK, false},
        {"Cancel clicked", ClickCancel, true},
        {"Esc", [](const WindowGeometry& w) { Keys(w, "Escape"); }, true},
        {"Enter", [](const WindowGeometry& w) { Keys(w, "Return"); }, false},
        {"Tab to Cancel, Enter", [](const WindowGeometry& w) { Keys(w, "Tab Return"); }, true},
        {"close control", [](const WindowGeometry& w) { SendCloseRequest(std::stoul(w.id)); }, true},
    };
    int32_t count = 0;
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.how);
        const std::string message = std::string("Answer by ") + c.how;
        auto raised = SendAnswered(port(), NextTitle(), message, c.act);
        if (c.cancelled) {
            ASSERT_TRUE(raised.has_value());
            EXPECT_EQ(raised->Number, kCancelled);
            EXPECT_EQ(raised->Source, "clsGUI.IPort_Send");
            EXPECT_EQ(raised->Description, "Cancel button used");
            EXPECT_EQ(port().Count(), count);  // untouched by a Cancel
        } else {
            ASSERT_FALSE(raised.has_value()) << raised->Description;
            count = static_cast<int32_t>(message.size());
            EXPECT_EQ(port().Status(), 256);
            EXPECT_EQ(port().Count(), count);
            EXPECT_EQ(port().Error(), 0);
        }
    }
}

TEST_F(GuiWindows, FormGrowsWithTheMessageAndTheButtonsFollowTheBottom) {
    WindowGeometry one, three;
    ASSERT_FALSE(SendAnswered(port(), NextTitle(), "Line one", ClickOK, &one).has_value());
    // Clicked where the buttons must be after the form grew: a miss is no answer.
    ASSERT_FALSE(SendAnswered(port(), NextTitle(), "Line one\nLine two\nLine three", ClickOK, &three).has_value());
    const int line = one.height - static_cast<int>(std::lround((240 + 705 + 715) / kTwipsPerPixel));
    EXPECT_GT(line, 8);
    EXPECT_NEAR(three.height - one.height, 2 * line, 1);
    EXPECT_GT(three.width, one.width);  // "Line three" is the widest line
}

TEST_F(GuiWindows, EmptyCommandShowsAnEmptyFormAndCountsNothing) {
    setup().Settings()->Item("Show Commands")->Value(-1, -1, Variant("No"));
    port().Send("Something first");
    ASSERT_EQ(port().Count(), 15);
    setup().Settings()->Item("Show Commands")->Value(-1, -1, Variant("Yes"));
    WindowGeometry w;
    ASSERT_FALSE(SendAnswered(port(), NextTitle(), "", ClickOK, &w).has_value());
    EXPECT_EQ(w.width, static_cast<int>(std::lround((960 + 240) / kTwipsPerPixel)));  // no text, only margins
    EXPECT_EQ(port().Count(), 0);
    EXPECT_EQ(port().Status(), 256);
}

TEST_F(GuiWindows, NarrowMessageGivesAFormNarrowerThanItsCentredButtons) {
    WindowGeometry w;
    ASSERT_FALSE(SendAnswered(port(), NextTitle(), "x", ClickOK, &w).has_value());
    EXPECT_LT(w.width * kTwipsPerPixel, 2 * 975 + 100);
    auto raised = SendAnswered(port(), NextTitle(), "x", ClickCancel);
    ASSERT_TRUE(raised.has_value());
    EXPECT_EQ(raised->Number, kCancelled);
}

TEST_F(GuiWindows, PositionsPlaceTheFormOnTheScreen) {
    struct Place {
        int16_t x, y;
    };
    for (Place p : {Place{0, 0}, Place{50, 50}, Place{100, 100}, Place{100, 0}}) {
        SCOPED_TRACE(std::to_string(p.x) + "/" + std::to_string(p.y));
        setup().Settings()->Item("X Position")->Value(-1, -1, Variant(p.x));
        setup().Settings()->Item("Y Position")->Value(-1, -1, Variant(p.y));
        setup().OnLine(true);
        WindowGeometry w;
        ASSERT_FALSE(SendAnswered(port(), NextTitle(), "Where am I?", ClickOK, &w).has_value());
        EXPECT_NEAR(w.left, (kScreenWidth - w.width) * p.x / 100.0, 2);
        EXPECT_NEAR(w.top, (kScreenHeight - w.height) * p.y / 100.0, 2);
    }
}

TEST_F(GuiWindows, PositionChangedOnLineWaitsForTheNextOnLine) {
    setup().OnLine(true);
    setup().Settings()->Item("X Position")->Value(-1, -1, Variant(int16_t{100}));
    WindowGeometry w;
    ASSERT_FALSE(SendAnswered(port(), NextTitle(), "Still left", ClickOK, &w).has_value());
    EXPECT_LE(w.left, 2);
}

TEST_F(GuiWindows, FormIsAFixedSizeDialogOffTheTaskBar) {
    std::string properties;
    ASSERT_FALSE(SendAnswered(port(), NextTitle(), "Properties", [&](const WindowGeometry& w) {
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

TEST_F(GuiWindows, ShowCommandsNoShowsNothing) {
    setup().Settings()->Item("Show Commands")->Value(-1, -1, Variant("No"));
    port().Send("Never shown");
    EXPECT_FALSE(WindowShown(title_));
    EXPECT_EQ(port().Status(), 256);
    EXPECT_EQ(port().Count(), 11);
    EXPECT_EQ(port().Error(), 0);
}

struct InputCase {
    const char* how;
    std::function<void(const WindowGeometry&)> act;
    std::optional<std::string> answer;  // nothing: a Cancel
};

TEST_F(GuiWindows, InputBoxReturnsWhatWasTyped) {
    const std::vector<InputCase> cases = {
        {"typed, Enter", [](const WindowGeometry& w) { Type(w, "12.5 V"); Keys(w, "Return"); }, "12.5 V"},
        {"untouched default, Enter", [](const WindowGeometry& w) { Keys(w, "Return"); }, " "},
        {"emptied, Enter", [](const WindowGeometry& w) { Keys(w, "BackSpace Return"); }, std::nullopt},
        {"Esc", [](const WindowGeometry& w) { Keys(w, "Escape"); }, std::nullopt},
        {"typed, Tab Tab to Cancel, Enter",
         [](const WindowGeometry& w) { Type(w, "9"); Keys(w, "Tab Tab Return"); }, std::nullopt},
        {"typed, close control",
         [](const WindowGeometry& w) { Type(w, "9"); SendCloseRequest(std::stoul(w.id)); }, std::nullopt},
    };
    int32_t count = 0;
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.how);
        Operator person(NextTitle(), c.act);
        std::optional<std::string> answer;
        std::optional<ComError> raised;
        try {
            answer = port().Receive("Voltage?");
        } catch (const ComError& e) {
            raised = e;
        }
        EXPECT_EQ(person.Finish(), "");
        if (c.answer) {
            ASSERT_FALSE(raised.has_value()) << raised->Description;
            EXPECT_EQ(answer, c.answer);
            count = static_cast<int32_t>(c.answer->size());
            EXPECT_EQ(port().Status(), 256);
        } else {
            ASSERT_TRUE(raised.has_value());
            EXPECT_EQ(raised->Number, kCancelled);
            EXPECT_EQ(raised->Source, "clsGUI.IPort_Receive");
            EXPECT_EQ(raised->Description, "Cancel button used");
        }
        EXPECT_EQ(port().Count(), count);
    }
}

TEST_F(GuiWindows, SendEWithAReturnAsksAndWithoutOneShows) {
    Variant reply;
    {
        Operator person(NextTitle(), [](const WindowGeometry& w) { Type(w, "ready"); Keys(w, "Return"); });
        port().SendE("Ready?", &reply);
        EXPECT_EQ(person.Finish(), "");
    }
    EXPECT_EQ(reply, Variant("ready"));
    EXPECT_EQ(port().Count(), 5);
    {
        Operator person(NextTitle(), [](const WindowGeometry& w) { Keys(w, "Escape"); });
        const ComError e = CaughtError([&] { port().SendE("Shown only"); });
        EXPECT_EQ(person.Finish(), "");
        EXPECT_EQ(e.Source, "clsGUI.IPort_Send");
    }
}

TEST_F(GuiWindows, InputBoxStandsAtThePositions) {
    setup().Settings()->Item("X Position")->Value(-1, -1, Variant(int16_t{50}));
    setup().Settings()->Item("Y Position")->Value(-1, -1, Variant(int16_t{25}));
    setup().OnLine(true);
    Operator person(NextTitle(), [](const WindowGeometry& w) { Keys(w, "Return"); });
    port().Receive();
    EXPECT_EQ(person.Finish(), "");
    EXPECT_NEAR(person.Seen().left, kScreenWidth / 2, 2);
    EXPECT_NEAR(person.Seen().top, kScreenHeight / 4, 2);
}

}  // namespace
}  // namespace tessel::test
