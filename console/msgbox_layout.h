// The message form's layout: where the form and its buttons go when its
// message changes. A pure function of the label's size and the form's
// geometry before the change, in twips, so it is tested without a display.
//
// The form grows or shrinks around its label, with a margin of 240 twips to
// the right of it and 705 + 715 below it, keeping its bottom-right corner
// where it was. There is no minimum width: a narrow message gives a form
// narrower than its two buttons, which stay centred and stick out on both
// sides. Nothing limits the size either.
//
// Threads: any.
#pragma once

#include <cstdint>

namespace tessel::console {

// The form as designed, in twips.
inline constexpr float kDesignClientWidth = 4905;
inline constexpr float kDesignClientHeight = 1290;
inline constexpr float kIconLeft = 210, kIconTop = 210, kIconSize = 480;
inline constexpr float kLabelLeft = 960, kLabelTop = 240;
inline constexpr float kButtonWidth = 975, kButtonHeight = 315;
inline constexpr float kButtonGap = 100;

struct Rect {
    float left = 0, top = 0, width = 0, height = 0;
};

struct MsgBoxLayout {
    Rect form;  // outer size, title bar and borders included
    float clientWidth = 0, clientHeight = 0;
    float okLeft = 0, okTop = 0;
    float cancelLeft = 0, cancelTop = 0;
};

// The layout after the label took labelWidth x labelHeight. `before` is the
// form's outer geometry before the change; frameWidth and frameHeight what
// the title bar and borders add to the client area; okWidth the OK button's
// width. Raises 6 "Overflow" when a remembered value or the buttons' sum does
// not fit 16 bits.
MsgBoxLayout LayOutMsgBox(const Rect& before, float labelWidth, float labelHeight, float frameWidth,
                          float frameHeight, float okWidth = kButtonWidth);

// value rounded half to even into 16 bits; raises 6 "Overflow" when it does not fit.
int16_t RoundToInteger(float value);

}  // namespace tessel::console
