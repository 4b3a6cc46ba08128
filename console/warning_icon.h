// The message form's warning icon, drawn by our own code: a yellow triangle
// with a black edge and a black exclamation mark, in the 16-colour palette,
// at 32x32 (on the form) and 16x16 (the window's small icon).
//
// Threads: any; the result is a fresh value.
#pragma once

#include <cstdint>
#include <vector>

namespace tessel::console {

// size x size pixels, 4 bytes each (red, green, blue, alpha), row by row from
// the top; outside the triangle fully transparent.
std::vector<uint8_t> WarningIconPixels(int size);

}  // namespace tessel::console
