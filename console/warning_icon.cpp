#include "console/warning_icon.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tessel::console {
namespace {

using Rgba = std::array<uint8_t, 4>;
// Two entries of the 16-colour palette and a transparent background.
constexpr Rgba kClear{0, 0, 0, 0};
constexpr Rgba kBlack{0x00, 0x00, 0x00, 0xff};
constexpr Rgba kYellow{0xff, 0xff, 0x00, 0xff};

}  // namespace

std::vector<uint8_t> WarningIconPixels(int size) {
    const double n = size;
    // The triangle: apex at the top centre, base along the bottom, one pixel in.
    const double cx = n / 2, top = 1, base = n - 1, halfBase = n / 2 - 1;
    const double edge = std::max(1.0, n / 16);  // black border width
    // The exclamation mark, in fractions of the triangle's height.
    const double height = base - top;
    const double barHalf = std::max(0.5, n / 20);
    const double barTop = top + 0.34 * height, barBottom = top + 0.70 * height;
    const double dotTop = top + 0.78 * height, dotBottom = top + 0.88 * height;

    std::vector<uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            Rgba colour = kClear;
            if (py >= top && py <= base) {
                const double half = halfBase * (py - top) / height;
                const double fromSide = half - std::fabs(px - cx);
                if (fromSide >= 0) {
                    // Distance to the slanted side, measured across it.
                    const double slant = fromSide * height / std::hypot(height, halfBase);
                    const bool border = slant < edge || base - py < edge;
                    const bool mark = std::fabs(px - cx) <= barHalf &&
                                      ((py >= barTop && py <= barBottom) || (py >= dotTop && py <= dotBottom));
                    colour = border || mark ? kBlack : kYellow;
                }
            }
            std::copy(colour.begin(), colour.end(), pixels.begin() + (static_cast<std::ptrdiff_t>(y) * size + x) * 4);
        }
    }
    return pixels;
}

}  // namespace tessel::console
