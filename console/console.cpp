// Which console serves a call: the display, the terminal, or neither.
#include <cstdlib>

#include <atomic>

#include <tessel/error.h>
#include <tessel/gui.h>
#include <tessel/host.h>

#include "console/operator_console.h"
#include "console/terminal_console.h"
#include "console/window_console.h"

namespace tessel {
namespace {

std::atomic<OperatorConsole> chosenConsole{OperatorConsole::Automatic};

}  // namespace

void SetOperatorConsole(OperatorConsole console) noexcept { chosenConsole.store(console); }
OperatorConsole GetOperatorConsole() noexcept { return chosenConsole.load(); }

namespace console {
namespace {

// Raised with the member's source by clsGUI's handler.
constexpr const char* kNoConsoleSource = "Tessel.OperatorConsole";

// Either a display or a terminal to meet the operator on.
struct Route {
    const Display* display = nullptr;
    UniqueFd terminal;
};

Route Choose() {
    const OperatorConsole chosen = GetOperatorConsole();
    Route route;
    std::string whyNoDisplay, whyNoTerminal;
    if (chosen != OperatorConsole::Terminal) {
        // Without DISPLAY there is nothing to open: the module (and X) stay unloaded.
        const char* name = std::getenv("DISPLAY");
        if (name != nullptr && *name != '\0') route.display = OpenDisplay(whyNoDisplay);
        else whyNoDisplay = "no display (DISPLAY is not set)";
        if (route.display != nullptr) return route;
        if (chosen == OperatorConsole::Window)
            RaiseNoConsole("No display for the operator console", whyNoDisplay);
    }
    route.terminal = OpenControllingTerminal(whyNoTerminal);
    if (route.terminal) return route;
    if (chosen == OperatorConsole::Terminal) RaiseNoConsole("No terminal for the operator console", whyNoTerminal);
    RaiseNoConsole("No display and no terminal for the operator console", whyNoDisplay + "; " + whyNoTerminal);
}

}  // namespace

void RaiseNoConsole(const std::string& description, const std::string& detail) {
    RaiseError(kObjectErrorBase + kErrNoOperatorConsole, kNoConsoleSource, description, {}, 0, detail);
}

bool ShowMessage(const std::string& title, const std::string& message, int16_t xPercent, int16_t yPercent) {
    Route route = Choose();
    if (route.display != nullptr) return ShowMessageWindow(*route.display, title, message, xPercent, yPercent);
    return ShowMessageTerminal(route.terminal.get(), title, message);
}

std::string InputBox(const std::string& prompt, const std::string& title, const std::string& defaultAnswer,
                     int16_t xPercent, int16_t yPercent) {
    Route route = Choose();
    if (route.display != nullptr)
        return InputBoxWindow(*route.display, prompt, title, defaultAnswer, xPercent, yPercent);
    return InputBoxTerminal(route.terminal.get(), prompt, title, defaultAnswer);
}

}  // namespace console
}  // namespace tessel
