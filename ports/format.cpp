#include <tessel/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include "ports/number_text.h"
#include "ports/text.h"

namespace tessel {
namespace {

// One section of a numeric pattern, split around its digit placeholders.
struct Section {
    std::string prefix;       // literal text before the first placeholder
    std::string intPattern;   // '0' and '#' of the integer part, in order
    std::string fracPattern;  // '0' and '#' after the decimal point
    bool hasPoint = false;
    bool thousands = false;
    bool percent = false;
    bool scientific = false;
    char expSign = '+';       // '+' always shows the sign, '-' only a minus
    char expLetter = 'E';
    int expDigits = 0;        // minimum exponent digits ('0' placeholders)
    std::string suffix;       // literal text after the last placeholder
};

std::vector<std::string> SplitSections(std::string_view pattern) {
    std::vector<std::string> sections(1);
    bool quoted = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '"') quoted = !quoted;
        if (c == '\\' && i + 1 < pattern.size()) {
            sections.back() += c;
            sections.back() += pattern[++i];
            continue;
        }
        if (c == ';' && !quoted) sections.emplace_back();
        else sections.back() += c;
    }
    return sections;
}

Section ParseSection(std::string_view text) {
    Section s;
    bool seenDigit = false;
    std::string* literal = &s.prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            std::size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos) close = text.size();
            *literal += text.substr(i + 1, close - i - 1);
            i = close;
        } else if (c == '\\' && i + 1 < text.size()) {
            *literal += text[++i];
        } else if (c == '0' || c == '#') {
            (s.hasPoint ? s.fracPattern : s.intPattern) += c;
            seenDigit = true;
            literal = &s.suffix;
        } else if (c == '.' && !s.hasPoint && !s.scientific) {
            s.hasPoint = true;
            seenDigit = true;
            literal = &s.suffix;
        } else if (c == ',' && seenDigit && !s.hasPoint) {
            s.thousands = true;
        } else if (c == '%') {
            s.percent = true;
            *literal += c;
        } else if ((c == 'E' || c == 'e') && seenDigit && i + 1 < text.size() &&
                   (text[i + 1] == '+' || text[i + 1] == '-')) {
            s.scientific = true;
            s.expLetter = c;
            s.expSign = text[++i];
            while (i + 1 < text.size() && (text[i + 1] == '0' || text[i + 1] == '#')) {
                if (text[++i] == '0') ++s.expDigits;
            }
            literal = &s.suffix;
        } else {
            *literal += c;
        }
    }
    return s;
}

std::string Group(std::string digits) {
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), 1, ',');
    return digits;
}

// The digits of a number as a pattern shows them, split at the decimal point.
struct Digits {
    std::string integer;
    std::string fraction;
    int exponent = 0;
};

// |v| rounded to `decimals` places. v is finite.
Digits FixedDigits(double v, int decimals) {
    // A finite double has at most 309 integer digits.
    std::string text(static_cast<std::size_t>(decimals) + 320, '\0');
    const auto [end, ec] =
        std::to_chars(text.data(), text.data() + text.size(), std::fabs(v), std::chars_format::fixed, decimals);
    text.resize(ec == std::errc() ? static_cast<std::size_t>(end - text.data()) : 0);
    const auto point = text.find('.');
    if (point == std::string::npos) return {text, "", 0};
    return {text.substr(0, point), text.substr(point + 1), 0};
}

// |v| with `intPlaces` integer digits, `decimals` places and the exponent of
// ten that makes them v, rounded once (9.999 with one integer digit and two
// places is 1.00E+01). v is finite and not 0.
Digits ScientificDigits(double v, int intPlaces, int decimals) {
    const int precision = intPlaces - 1 + decimals;
    std::string text(static_cast<std::size_t>(precision) + 32, '\0');
    const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), std::fabs(v),
                                         std::chars_format::scientific, precision);
    text.resize(ec == std::errc() ? static_cast<std::size_t>(end - text.data()) : 0);
    const auto e = text.find('e');
    if (e == std::string::npos) return {};
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), exponent);
    std::string digits = text.substr(0, e);
    if (digits.size() > 1) digits.erase(1, 1);  // the point after the first digit
    const auto places = static_cast<std::size_t>(intPlaces);
    return {digits.substr(0, places), digits.substr(places), exponent - (intPlaces - 1)};
}

// The section applied to v; nothing when it has no digits for the value
// (infinity, NaN, a percentage beyond the range of a Double).
std::optional<std::string> ApplySection(const Section& s, double v) {
    if (s.percent) v *= 100.0;
    if (!std::isfinite(v)) return std::nullopt;
    const int decimals = static_cast<int>(s.fracPattern.size());
    auto [intDigits, fracDigits, exponent] =
        s.scientific && v != 0.0
            ? ScientificDigits(v, std::max<int>(1, static_cast<int>(s.intPattern.size())), decimals)
            : FixedDigits(v, decimals);
    if (intDigits == "0") intDigits.clear();

    // Integer part: '0' placeholders pad with zeros, '#' show only significant digits.
    const std::size_t firstZero = s.intPattern.find('0');
    const std::size_t minDigits = firstZero == std::string::npos ? 0 : s.intPattern.size() - firstZero;
    if (intDigits.size() < minDigits) intDigits.insert(0, minDigits - intDigits.size(), '0');
    if (s.thousands) intDigits = Group(intDigits);

    // Fraction: trailing '#' places drop their zeros.
    std::size_t keep = fracDigits.size();
    while (keep > 0 && s.fracPattern[keep - 1] == '#' && fracDigits[keep - 1] == '0') --keep;
    fracDigits.resize(keep);

    std::string out = s.prefix + intDigits;
    if (s.hasPoint) out += '.' + fracDigits;
    if (s.scientific) {
        out += s.expLetter;
        if (exponent < 0) out += '-';
        else if (s.expSign == '+') out += '+';
        std::string e = std::to_string(std::abs(exponent));
        const auto expDigits = static_cast<std::size_t>(s.expDigits);
        if (e.size() < expDigits) e.insert(0, expDigits - e.size(), '0');
        out += e;
    }
    return out + s.suffix;
}

std::string_view NamedPattern(std::string_view pattern) {
    struct Named {
        const char* name;
        const char* pattern;
    };
    static constexpr Named kNamed[] = {
        {"Fixed", "0.00"},
        {"Standard", "#,##0.00"},
        {"Percent", "0.00%"},
        {"Scientific", "0.00E+00"},
    };
    for (const auto& n : kNamed)
        if (SameText(pattern, n.name)) return n.pattern;
    return pattern;
}

}  // namespace

std::string FormatValue(const Variant& vntValue, std::string_view strPattern) {
    if (strPattern.empty() || SameText(strPattern, "General Number"))
        return vntValue.ToString();
    if (!vntValue.IsNumeric() || vntValue.IsEmpty()) return vntValue.ToString();

    const double v = vntValue.ToDouble();
    const auto sections = SplitSections(NamedPattern(strPattern));
    std::size_t section = 0;
    if (v == 0.0 && sections.size() >= 3 && !sections[2].empty()) section = 2;
    else if (v < 0.0 && sections.size() >= 2 && !sections[1].empty()) section = 1;
    auto text = ApplySection(ParseSection(sections[section]), v);
    if (!text) return vntValue.ToString();
    // A negative value formatted by the positive section keeps its sign, unless
    // it rounded to nothing but zeros.
    if (section == 0 && v < 0.0 && text->find_first_of("123456789") != std::string::npos) text->insert(0, 1, '-');
    return *text;
}

}  // namespace tessel
