// The operator console on a terminal, for hosts without a display.
//
// The message is written with "OK/Cancel" after it; the input box is the
// prompt and, on the next line, the default answer ready to edit: typing
// replaces it, Backspace and Ctrl+U edit it. Enter is OK; Esc, Ctrl+D or the
// end of input is Cancel. Keys that send an escape sequence (arrows) are
// ignored rather than taken for Esc. The terminal is put in non-canonical,
// no-echo mode for the call and restored afterwards; Ctrl+C still raises
// SIGINT.
//
// Threads: the calling thread's loop.
#pragma once

#include <string>

#include "ports/unique_fd.h"

namespace tessel::console {

// The controlling terminal, opened for reading and writing; an invalid
// descriptor with the reason in `why` when the process has none.
UniqueFd OpenControllingTerminal(std::string& why);

// On the terminal `fd`: true when the operator cancelled.
bool ShowMessageTerminal(int fd, const std::string& title, const std::string& message);
// On the terminal `fd`: the answer, empty when the operator cancelled.
std::string InputBoxTerminal(int fd, const std::string& prompt, const std::string& title,
                             const std::string& defaultAnswer);

}  // namespace tessel::console
