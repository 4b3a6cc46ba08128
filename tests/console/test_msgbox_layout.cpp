// The message form's layout as a pure function, and the form itself keeping
// its bottom-right corner on a real X server.
#include <gtest/gtest.h>

#include <tessel/host.h>

#include <array>

#include "console/frmMsgBox.h"
#include "console/msgbox_layout.h"
#include "console/window_console.h"
#include "ports/event_loop.h"
#include "support/errors.h"
#include "support/xvfb.h"

namespace tessel::console {
namespace {

TEST(MsgBoxLayout, FollowsTheLabelAndKeepsTheBottomRightCorner) {
    const struct {
        const char* what;
        Rect before;
        float labelWidth, labelHeight, frameWidth, frameHeight;
        MsgBoxLayout expected;
    } cases[] = {
        // The designed form at the origin, a one-line label 3000 x 195.
        {"first message", {0, 0, 4905, 1290}, 3000, 195, 0, 0,
         {{4905 - 4200, 1290 - 1855, 4200, 1855}, 4200, 1855, (4200 - 2050) / 2.0f, 1855 - 515,
          (4200 - 2050) / 2.0f + 1075, 1855 - 515}},
        // Title bar and borders: the outer size grows, the client area is what is left.
        {"framed", {1000, 2000, 6000, 2500}, 3000, 585, 120, 405,
         {{1000 + 6000 - 4200, 2000 + 2500 - 2245, 4200, 2245}, 4080, 1840, (4080 - 2050) / 2.0f, 1840 - 515,
          (4080 - 2050) / 2.0f + 1075, 1840 - 515}},
        // Narrower than the buttons: they stay centred and stick out.
        {"narrow", {0, 0, 4905, 1290}, 15, 195, 0, 0,
         {{4905 - 1215, 1290 - 1855, 1215, 1855}, 1215, 1855, (1215 - 2050) / 2.0f, 1340,
          (1215 - 2050) / 2.0f + 1075, 1340}},
        // Remembered values are rounded half to even: 10.5 -> 10, 11.5 -> 12.
        {"halves to even", {10.5f, 11.5f, 4905.5f, 1290.5f}, 3000, 195, 0, 0,
         {{10 + 4906 - 4200, 12 + 1290 - 1855, 4200, 1855}, 4200, 1855, 1075, 1340, 2150, 1340}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto fields = [](const MsgBoxLayout& l) {
            return std::array{l.form.left, l.form.top, l.form.width, l.form.height, l.clientWidth,
                              l.clientHeight, l.okLeft,    l.okTop,     l.cancelLeft, l.cancelTop};
        };
        const auto got = fields(LayOutMsgBox(c.before, c.labelWidth, c.labelHeight, c.frameWidth, c.frameHeight));
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_FLOAT_EQ(got[i], fields(c.expected)[i]) << "field " << i;
    }
}

TEST(MsgBoxLayout, SixteenBitOverflowsRaiseOverflow) {
    using tessel::test::CaughtError;
    EXPECT_EQ(CaughtError([] { LayOutMsgBox({0, 0, 40000, 1290}, 90, 195, 0, 0); }).Number, kErrOverflow);
    EXPECT_EQ(CaughtError([] { LayOutMsgBox({0, 0, 4905, 1290}, 90, 195, 0, 0, 16400); }).Number, kErrOverflow);
    EXPECT_EQ(RoundToInteger(32767.4f), 32767);
    EXPECT_EQ(RoundToInteger(-2.5f), -2);
    EXPECT_EQ(CaughtError([] { RoundToInteger(32767.5f); }).Number, kErrOverflow);
}

// The form on the display: its window's corner stays put when the text changes.
TEST(MsgBoxWindow, TextChangeKeepsTheWindowsBottomRightCorner) {
    tessel::test::Xvfb server(1024, 768, 96);
    LoadedDisplay loaded = LoadDisplay(TESSEL_CONSOLE_MODULE);
    ASSERT_NE(loaded.display.windows, nullptr) << loaded.failure;
    const Display& display = loaded.display;
    EXPECT_DOUBLE_EQ(display.twipsPerPixelX, 15);  // read from the 96 dpi display

    auto geometry = [&] {
        display.windows->pump();
        return tessel::test::FindWindow("corner");
    };
    frmMsgBox form(display, "corner");
    form.lblMsg_Caption("Short");
    form.Move(6000, 6000);
    tessel::test::WindowGeometry before, after;
    // Runs inside the form's modal wait, as a host's own event would.
    EventLoop::Current()->Post([&] {
        before = geometry();
        form.lblMsg_Caption("A longer message\nover two lines");
        after = geometry();
        DefaultHostControl().RequestStop();  // ends the wait as a Cancel
    });
    form.Show();
    DefaultHostControl().Reset();
    EXPECT_TRUE(form.Cancel());
    EXPECT_EQ(before.left, 400);  // 6000 twips
    EXPECT_GT(after.width, before.width);
    EXPECT_GT(after.height, before.height);
    EXPECT_NEAR(after.left + after.width, before.left + before.width, 1);
    EXPECT_NEAR(after.top + after.height, before.top + before.height, 1);
}

}  // namespace
}  // namespace tessel::console
