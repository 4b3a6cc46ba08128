// Asks a window to close as its window manager's close control would.
#pragma once

namespace tessel::test {

// Throws std::runtime_error when the display cannot be opened.
void SendCloseRequest(unsigned long window);

}  // namespace tessel::test
