#include <tessel/parameter.h>

#include <cmath>

#include <tessel/error.h>
#include <tessel/host.h>

#include "ports/number_text.h"
#include "ports/text.h"

namespace tessel {
namespace {

constexpr const char* kParameterSource = "Tessel.Parameter";

void CheckWholeValueSelected(int32_t i, int32_t j) {
    if (i != -1 || j != -1) RaiseRuntimeError(kErrSubscriptOutOfRange);
}

// One "min<step>max" alternative, or a lone number.
bool InRange(std::string_view alternative, double v) {
    const auto lt = alternative.find('<');
    const auto gt = alternative.find('>');
    if (lt == std::string_view::npos || gt == std::string_view::npos || gt < lt) {
        auto only = ParseNumber(alternative);
        return only && *only == v;
    }
    auto lo = ParseNumber(alternative.substr(0, lt));
    auto step = ParseNumber(alternative.substr(lt + 1, gt - lt - 1));
    auto hi = ParseNumber(alternative.substr(gt + 1));
    if (!lo || !step || !hi || v < *lo || v > *hi) return false;
    if (*step <= 0) return true;
    const double steps = (v - *lo) / *step;
    return std::abs(steps - std::round(steps)) < 1e-9;
}

}  // namespace

std::shared_ptr<Parameter> Parameter::Create() { return std::make_shared<Parameter>(); }

void Parameter::Define(std::string_view strCaption, int16_t intFlags, int16_t intKind,
                       std::string_view strAllowed, std::string_view strUnit) {
    name_ = strCaption;
    flags_ = intFlags;
    kind_ = intKind;
    allowed_ = strAllowed;
    unit_ = strUnit;
}

std::shared_ptr<Parameter> Parameter::Add(std::string_view strName, int16_t intFlags, int16_t intKind,
                                          std::string_view strAllowed, std::string_view strUnit) {
    for (const auto& child : children_) {
        if (SameText(child->name_, strName))
            RaiseError(kErrInvalidProcedureCall, kParameterSource,
                       "Setting \"" + std::string(strName) + "\" already exists in \"" + name_ + "\"");
    }
    auto child = Create();
    child->Define(strName, intFlags, intKind, strAllowed, strUnit);
    children_.push_back(child);
    return child;
}

std::shared_ptr<Parameter> Parameter::Item(const Variant& vntName) const {
    const std::string wanted = vntName.ToString();
    for (const auto& child : children_)
        if (SameText(child->name_, wanted)) return child;
    std::string known;
    for (const auto& child : children_) known += (known.empty() ? "\"" : ", \"") + child->name_ + "\"";
    RaiseError(kErrInvalidProcedureCall, kParameterSource,
               "No setting named \"" + wanted + "\" in \"" + name_ + "\"", {}, 0,
               known.empty() ? "it has no settings" : "its settings are " + known);
}

std::vector<ParameterChoice> Parameter::Choices() const {
    std::vector<ParameterChoice> choices;
    if (kind_ != kParameterList) return choices;
    std::string_view rest = allowed_;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view pair = TrimBlanks(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        if (eq == std::string_view::npos) choices.push_back({std::string(pair), std::string(pair)});
        else choices.push_back({std::string(pair.substr(0, eq)), std::string(pair.substr(eq + 1))});
    }
    return choices;
}

Variant Parameter::Value(int32_t lngIndex1, int32_t lngIndex2) const {
    CheckWholeValueSelected(lngIndex1, lngIndex2);
    if (kind_ != kParameterList || value_.IsEmpty()) return value_;
    const auto choices = Choices();
    const std::string written = value_.ToString();
    // A value already written as a value part stays as written (an integer
    // stays an integer); a label reads back as its value.
    for (const auto& c : choices)
        if (c.value == written) return value_;
    for (const auto& c : choices)
        if (c.label == written) return Variant(c.value);
    for (const auto& c : choices)
        if (SameText(c.label, written)) return Variant(c.value);
    for (const auto& c : choices)
        if (SameText(c.value, written)) return Variant(c.value);
    return value_;
}

void Parameter::Value(int32_t lngIndex1, int32_t lngIndex2, const Variant& vntNewValue) {
    CheckWholeValueSelected(lngIndex1, lngIndex2);
    value_ = vntNewValue;
}

bool Parameter::Allows(const Variant& v) const {
    switch (kind_) {
    case kParameterList: {
        const std::string text = v.ToString();
        for (const auto& c : Choices())
            if (SameText(c.label, text) || SameText(c.value, text)) return true;
        return false;
    }
    case kParameterRange: {
        if (allowed_.empty()) return v.IsNumeric();
        if (!v.IsNumeric() || v.IsEmpty()) return false;
        const double number = v.ToDouble();
        std::string_view rest = allowed_;
        while (true) {
            const auto sep = rest.find(',');
            if (InRange(TrimBlanks(rest.substr(0, sep)), number)) return true;
            if (sep == std::string_view::npos) return false;
            rest = rest.substr(sep + 1);
        }
    }
    default: return true;
    }
}

}  // namespace tessel
