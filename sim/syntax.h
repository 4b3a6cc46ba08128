// The program-message syntax the simulated instrument reads: framing of the
// byte stream into messages, units, headers, numbers and blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::sim::detail {

// Cuts a byte stream into program messages. A message ends at LF or CR (the
// LF of CR LF then arrives as an empty message, which the caller skips); the
// bytes of a definite-length block are counted, never searched for a
// terminator, so a block may carry any byte.
class MessageFramer {
public:
    // Consumes bytes until one message is complete or the input runs out;
    // returns how many bytes it took. The terminator is consumed, not kept.
    std::size_t Feed(std::string_view in);
    // True once Feed has completed a message; Take hands it over.
    bool Complete() const { return complete_; }
    std::string Take();
    // Ends the message held so far (EOI came with its last byte), even in the
    // middle of a block.
    void Finish();
    // No byte of a message is held.
    bool Idle() const { return !complete_ && message_.empty() && state_ == State::Text; }
    // Bytes of the message held so far.
    std::size_t Size() const { return message_.size(); }
    void Reset();

private:
    enum class State { Text, Hash, Length, Data };
    State state_ = State::Text;
    int lengthDigits_ = 0;
    uint64_t remaining_ = 0;
    std::string message_;
    bool complete_ = false;
};

// Splits a message into units at ";" outside blocks. Empty units are dropped.
std::vector<std::string_view> SplitUnits(std::string_view message);

struct Unit {
    std::string_view header;  // without surrounding blanks
    std::string_view data;    // after the header, leading blanks removed
    bool query = false;       // the header ends with "?"
};
Unit ParseUnit(std::string_view unit);

// A mnemonic path such as "[SOURce]:VOLTage?": upper-case letters are the
// short form, brackets mark optional nodes, a trailing "?" a query. Common
// commands ("*IDN?") match their exact spelling, case aside.
class HeaderPattern {
public:
    explicit HeaderPattern(std::string_view pattern);
    // header as sent: leading ":" allowed, any case, short or long forms.
    bool Matches(std::string_view header) const;

private:
    struct Node {
        std::string longForm;   // upper case
        std::size_t shortLength;
        bool optional;
    };
    bool MatchFrom(std::size_t node, const std::vector<std::string>& tokens, std::size_t token) const;

    std::string common_;  // "*IDN?" for common commands, empty otherwise
    std::vector<Node> nodes_;
    bool query_ = false;
};

// A decimal number: [+|-] digits [. digits] [E [+|-] digits], blanks around.
std::optional<double> ParseDecimal(std::string_view text);

// A definite-length block that fills `data` (trailing blanks allowed): the
// payload, or nothing when the block is malformed or shorter than it says.
std::optional<std::string_view> ParseBlock(std::string_view data);

// "#<digits><length><payload>"
std::string FormatBlock(std::string_view payload);
// NR3: "+1.234500E+00"
std::string FormatNr3(double value);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace tessel::sim::detail
