// frmMsgBox: the modal message form of the operator console, on the display.
//
// The form's logic lives here, in twips: its geometry, the layout that runs
// whenever the message changes (msgbox_layout.h) and the cancel flag. The
// window module only draws it where this says (console_windows.h). Pixels
// become twips at the display's own resolution (15 twips per pixel at 96 dpi).
//
// A form is loaded by constructing it and unloaded by destroying it; one is
// alive per display at a time (clsGUI loads one per message).
//
// Threads: the thread that shows it.
#pragma once

#include <string>
#include <string_view>

#include "console/console_windows.h"
#include "console/msgbox_layout.h"

namespace tessel::console {

// The display as the console sees it: the module's table, its connection and
// the screen in twips.
struct Display {
    const TesselConsoleWindows* windows = nullptr;
    int fd = -1;
    double twipsPerPixelX = 15, twipsPerPixelY = 15;
    float screenWidth = 0, screenHeight = 0;  // twips
};

class frmMsgBox {
public:
    // Loads the form titled `caption` at the screen's top-left corner with its
    // designed size.
    frmMsgBox(const Display& display, const std::string& caption);
    ~frmMsgBox();
    frmMsgBox(const frmMsgBox&) = delete;
    frmMsgBox& operator=(const frmMsgBox&) = delete;

    // The message: the label takes its text's size and the form lays itself
    // out again (lblMsg_Change). Raises 6 "Overflow" for a form too large
    // to remember in 16 bits.
    void lblMsg_Caption(const std::string& text);

    // Outer geometry, twips.
    float Left() const { return form_.left; }
    float Top() const { return form_.top; }
    float Width() const { return form_.width; }
    float Height() const { return form_.height; }
    void Move(float left, float top);

    // Shows the form modally: blocks until OK or Cancel (or a stop from the
    // host, which counts as Cancel), running the thread's loop meanwhile.
    void Show();
    // True after Cancel, false after OK; false when the form was never answered.
    bool Cancel() const { return mblnCancel; }

    // The window's identifier on the display, for tests that look at it.
    unsigned long WindowId() const;

private:
    void lblMsg_Change();
    void Arrange();

    const Display& display_;
    void* box_ = nullptr;
    Rect form_;
    float clientWidth_ = kDesignClientWidth, clientHeight_ = kDesignClientHeight;
    float labelWidth_ = 0, labelHeight_ = 0;
    float okLeft_ = 0, okTop_ = 0, cancelLeft_ = 0, cancelTop_ = 0;
    bool mblnCancel = false;
};

}  // namespace tessel::console
