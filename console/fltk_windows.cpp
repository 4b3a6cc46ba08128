// libtessel-console-fltk.so: the operator console's windows in FLTK. It
// exports one table (console_windows.h) and keeps no logic of the form's: it
// puts things where libtessel says and reports which button was pressed.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include <tessel/export.h>

#include "console/console_windows.h"
#include "console/warning_icon.h"

namespace tessel::console {
namespace {

constexpr Fl_Font kFont = FL_HELVETICA;
constexpr Fl_Fontsize kFontSize = 14;

// The icons, made once: 32x32 on the form, 16x16 for the window manager.
struct Icons {
    std::vector<uint8_t> large = WarningIconPixels(32);
    std::vector<uint8_t> small = WarningIconPixels(16);
    Fl_RGB_Image largeImage{large.data(), 32, 32, 4};
    Fl_RGB_Image smallImage{small.data(), 16, 16, 4};
};

Icons& TheIcons() {
    static Icons icons;
    return icons;
}

// A label that shows its text as given: one line per line, and "@" is a
// character, not a symbol code. The message form's does not wrap; the input
// box's prompt wraps at its width.
class Label : public Fl_Box {
public:
    explicit Label(Fl_Align wrap = 0) : Fl_Box(0, 0, 1, 1), wrap_(wrap) {}
    void Text(const char* text) { text_ = text; }
    void Measure(int& w, int& h) const {
        fl_font(kFont, kFontSize);
        w = 0;
        h = 0;
        fl_measure(text_.c_str(), w, h, 0);
        if (h == 0) h = fl_height();  // an empty message still takes a line
    }

protected:
    void draw() override {
        fl_font(kFont, kFontSize);
        fl_color(FL_FOREGROUND_COLOR);
        fl_draw(text_.c_str(), x(), y(), w(), h(), FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE | wrap_, nullptr, 0);
    }

private:
    std::string text_;
    Fl_Align wrap_;
};

// Enter on a focused Cancel presses Cancel, as the focus says; FLTK would
// otherwise give Enter to the return button whatever has the focus.
class CancelButton : public Fl_Button {
public:
    CancelButton() : Fl_Button(0, 0, 1, 1, "Cancel") { shortcut(FL_Escape); }
    int handle(int event) override {
        if (event == FL_KEYBOARD && Fl::focus() == this &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
            do_callback();
            return 1;
        }
        return Fl_Button::handle(event);
    }
};

// A fixed-size dialog window that reports OK, Cancel or its close control.
class Dialog : public Fl_Double_Window {
public:
    Dialog(int w, int h, const char* title) : Fl_Double_Window(w, h), title_(title) {
        label(title_.c_str());
        set_modal();
        callback(&Dialog::Closed);  // the close control, or Esc with no Cancel to take it
        resizable(nullptr);         // fixed size, and children stay where they are put
        icon(&TheIcons().smallImage);
    }
    int State() const { return state_; }

    void ShowDialog() {
        show();
        MarkDialog();
    }

    static void Pressed(Fl_Widget* w, void* answer) {
        auto* dialog = static_cast<Dialog*>(w->window());
        dialog->state_ = static_cast<int>(reinterpret_cast<intptr_t>(answer));
        dialog->hide();
    }

    // Moves to exactly (x, y): FLTK keeps a new window's title bar on the
    // screen, a window that is already shown goes where it is told.
    void Place(int left, int top, int width, int height) {
        resize(left, top, width, height);
        size_range(width, height, width, height);
        if (shown()) XMoveResizeWindow(fl_display, fl_xid(this), left, top, width, height);
    }

private:
    static void Closed(Fl_Widget* w, void*) {
        auto* dialog = static_cast<Dialog*>(w);
        dialog->state_ = kWindowCancel;
        dialog->hide();
    }

    // A dialog that skips the task bar, with no minimise or maximise. Set
    // right after mapping: the window manager reads the properties when it
    // handles the map request, which the server queues behind these.
    void MarkDialog() {
        Window xid = fl_xid(this);
        auto atom = [](const char* name) { return XInternAtom(fl_display, name, False); };
        Atom type = atom("_NET_WM_WINDOW_TYPE_DIALOG");
        XChangeProperty(fl_display, xid, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&type), 1);
        Atom states[] = {atom("_NET_WM_STATE_SKIP_TASKBAR"), atom("_NET_WM_STATE_MODAL")};
        XChangeProperty(fl_display, xid, atom("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(states), 2);
        // Motif hints: functions move and close; decorations border, title, menu.
        long motif[5] = {1 | 2, 4 | 32, 2 | 8 | 16, 0, 0};
        Atom hints = atom("_MOTIF_WM_HINTS");
        XChangeProperty(fl_display, xid, hints, hints, 32, PropModeReplace, reinterpret_cast<unsigned char*>(motif),
                        5);
        XFlush(fl_display);
    }

    std::string title_;
    int state_ = kWindowWaiting;
};

void* Answer(int state) { return reinterpret_cast<void*>(static_cast<intptr_t>(state)); }

// frmMsgBox's window: the icon, the message, OK and Cancel in tab order.
class MessageBox : public Dialog {
public:
    explicit MessageBox(const char* title) : Dialog(327, 86, title) {
        begin();
        image_ = new Fl_Box(0, 0, 32, 32);
        image_->image(&TheIcons().largeImage);
        label_ = new Label;
        ok_ = new Fl_Return_Button(0, 0, 1, 1, "OK");
        ok_->callback(&Dialog::Pressed, Answer(kWindowOK));
        cancel_ = new CancelButton;
        cancel_->callback(&Dialog::Pressed, Answer(kWindowCancel));
        end();
    }

