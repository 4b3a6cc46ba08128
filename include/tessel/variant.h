// Variant: the value type of settings, optional arguments, binary blocks and
// late-bound calls.
//
// A Variant holds one of: Empty (the default), Missing (an optional argument
// that was left out), Boolean (kept as its raw 16-bit value: True is -1),
// Integer (16-bit), Long (32-bit), Single, Double, String (one byte per
// character), a byte array with its lower bound, or a reference to an Object.
//
// Conversions follow the run time's rules and raise a ComError on failure:
//   * to Integer/Long: numbers round half to even (2.5 -> 2, 3.5 -> 4); text is
//     parsed as a number first (" 12 ", "-3.5", "1E3", "&H1F"); a result
//     outside the range raises 6 "Overflow"; text that is not a number, an
//     array, an object or Missing raises 13 "Type mismatch". Empty gives 0.
//   * to Single/Double: the same parsing; beyond the range of Single: 6.
//   * to String: numbers in general format (FormatValue), Booleans as "True"
//     and "False", Empty as "", a byte array as its bytes.
//   * to Boolean: numbers are True when not 0; "True"/"False" in any case.
//
// Threads: a plain value; no shared state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <tessel/export.h>

namespace tessel {

class Object;

// An array of bytes with its lower bound (arrays from other languages need
// not start at 0; the element count is what matters to the drivers).
struct TESSEL_API ByteArray {
    std::vector<uint8_t> bytes;
    int32_t lowerBound = 0;

    int32_t LowerBound() const { return lowerBound; }
    int32_t UpperBound() const { return lowerBound + static_cast<int32_t>(bytes.size()) - 1; }
    bool operator==(const ByteArray&) const = default;
};

enum class VarType { Empty, Missing, Boolean, Integer, Long, Single, Double, String, Bytes, Object };

class TESSEL_API Variant {
public:
    struct MissingTag {
        bool operator==(const MissingTag&) const = default;
    };
    struct BooleanValue {
        int16_t raw;
        bool operator==(const BooleanValue&) const = default;
    };

    Variant() = default;
    Variant(bool b) : value_(BooleanValue{static_cast<int16_t>(b ? -1 : 0)}) {}
    Variant(int16_t i) : value_(i) {}
    Variant(int32_t l) : value_(l) {}
    Variant(float f) : value_(f) {}
    Variant(double d) : value_(d) {}
    Variant(std::string s) : value_(std::move(s)) {}
    Variant(std::string_view s) : value_(std::string(s)) {}
    Variant(const char* s) : value_(std::string(s)) {}
    Variant(ByteArray a) : value_(std::move(a)) {}
    Variant(std::shared_ptr<Object> o) : value_(std::move(o)) {}

    // An optional argument that was not passed.
    static Variant Missing() { return Variant(MissingTag{}); }
    // A Boolean with its raw value, as another language may pass it (only -1 is True there).
    static Variant RawBoolean(int16_t raw) { return Variant(BooleanValue{raw}); }
    // A byte array indexed from 0.
    static Variant Bytes(std::vector<uint8_t> bytes) { return Variant(ByteArray{std::move(bytes), 0}); }

    VarType Type() const { return static_cast<VarType>(value_.index()); }
    bool IsEmpty() const { return Type() == VarType::Empty; }
    bool IsMissing() const { return Type() == VarType::Missing; }
    bool IsNumeric() const;
    bool IsArray() const { return Type() == VarType::Bytes; }

    int16_t ToInteger() const;  // CInt
    int32_t ToLong() const;     // CLng
    float ToSingle() const;     // CSng
    double ToDouble() const;    // CDbl
    bool ToBoolean() const;     // CBool
    std::string ToString() const;  // CStr
    // The byte array; anything else raises 13 "Type mismatch".
    const ByteArray& AsBytes() const;
    // The object reference; anything else raises 13 "Type mismatch".
    const std::shared_ptr<Object>& AsObject() const;
    // The raw 16-bit value of a Boolean (-1 or 0 when made from a bool).
    int16_t RawBooleanValue() const;

    bool operator==(const Variant&) const = default;

private:
    explicit Variant(MissingTag m) : value_(m) {}
    explicit Variant(BooleanValue b) : value_(b) {}

    std::variant<std::monostate, MissingTag, BooleanValue, int16_t, int32_t, float, double,
                 std::string, ByteArray, std::shared_ptr<Object>>
        value_;
};

// A readable name of a Variant's type ("Integer", "String", ...), for messages.
TESSEL_API std::string_view TypeName(VarType type);

}  // namespace tessel
