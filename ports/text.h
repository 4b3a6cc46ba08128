// Small text helpers shared by the conversions, the settings and the drivers.
#pragma once

#include <cctype>
#include <string_view>

#include <strings.h>

namespace tessel {

// text without the blanks (spaces, tabs, line ends) around it.
inline std::string_view TrimBlanks(std::string_view text) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// text without the spaces around it; other blanks (CR, LF, tabs) stay.
inline std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// Equal without regard to case (setting names, labels, identifiers, "True").
inline bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace tessel
