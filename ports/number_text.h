// Numbers to and from text by the run time's rules, shared by Variant and
// FormatValue.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessel {

// Significant digits of the general format.
inline constexpr int kSingleDigits = 7;
inline constexpr int kDoubleDigits = 15;

// v in general format with at most `digits` significant digits ("2.5", "1E-05").
std::string GeneralNumber(double v, int digits);

// Parses a number written as text: blanks around it, a sign, digits with an
// optional decimal point and exponent (E or D), or &H / &O integers. Hex and
// octal literals of up to 16 bits are 16-bit two's complement ("&HFFFF" is -1),
// longer ones 32-bit. Returns nothing when the text is not a number.
std::optional<double> ParseNumber(std::string_view text);

}  // namespace tessel
