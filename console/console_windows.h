// The table that libtessel-console-fltk.so exports: the toolkit's side of the
// operator console, in plain C so that the module and libtessel share no C++
// types. libtessel keeps the logic (the form's layout in twips, the cancel
// flag, where the windows go, the wait); the module only draws, measures and
// reports what the operator did. All sizes here are pixels.
//
// Nothing in the table blocks: `pump` handles the events that have arrived
// and returns, and the caller sleeps on `display_fd` in its own loop.
//
// Threads: the toolkit keeps one display connection per process; call the
// table from one thread at a time.
#pragma once

#include <cstddef>

extern "C" {

// What a window's operator has done so far.
enum TesselWindowState { kWindowWaiting = 0, kWindowOK = 1, kWindowCancel = 2 };

// Where the message form's parts go, relative to its client area.
struct TesselMsgBoxPixels {
    int left, top, width, height;  // the window's client area on the screen
    int icon_left, icon_top, icon_size;
    int label_left, label_top, label_width, label_height;
    int ok_left, ok_top, cancel_left, cancel_top, button_width, button_height;
};

struct TesselConsoleWindows {
    int abi;  // kConsoleWindowsAbi
    // Opens the display named by DISPLAY. Returns the connection's descriptor,
    // or -1 with the reason in error (always terminated).
    int (*open_display)(char* error, size_t error_size);
    // The screen's size and resolution (dots per inch), as the display reports them.
    void (*screen)(int* width_px, int* height_px, double* dpi_x, double* dpi_y);
    // Handles every event that has arrived and redraws; never blocks.
    void (*pump)(void);

    void* (*msgbox_new)(const char* title);
    // Sets the label's text and gives the size the label takes for it: one
    // line per line of text, no wrapping.
    void (*msgbox_set_text)(void* box, const char* text, int* width_px, int* height_px);
    void (*msgbox_arrange)(void* box, const struct TesselMsgBoxPixels* where);
    // Shows it modally; the operator's answer comes through msgbox_state.
    void (*msgbox_show)(void* box);
    int (*msgbox_state)(void* box);
    // The window's identifier on the display (0 before it is shown).
    unsigned long (*msgbox_window)(void* box);
    void (*msgbox_delete)(void* box);

    // A modal input box with its top-left corner at (left, top), shown at once.
    void* (*input_new)(const char* title, const char* prompt, const char* default_text, int left_px, int top_px);
    int (*input_state)(void* box);
    // The field's text; valid until input_delete.
    const char* (*input_text)(void* box);
    void (*input_delete)(void* box);
};

}

// Bumped whenever the table changes, so that a stale module is refused.
inline constexpr int kConsoleWindowsAbi = 1;
// The module's file beside libtessel and its one exported symbol.
inline constexpr const char* kConsoleWindowsModule = "libtessel-console-fltk.so";
inline constexpr const char* kConsoleWindowsSymbol = "tessel_console_windows";
