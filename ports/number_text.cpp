#include "ports/number_text.h"
#include "ports/text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace tessel {

std::string GeneralNumber(double v, int digits) {
    if (v == 0.0) return "0";  // also turns -0 into "0"
    // to_chars, unlike printf, ignores the C locale's decimal separator.
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
    std::string text(buf, ec == std::errc() ? end : buf);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return text;
}

namespace {

std::optional<double> ParseRadix(std::string_view digits, int radix) {
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (radix == 16 && std::isxdigit(static_cast<unsigned char>(c))) d = std::toupper(c) - 'A' + 10;
        else return std::nullopt;
        if (d >= radix) return std::nullopt;
        value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    if (value <= 0xFFFF) return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(value)));
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
    std::string_view s = TrimBlanks(text);
    if (s.size() > 2 && s[0] == '&') {
        char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
        if (kind == 'H') return ParseRadix(s.substr(2), 16);
        if (kind == 'O') return ParseRadix(s.substr(2), 8);
        return std::nullopt;
    }
    // sign? digits* (. digits*)? ([EeDd] sign? digits+)?  with at least one mantissa digit
    std::string normal;
    std::size_t i = 0;
    auto take = [&](auto pred) {
        std::size_t n = 0;
        while (i < s.size() && pred(s[i])) normal += s[i++], ++n;
        return n;
    };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    std::size_t mantissa = take(isDigit);
    if (i < s.size() && s[i] == '.') {
        normal += s[i++];
        mantissa += take(isDigit);
    }
    if (mantissa == 0) return std::nullopt;
    if (i < s.size() && std::string_view("EeDd").find(s[i]) != std::string_view::npos) {
        normal += 'E';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
        if (take(isDigit) == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    double value = 0.0;
    const char* first = normal.data();
    if (*first == '+') ++first;
    auto [end, ec] = std::from_chars(first, normal.data() + normal.size(), value);
    if (ec == std::errc::result_out_of_range) return normal[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    if (ec != std::errc() || end != normal.data() + normal.size()) return std::nullopt;
    return value;
}

}  // namespace tessel
