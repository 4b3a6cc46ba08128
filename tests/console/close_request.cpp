// What a window manager sends when its close control is clicked: a
// WM_DELETE_WINDOW client message. The tests run without a window manager,
// so they send it themselves. Apart from the other helpers: Xlib's macros
// (Status, None) clash with the ports' members.
#include <X11/Xlib.h>

#include <stdexcept>

namespace tessel::test {

void SendCloseRequest(unsigned long window) {
    ::Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) throw std::runtime_error("cannot open the display");
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XCloseDisplay(display);  // flushes
}

}  // namespace tessel::test
