#include "console/msgbox_layout.h"

#include <cmath>
#include <limits>

#include <tessel/error.h>

namespace tessel::console {
namespace {

constexpr float kRightMargin = 240;
// Room below the label: the buttons' band and the space under them.
constexpr float kBottomMargin = 705 + 715;
// The buttons' tops, above the bottom of the client area.
constexpr float kButtonsAboveBottom = 515;

}  // namespace

int16_t RoundToInteger(float value) {
    // nearbyint rounds in the current mode, which is to nearest, halves to even.
    const double rounded = std::nearbyint(static_cast<double>(value));
    if (!(rounded >= std::numeric_limits<int16_t>::min() && rounded <= std::numeric_limits<int16_t>::max()))
        RaiseRuntimeError(kErrOverflow);
    return static_cast<int16_t>(rounded);
}

MsgBoxLayout LayOutMsgBox(const Rect& before, float labelWidth, float labelHeight, float frameWidth,
                          float frameHeight, float okWidth) {
    const int16_t oldLeft = RoundToInteger(before.left);
    const int16_t oldTop = RoundToInteger(before.top);
    const int16_t oldWidth = RoundToInteger(before.width);
    const int16_t oldHeight = RoundToInteger(before.height);

    MsgBoxLayout out;
    out.form.width = labelWidth + kLabelLeft + kRightMargin;
    out.form.height = labelHeight + kLabelTop + kBottomMargin;
    out.form.left = static_cast<float>(oldWidth) - out.form.width + static_cast<float>(oldLeft);
    out.form.top = static_cast<float>(oldHeight) - out.form.height + static_cast<float>(oldTop);
    out.clientWidth = out.form.width - frameWidth;
    out.clientHeight = out.form.height - frameHeight;

    const int16_t w = RoundToInteger(okWidth);
    const int32_t buttons = 2 * int32_t{w} + static_cast<int32_t>(kButtonGap);
    if (buttons > std::numeric_limits<int16_t>::max() || buttons < std::numeric_limits<int16_t>::min())
        RaiseRuntimeError(kErrOverflow);
    out.okLeft = (out.clientWidth - static_cast<float>(buttons)) / 2;
    out.okTop = out.clientHeight - kButtonsAboveBottom;
    out.cancelLeft = out.okLeft + static_cast<float>(w) + kButtonGap;
    out.cancelTop = out.okTop;
    return out;
}

}  // namespace tessel::console