    void SetText(const char* text, int* width, int* height) {
        label_->Text(text);
        label_->Measure(*width, *height);
        label_->redraw();
    }

    void Arrange(const TesselMsgBoxPixels& p) {
        image_->resize(p.icon_left, p.icon_top, p.icon_size, p.icon_size);
        label_->resize(p.label_left, p.label_top, p.label_width, p.label_height);
        ok_->resize(p.ok_left, p.ok_top, p.button_width, p.button_height);
        cancel_->resize(p.cancel_left, p.cancel_top, p.button_width, p.button_height);
        Place(p.left, p.top, p.width, p.height);
        where_ = p;
        redraw();
    }

    // The last arrangement, applied again once the window is shown.
    const TesselMsgBoxPixels& Where() const { return where_; }

private:
    Fl_Box* image_;
    Label* label_;
    Fl_Return_Button* ok_;
    CancelButton* cancel_;
    TesselMsgBoxPixels where_{};
};

// The input box: the prompt, OK and Cancel beside it, the field below with
// the default answer selected, so that typing replaces it.
class InputBox : public Dialog {
public:
    static constexpr int kWidth = 400, kHeight = 150;

    InputBox(const char* title, const char* prompt, const char* defaultText) : Dialog(kWidth, kHeight, title) {
        begin();
        auto* text = new Label(FL_ALIGN_WRAP);
        text->resize(12, 12, 280, 90);
        text->Text(prompt);
        auto* ok = new Fl_Return_Button(304, 12, 84, 26, "OK");
        ok->callback(&Dialog::Pressed, Answer(kWindowOK));
        auto* cancel = new CancelButton;
        cancel->resize(304, 44, 84, 26);
        cancel->callback(&Dialog::Pressed, Answer(kWindowCancel));
        input_ = new Fl_Input(12, 112, kWidth - 24, 26);
        input_->value(defaultText);
        input_->position(0, input_->size());
        end();
    }

    void Open(int left, int top) {
        ShowDialog();
        Place(left, top, kWidth, kHeight);
        input_->take_focus();
    }
    const char* Text() const { return input_->value(); }

private:
    Fl_Input* input_;
};

int OpenDisplay(char* error, size_t size) {
    ::Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::snprintf(error, size, "cannot open display \"%s\"", XDisplayName(nullptr));
        return -1;
    }
    fl_open_display(display);
    // Xlib's own handler ends the process at the first error; a request that
    // names a window gone with its dialog (the toolkit answering a selection
    // request late, for one) must not end the host.
    XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
    return ConnectionNumber(display);
}

void ScreenSize(int* width, int* height, double* dpiX, double* dpiY) {
    int x = 0, y = 0;
    Fl::screen_xywh(x, y, *width, *height, 0);
    float h = 0, v = 0;
    Fl::screen_dpi(h, v, 0);
    // The server derives the resolution from a size in whole millimetres
    // (1024 pixels in 271 mm is 95.98 dpi for a 96 dpi screen): whole dots
    // per inch are what the screen was set to.
    *dpiX = h > 0 ? std::round(h) : 96;
    *dpiY = v > 0 ? std::round(v) : 96;
}

void Pump() { Fl::check(); }

MessageBox* Box(void* box) { return static_cast<MessageBox*>(box); }
InputBox* Input(void* box) { return static_cast<InputBox*>(box); }

void* MsgBoxNew(const char* title) { return new MessageBox(title); }
void MsgBoxSetText(void* box, const char* text, int* width, int* height) { Box(box)->SetText(text, width, height); }
void MsgBoxArrange(void* box, const TesselMsgBoxPixels* where) { Box(box)->Arrange(*where); }
void MsgBoxShow(void* box) {
    Box(box)->ShowDialog();
    Box(box)->Arrange(Box(box)->Where());
}
int MsgBoxState(void* box) { return Box(box)->State(); }
unsigned long MsgBoxWindow(void* box) { return Box(box)->shown() ? fl_xid(Box(box)) : 0; }
void MsgBoxDelete(void* box) { delete Box(box); }

void* InputNew(const char* title, const char* prompt, const char* defaultText, int left, int top) {
    auto* box = new InputBox(title, prompt, defaultText);
    box->Open(left, top);
    return box;
}
int InputState(void* box) { return Input(box)->State(); }
const char* InputText(void* box) { return Input(box)->Text(); }
void InputDelete(void* box) { delete Input(box); }

}  // namespace
}  // namespace tessel::console

extern "C" {
TESSEL_API extern const TesselConsoleWindows tessel_console_windows;
}

namespace tc = tessel::console;

const TesselConsoleWindows tessel_console_windows = {
    kConsoleWindowsAbi, tc::OpenDisplay,  tc::ScreenSize,   tc::Pump,        tc::MsgBoxNew,
    tc::MsgBoxSetText,  tc::MsgBoxArrange, tc::MsgBoxShow, tc::MsgBoxState, tc::MsgBoxWindow,
    tc::MsgBoxDelete,   tc::InputNew,     tc::InputState,  tc::InputText,   tc::InputDelete,
};
