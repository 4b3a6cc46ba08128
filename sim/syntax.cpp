#include "sim/syntax.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tessel::sim::detail {
namespace {

// Control bytes and space count as blanks, as the instrument's white space.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view TrimFront(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}
std::string_view Trim(std::string_view s) {
    s = TrimFront(s);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string ToUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Upper(c);
    return out;
}

// A length longer than anything that could arrive; keeps the arithmetic of a
// hostile "#9999999999" from overflowing.
constexpr uint64_t kLengthCap = uint64_t{1} << 40;

// Where a definite-length block starting at s[i] == '#' ends (one past its
// last byte, at most s.size()), or i + 1 when what follows is no block
// ("#H1F", a lone "#").
std::size_t SkipBlock(std::string_view s, std::size_t i) {
    std::size_t p = i + 1;
    if (p >= s.size() || s[p] < '1' || s[p] > '9') return i + 1;
    const int digits = s[p] - '0';
    ++p;
    uint64_t length = 0;
    for (int k = 0; k < digits; ++k, ++p) {
        if (p >= s.size() || !IsDigit(s[p])) return p;  // malformed: resume as text
        length = std::min(kLengthCap, length * 10 + static_cast<uint64_t>(s[p] - '0'));
    }
    return static_cast<std::size_t>(std::min<uint64_t>(s.size(), p + length));
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

// ---- MessageFramer ----

std::size_t MessageFramer::Feed(std::string_view in) {
    std::size_t i = 0;
    while (i < in.size() && !complete_) {
        const char c = in[i];
        switch (state_) {
        case State::Text:
            if (c == '\n' || c == '\r') {
                complete_ = true;
            } else {
                message_.push_back(c);
                if (c == '#') state_ = State::Hash;
            }
            ++i;
            break;
        case State::Hash:
            if (c >= '1' && c <= '9') {
                lengthDigits_ = c - '0';
                remaining_ = 0;
                state_ = State::Length;
                message_.push_back(c);
                ++i;
            } else {
                state_ = State::Text;  // not a block: read c again as text
            }
            break;
        case State::Length:
            if (IsDigit(c)) {
                remaining_ = std::min(kLengthCap, remaining_ * 10 + static_cast<uint64_t>(c - '0'));
                message_.push_back(c);
                ++i;
                if (--lengthDigits_ == 0) state_ = remaining_ > 0 ? State::Data : State::Text;
            } else {
                state_ = State::Text;  // malformed; the command will say so
            }
            break;
        case State::Data: {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(remaining_, in.size() - i));
            message_.append(in.substr(i, n));
            i += n;
            remaining_ -= n;
            if (remaining_ == 0) state_ = State::Text;
            break;
        }
        }
    }
    return i;
}

std::string MessageFramer::Take() {
    std::string out = std::move(message_);
    Reset();
    return out;
}

void MessageFramer::Finish() {
    if (!message_.empty()) complete_ = true;
    state_ = State::Text;
}

void MessageFramer::Reset() {
    message_.clear();
    state_ = State::Text;
    complete_ = false;
    remaining_ = 0;
    lengthDigits_ = 0;
}

// ---- units ----

std::vector<std::string_view> SplitUnits(std::string_view message) {
    std::vector<std::string_view> units;
    std::size_t start = 0;
    std::size_t i = 0;
    auto push = [&](std::size_t end) {
        std::string_view u = message.substr(start, end - start);
        if (!Trim(u).empty()) units.push_back(u);
    };
    while (i < message.size()) {
        if (message[i] == '#') {
            i = SkipBlock(message, i);
        } else if (message[i] == ';') {
            push(i);
            start = ++i;
        } else {
            ++i;
        }
    }
    push(message.size());
    return units;
}

Unit ParseUnit(std::string_view unit) {
    Unit u;
    unit = TrimFront(unit);
    std::size_t end = 0;
    while (end < unit.size() && !IsBlank(unit[end])) ++end;
    u.header = unit.substr(0, end);
    u.data = TrimFront(unit.substr(end));
    u.query = !u.header.empty() && u.header.back() == '?';
    return u;
}

// ---- headers ----

HeaderPattern::HeaderPattern(std::string_view pattern) {
    if (!pattern.empty() && pattern.back() == '?') {
        query_ = true;
        pattern.remove_suffix(1);
    }
    if (!pattern.empty() && pattern.front() == '*') {
        common_ = ToUpper(pattern);
        if (query_) common_ += '?';
        return;
    }
    std::size_t i = 0;
    while (i < pattern.size()) {
        bool optional = false;
        if (pattern[i] == '[') {
            optional = true;
            ++i;
        }
        if (i < pattern.size() && pattern[i] == ':') ++i;
        std::size_t start = i;
        while (i < pattern.size() && pattern[i] != ':' && pattern[i] != '[' && pattern[i] != ']') ++i;
        std::string_view name = pattern.substr(start, i - start);
        if (optional) {
            if (i >= pattern.size() || pattern[i] != ']') throw std::logic_error("unclosed optional node");
            ++i;
        }
        std::size_t shortLength = 0;
        while (shortLength < name.size() && name[shortLength] >= 'A' && name[shortLength] <= 'Z') ++shortLength;
        nodes_.push_back(Node{ToUpper(name), shortLength, optional});
    }
}

bool HeaderPattern::Matches(std::string_view header) const {
    if (!common_.empty()) return EqualsIgnoreCase(header, common_);
    if (header.empty() || header.front() == '*') return false;
    const bool query = header.back() == '?';
    if (query != query_) return false;
    if (query) header.remove_suffix(1);
    if (!header.empty() && header.front() == ':') header.remove_prefix(1);
    std::vector<std::string> tokens;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= header.size(); ++i) {
        if (i == header.size() || header[i] == ':') {
            if (i == start) return false;  // "SYST::ERR", a trailing ":"
            tokens.push_back(ToUpper(header.substr(start, i - start)));
            start = i + 1;
        }
    }
    return MatchFrom(0, tokens, 0);
}

