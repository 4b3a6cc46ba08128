// The operator console on the display: the window module, loaded once per
// process at the first display, and the two dialogs shown through it.
//
// Threads: the module is loaded under the C++ run time's guard for statics;
// the dialogs from one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "console/frmMsgBox.h"
#include "ports/shared_library.h"

namespace tessel::console {

struct LoadedDisplay {
    SharedLibrary library;
    Display display;    // display.windows is null when loading failed
    std::string failure;
};

// Loads the window module from modulePath and opens the display.
LoadedDisplay LoadDisplay(const std::string& modulePath);

// The display, loading the module and opening the connection on first use;
// null with the reason in `why` when either fails (the same reason every
// later time: a process tries once).
const Display* OpenDisplay(std::string& why);

bool ShowMessageWindow(const Display& display, const std::string& title, const std::string& message,
                       int16_t xPercent, int16_t yPercent);
std::string InputBoxWindow(const Display& display, const std::string& prompt, const std::string& title,
                           const std::string& defaultAnswer, int16_t xPercent, int16_t yPercent);

}  // namespace tessel::console
