// What clsGUI asks of the operator console, whichever console serves it: the
// display's windows (window_console.cpp) or the controlling terminal
// (terminal_console.cpp). console.cpp chooses between them per call
// (SetOperatorConsole in <tessel/gui.h>).
//
// Both calls block until the operator answers, running the thread's message
// loop meanwhile; a stop from the host ends the wait as a Cancel. They raise
// kObjectErrorBase + kErrNoOperatorConsole when no console can be reached,
// and ComErrors of the window module's loading.
//
// Threads: the calling thread's loop; windows from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tessel::console {

// Shows `message` titled `title`, placed at the percentages of the screen;
// true when the operator cancelled.
bool ShowMessage(const std::string& title, const std::string& message, int16_t xPercent, int16_t yPercent);

// Asks for an answer to `prompt` with `defaultAnswer` ready to accept, the
// box's top-left corner at the percentages of the screen; the answer, empty
// when the operator cancelled.
std::string InputBox(const std::string& prompt, const std::string& title, const std::string& defaultAnswer,
                     int16_t xPercent, int16_t yPercent);

// Runs the thread's loop until `done` returns true, sleeping between events
// until `fd` is readable, another event arrives, or a short bound passes
// (events that a library reads ahead of us sit where fd cannot show them).
// `done` is asked first and after every wake. Returns false, without waiting
// any longer, when the host's run state asks every wait to stop.
bool WaitForOperator(int fd, const std::function<bool()>& done);

// Raises kErrNoOperatorConsole for `source`, with `detail` saying why.
[[noreturn]] void RaiseNoConsole(const std::string& description, const std::string& detail);

}  // namespace tessel::console