bool HeaderPattern::MatchFrom(std::size_t node, const std::vector<std::string>& tokens, std::size_t token) const {
    if (node == nodes_.size()) return token == tokens.size();
    const Node& n = nodes_[node];
    if (token < tokens.size()) {
        const std::string& t = tokens[token];
        const bool same = t == n.longForm || std::string_view(t) == std::string_view(n.longForm).substr(0, n.shortLength);
        if (same && MatchFrom(node + 1, tokens, token + 1)) return true;
    }
    return n.optional && MatchFrom(node + 1, tokens, token);
}

// ---- data ----

std::optional<double> ParseDecimal(std::string_view text) {
    text = Trim(text);
    std::size_t i = 0;
    std::string clean;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') clean += '-';
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) clean += text[i++], ++digits;
    if (i < text.size() && text[i] == '.') {
        clean += text[i++];
        while (i < text.size() && IsDigit(text[i])) clean += text[i++], ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        clean += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) clean += text[i++];
        std::size_t expDigits = 0;
        while (i < text.size() && IsDigit(text[i])) clean += text[i++], ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    auto [ptr, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (ec != std::errc() || ptr != clean.data() + clean.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::string_view> ParseBlock(std::string_view data) {
    if (data.size() < 2 || data[0] != '#' || data[1] < '1' || data[1] > '9') return std::nullopt;
    const std::size_t digits = static_cast<std::size_t>(data[1] - '0');
    if (data.size() < 2 + digits) return std::nullopt;
    uint64_t length = 0;
    for (std::size_t k = 0; k < digits; ++k) {
        const char c = data[2 + k];
        if (!IsDigit(c)) return std::nullopt;
        length = std::min(kLengthCap, length * 10 + static_cast<uint64_t>(c - '0'));
    }
    const std::size_t start = 2 + digits;
    if (data.size() - start < length) return std::nullopt;
    if (!Trim(data.substr(start + length)).empty()) return std::nullopt;
    return data.substr(start, static_cast<std::size_t>(length));
}

std::string FormatBlock(std::string_view payload) {
    const std::string length = std::to_string(payload.size());
    std::string out;
    out.reserve(2 + length.size() + payload.size());
    out += '#';
    out += static_cast<char>('0' + length.size());
    out += length;
    out += payload;
    return out;
}

std::string FormatNr3(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.6E", value);
    return buf;
}

}  // namespace tessel::sim::detail
