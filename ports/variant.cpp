#include <tessel/variant.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include <tessel/error.h>

#include "ports/number_text.h"
#include "ports/text.h"

namespace tessel {
namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

[[noreturn]] void TypeMismatch() { RaiseRuntimeError(kErrTypeMismatch); }
[[noreturn]] void Overflow() { RaiseRuntimeError(kErrOverflow); }

template <class Int>
Int RoundToInteger(double d) {
    // nearbyint rounds half to even in the default rounding mode.
    const double r = std::nearbyint(d);
    if (!(r >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          r <= static_cast<double>(std::numeric_limits<Int>::max())))
        Overflow();  // also NaN
    return static_cast<Int>(r);
}

}  // namespace

std::string_view TypeName(VarType type) {
    switch (type) {
    case VarType::Empty: return "Empty";
    case VarType::Missing: return "Missing";
    case VarType::Boolean: return "Boolean";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::String: return "String";
    case VarType::Bytes: return "Byte()";
    case VarType::Object: return "Object";
    }
    return "?";
}

bool Variant::IsNumeric() const {
    switch (Type()) {
    case VarType::Empty:
    case VarType::Boolean:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double: return true;
    case VarType::String: return ParseNumber(std::get<std::string>(value_)).has_value();
    default: return false;
    }
}

double Variant::ToDouble() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return 0.0; },
                          [](BooleanValue b) { return static_cast<double>(b.raw); },
                          [](int16_t i) { return static_cast<double>(i); },
                          [](int32_t l) { return static_cast<double>(l); },
                          [](float f) { return static_cast<double>(f); },
                          [](double d) { return d; },
                          [](const std::string& s) {
                              auto n = ParseNumber(s);
                              if (!n) TypeMismatch();
                              if (std::isinf(*n)) Overflow();
                              return *n;
                          },
                          [](const auto&) -> double { TypeMismatch(); },
                      },
                      value_);
}

int16_t Variant::ToInteger() const { return RoundToInteger<int16_t>(ToDouble()); }

int32_t Variant::ToLong() const { return RoundToInteger<int32_t>(ToDouble()); }

float Variant::ToSingle() const {
    const double d = ToDouble();
    if (!(std::fabs(d) <= static_cast<double>(FLT_MAX))) Overflow();
    return static_cast<float>(d);
}

bool Variant::ToBoolean() const {
    if (const auto* s = std::get_if<std::string>(&value_)) {
        if (SameText(*s, "True")) return true;
        if (SameText(*s, "False")) return false;
    }
    return ToDouble() != 0.0;
}

std::string Variant::ToString() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return std::string(); },
                          [](BooleanValue b) { return std::string(b.raw != 0 ? "True" : "False"); },
                          [](int16_t i) { return std::to_string(i); },
                          [](int32_t l) { return std::to_string(l); },
                          [](float f) { return GeneralNumber(f, kSingleDigits); },
                          [](double d) { return GeneralNumber(d, kDoubleDigits); },
                          [](const std::string& s) { return s; },
                          [](const ByteArray& a) { return std::string(a.bytes.begin(), a.bytes.end()); },
                          [](const auto&) -> std::string { TypeMismatch(); },
                      },
                      value_);
}

const ByteArray& Variant::AsBytes() const {
    if (const auto* a = std::get_if<ByteArray>(&value_)) return *a;
    TypeMismatch();
}

const std::shared_ptr<Object>& Variant::AsObject() const {
    if (const auto* o = std::get_if<std::shared_ptr<Object>>(&value_)) return *o;
    TypeMismatch();
}

int16_t Variant::RawBooleanValue() const {
    if (const auto* b = std::get_if<BooleanValue>(&value_)) return b->raw;
    return ToBoolean() ? -1 : 0;
}

}  // namespace tessel
