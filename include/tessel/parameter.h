// Parameter: a driver's settings.
//
// One class serves as the settings root of a driver and as each setting in
// it. A driver defines its root, adds its settings in a fixed order and writes
// each default right after adding it; a host reads the root through
// IPortSetup::Settings, changes values, and the driver reads them afresh at
// the next OnLine(true) (examples/settings.cpp):
//
//   auto settings = port->Settings();
//   settings->Item("Baud Rate")->Value(-1, -1, "19200");
//   int16_t handshake = settings->Item("Handshaking")->Value(-1, -1).ToInteger();
//
// Kinds of setting:
//   kParameterList  (2)  a choice from "label=value" pairs, e.g.
//                        "EVEN=E,MARK=M,NONE=N,ODD=O,SPACE=S". Reading gives
//                        the value part of the current choice, even when a
//                        label was written: "NONE" reads back "N".
//   kParameterRange (3)  a number in ranges "min<step>max", alternatives
//                        separated by ", ", a lone number allowed by itself:
//                        "0, 96<1>126".
//   kParameterText  (4)  free text.
//
// Values are stored exactly as written and are not checked here: a value the
// driver cannot use surfaces as the driver's own conversion error when it goes
// on-line, naming the member that failed. Allows() tells a host beforehand
// whether a value is one of the allowed ones.
//
// Value takes two leading arguments that select an element of an array
// setting; every setting here is a single value, selected by -1, -1; anything
// else raises 9 "Subscript out of range".
//
// Errors (source "Tessel.Parameter"): Item with an unknown name raises 5 with
// the description No setting named "<name>" in "<root>" (Detail lists the
// settings there are); adding a name twice raises 5 as well.
//
// Threads: a settings tree belongs to its driver's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <tessel/export.h>
#include <tessel/object.h>
#include <tessel/variant.h>

namespace tessel {

enum ParameterKind : int16_t {
    kParameterList = 2,
    kParameterRange = 3,
    kParameterText = 4,
};

// One "label=value" pair of a list setting.
struct TESSEL_API ParameterChoice {
    std::string label;
    std::string value;
};

class TESSEL_API Parameter : public Object {
public:
    static std::shared_ptr<Parameter> Create();

    // Makes this object a settings root titled strCaption.
    void Define(std::string_view strCaption, int16_t intFlags, int16_t intKind,
                std::string_view strAllowed, std::string_view strUnit);
    // Adds a child setting and returns it.
    std::shared_ptr<Parameter> Add(std::string_view strName, int16_t intFlags, int16_t intKind,
                                   std::string_view strAllowed, std::string_view strUnit);
    // The child named vntName (compared without regard to case).
    std::shared_ptr<Parameter> Item(const Variant& vntName) const;

    // The current value; a list setting gives the value part of its choice.
    Variant Value(int32_t lngIndex1, int32_t lngIndex2) const;
    // Stores vntNewValue exactly as given.
    void Value(int32_t lngIndex1, int32_t lngIndex2, const Variant& vntNewValue);

    // For hosts that list or edit settings.
    const std::string& Name() const { return name_; }
    int16_t Kind() const { return kind_; }
    int16_t Flags() const { return flags_; }
    const std::string& Allowed() const { return allowed_; }
    const std::string& Unit() const { return unit_; }
    // The value exactly as written (a label stays a label).
    const Variant& StoredValue() const { return value_; }
    // Children in the order they were added.
    const std::vector<std::shared_ptr<Parameter>>& Children() const { return children_; }
    // The pairs of a list setting; empty for other kinds.
    std::vector<ParameterChoice> Choices() const;
    // Whether v is one of the allowed values (any value for free text).
    bool Allows(const Variant& v) const;

private:
    std::string name_;
    int16_t flags_ = 0;
    int16_t kind_ = kParameterText;
    std::string allowed_;
    std::string unit_;
    Variant value_;
    std::vector<std::shared_ptr<Parameter>> children_;
};

}  // namespace tessel
