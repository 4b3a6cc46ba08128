// FormatValue: numbers as text, the way every message of the library prints them.
//
// Without a pattern a number is written in general format: no leading blank,
// no trailing zeros, up to 7 significant digits for a Single and 15 for a
// Double, scientific notation for very large or small magnitudes:
//   1 -> "1", 2.5 -> "2.5", 0.25 -> "0.25", 1E-05 -> "1E-05", 1E+15 -> "1E+15".
// Text is returned unchanged, Empty as "".
//
// A pattern formats a number with placeholders: "0" a digit always shown, "#" a
// digit shown when significant, "." the decimal point, "," (between digit
// placeholders) thousands separators, "%" multiplies by 100, "E+0"/"E-0"
// scientific notation; "\x" or "text" inserts literal characters; up to three
// sections separated by ";" serve positive, negative and zero values. Named
// patterns: "General Number", "Fixed", "Standard", "Percent", "Scientific".
// A pattern applied to text that is not a number returns the text unchanged.
// A number that a pattern cannot show (infinity, NaN, a percentage beyond the
// range of a Double) is written in general format instead: "inf", "-inf",
// "nan"; 1E+307 with "0%" gives "1E+307". Finite numbers get every digit a
// pattern asks for, whatever their magnitude.
//
// Threads: pure function.
#pragma once

#include <string>
#include <string_view>

#include <tessel/export.h>
#include <tessel/variant.h>

namespace tessel {

TESSEL_API std::string FormatValue(const Variant& vntValue, std::string_view strPattern = {});

}  // namespace tessel
