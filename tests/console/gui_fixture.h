// clsGUI against a person played by xdotool on a private Xvfb.
//
// The test's thread blocks in Send or Receive, as a host's would; an operator
// thread finds the window by its title, reads its geometry from the X server
// and presses keys or clicks. If the window never answers (a click that
// missed its button), the operator asks the host to stop, which ends the
// wait as a Cancel, so a broken layout fails the test instead of hanging it;
// so does an answer after which the call does not return within 3 s.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <tessel/tessel.h>

#include "support/xvfb.h"

namespace tessel::test {

// The screen every GUI test runs on: 96 dpi, so 15 twips per pixel.
inline constexpr int kScreenWidth = 1024, kScreenHeight = 768, kDpi = 96;
inline constexpr double kTwipsPerPixel = 1440.0 / kDpi;

// Asks a window to close as its window manager's close control would
// (close_request.cpp). Throws std::runtime_error when the display cannot be opened.
void SendCloseRequest(unsigned long window);

using Act = std::function<void(const WindowGeometry&)>;

// A click on the message form's OK (0) or Cancel (1) button, where the
// buttons must be from the form's client size.
inline void ClickButton(const WindowGeometry& w, int button) {
    const double x = (w.width * kTwipsPerPixel - (2 * 975 + 100)) / 2 + button * (975 + 100) + 975 / 2.0;
    const double y = w.height * kTwipsPerPixel - 515 + 315 / 2.0;
    Click(w, static_cast<int>(x / kTwipsPerPixel), static_cast<int>(y / kTwipsPerPixel));
}
inline void ClickOK(const WindowGeometry& w) { ClickButton(w, 0); }
inline void ClickCancel(const WindowGeometry& w) { ClickButton(w, 1); }

class GuiWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<Xvfb>(kScreenWidth, kScreenHeight, kDpi); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        DefaultHostControl().Reset();
        SetOperatorConsole(OperatorConsole::Window);
        gui_ = std::make_shared<clsGUI>();
        title_ = std::string("GUI test ") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        setup().Name(title_);
    }
    void TearDown() override { DefaultHostControl().Reset(); }

    IPort& port() { return *gui_; }
    IPortSetup& setup() { return *gui_; }
    void Set(const char* setting, const Variant& value) { setup().Settings()->Item(setting)->Value(-1, -1, value); }

    // Runs `call` while an operator thread plays `act` on its window, shown
    // with a fresh title (so never the previous one); the error raised, if any.
    std::optional<ComError> Answered(const Act& act, const std::function<void()>& call, WindowGeometry* seen = nullptr) {
        const std::string title = title_ + " " + std::to_string(++windows_);
        setup().Name(title);
        std::atomic<bool> returned{false};
        std::string failure;
        WindowGeometry found;
        std::optional<ComError> raised;
        {
            std::jthread person([&] {
                try {
                    act(found = FindWindow(title));
                    for (int i = 0; i < 30 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    if (!returned) throw std::runtime_error("the call did not return after the answer");
                } catch (const std::exception& e) {
                    failure = e.what();
                    DefaultHostControl().RequestStop();
                }
            });
            try {
                call();
            } catch (const ComError& e) {
                raised = e;
            }
            returned = true;
        }
        EXPECT_EQ(failure, "");
        if (seen != nullptr) *seen = found;
        return raised;
    }
    std::optional<ComError> Sent(const std::string& message, const Act& act, WindowGeometry* seen = nullptr) {
        return Answered(act, [&] { port().Send(message); }, seen);
    }

    static inline std::unique_ptr<Xvfb> server_;
    std::shared_ptr<clsGUI> gui_;
    std::string title_;
    int windows_ = 0;
};

}  // namespace tessel::test
