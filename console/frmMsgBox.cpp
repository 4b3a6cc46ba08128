#include "console/frmMsgBox.h"

#include <cmath>

#include "console/operator_console.h"

namespace tessel::console {
namespace {

// The toolkit gives the window's client area; its frame belongs to a window
// manager, if any, and is not known before the window is mapped.
constexpr float kFrameWidth = 0;
constexpr float kFrameHeight = 0;

int Pixels(double twips, double twipsPerPixel) { return static_cast<int>(std::nearbyint(twips / twipsPerPixel)); }

}  // namespace

frmMsgBox::frmMsgBox(const Display& display, const std::string& caption)
    : display_(display), box_(display.windows->msgbox_new(caption.c_str())) {
    form_ = {0, 0, kDesignClientWidth + kFrameWidth, kDesignClientHeight + kFrameHeight};
    // The designed controls until the first message arrives.
    labelWidth_ = 90;
    labelHeight_ = 195;
    okLeft_ = 1260;
    okTop_ = cancelTop_ = 840;
    cancelLeft_ = 2400;
}

frmMsgBox::~frmMsgBox() { display_.windows->msgbox_delete(box_); }

void frmMsgBox::lblMsg_Caption(const std::string& text) {
    int width = 0, height = 0;
    display_.windows->msgbox_set_text(box_, text.c_str(), &width, &height);
    labelWidth_ = static_cast<float>(width * display_.twipsPerPixelX);
    labelHeight_ = static_cast<float>(height * display_.twipsPerPixelY);
    lblMsg_Change();
}

void frmMsgBox::lblMsg_Change() {
    const MsgBoxLayout layout = LayOutMsgBox(form_, labelWidth_, labelHeight_, kFrameWidth, kFrameHeight);
    form_ = layout.form;
    clientWidth_ = layout.clientWidth;
    clientHeight_ = layout.clientHeight;
    okLeft_ = layout.okLeft;
    okTop_ = layout.okTop;
    cancelLeft_ = layout.cancelLeft;
    cancelTop_ = layout.cancelTop;
    Arrange();
}

void frmMsgBox::Move(float left, float top) {
    form_.left = left;
    form_.top = top;
    Arrange();
}

void frmMsgBox::Arrange() {
    const double x = display_.twipsPerPixelX, y = display_.twipsPerPixelY;
    TesselMsgBoxPixels where{};
    where.left = Pixels(form_.left, x);
    where.top = Pixels(form_.top, y);
    where.width = Pixels(clientWidth_, x);
    where.height = Pixels(clientHeight_, y);
    where.icon_left = Pixels(kIconLeft, x);
    where.icon_top = Pixels(kIconTop, y);
    where.icon_size = Pixels(kIconSize, x);
    where.label_left = Pixels(kLabelLeft, x);
    where.label_top = Pixels(kLabelTop, y);
    where.label_width = Pixels(labelWidth_, x);
    where.label_height = Pixels(labelHeight_, y);
    where.ok_left = Pixels(okLeft_, x);
    where.ok_top = Pixels(okTop_, y);
    where.cancel_left = Pixels(cancelLeft_, x);
    where.cancel_top = Pixels(cancelTop_, y);
    where.button_width = Pixels(kButtonWidth, x);
    where.button_height = Pixels(kButtonHeight, y);
    display_.windows->msgbox_arrange(box_, &where);
}

void frmMsgBox::Show() {
    display_.windows->msgbox_show(box_);
    int state = kWindowWaiting;
    const bool answered = WaitForOperator(display_.fd, [&] {
        display_.windows->pump();
        state = display_.windows->msgbox_state(box_);
        return state != kWindowWaiting;
    });
    mblnCancel = !answered || state == kWindowCancel;
}

unsigned long frmMsgBox::WindowId() const { return display_.windows->msgbox_window(box_); }

}  // namespace tessel::console
