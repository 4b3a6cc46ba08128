#include "console/window_console.h"

#include <dlfcn.h>

#include <cmath>
#include <memory>

#include "console/operator_console.h"
#include "ports/shared_library.h"

namespace tessel::console {
namespace {

constexpr double kTwipsPerInch = 1440;

}  // namespace

LoadedDisplay LoadDisplay(const std::string& modulePath) {
    LoadedDisplay loaded;
    try {
        loaded.library = SharedLibrary::Open(modulePath);
        // Pinned for the life of the process: once it has opened a display the
        // toolkit keeps the connection and its exit handlers in the module, so
        // unloading it would leave them pointing at unmapped code.
        ::dlopen(loaded.library.Path().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        const auto* windows = static_cast<const TesselConsoleWindows*>(loaded.library.Require(kConsoleWindowsSymbol));
        if (windows->abi != kConsoleWindowsAbi) {
            loaded.failure = loaded.library.Path() + " is of another release of Tessel";
            return loaded;
        }
        char error[256] = {};
        const int fd = windows->open_display(error, sizeof error);
        if (fd < 0) {
            loaded.failure = error;
            return loaded;
        }
        int width = 0, height = 0;
        double dpiX = 96, dpiY = 96;
        windows->screen(&width, &height, &dpiX, &dpiY);
        Display& d = loaded.display;
        d.windows = windows;
        d.fd = fd;
        d.twipsPerPixelX = kTwipsPerInch / dpiX;
        d.twipsPerPixelY = kTwipsPerInch / dpiY;
        d.screenWidth = static_cast<float>(width * d.twipsPerPixelX);
        d.screenHeight = static_cast<float>(height * d.twipsPerPixelY);
    } catch (const LoadFailure& e) {
        loaded.failure = e.what();
    }
    return loaded;
}

const Display* OpenDisplay(std::string& why) {
    static const LoadedDisplay loaded = LoadDisplay(BesideTessel(kConsoleWindowsModule));
    why = loaded.failure;
    return loaded.display.windows != nullptr ? &loaded.display : nullptr;
}

bool ShowMessageWindow(const Display& display, const std::string& title, const std::string& message,
                       int16_t xPercent, int16_t yPercent) {
    frmMsgBox form(display, title);
    form.lblMsg_Caption(message);
    form.Move((display.screenWidth - form.Width()) * static_cast<float>(xPercent) / 100,
              (display.screenHeight - form.Height()) * static_cast<float>(yPercent) / 100);
    form.Show();
    return form.Cancel();
}

std::string InputBoxWindow(const Display& display, const std::string& prompt, const std::string& title,
                           const std::string& defaultAnswer, int16_t xPercent, int16_t yPercent) {
    const int left = static_cast<int>(
        std::nearbyint(display.screenWidth * static_cast<float>(xPercent) / 100 / display.twipsPerPixelX));
    const int top = static_cast<int>(
        std::nearbyint(display.screenHeight * static_cast<float>(yPercent) / 100 / display.twipsPerPixelY));
    const TesselConsoleWindows& w = *display.windows;
    std::unique_ptr<void, void (*)(void*)> box(
        w.input_new(title.c_str(), prompt.c_str(), defaultAnswer.c_str(), left, top), w.input_delete);
    int state = kWindowWaiting;
    const bool answered = WaitForOperator(display.fd, [&] {
        w.pump();
        state = w.input_state(box.get());
        return state != kWindowWaiting;
    });
    return answered && state == kWindowOK ? std::string(w.input_text(box.get())) : std::string();
}

}  // namespace tessel::console
