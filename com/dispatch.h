// The tables behind late-bound calls (<tessel/late_bound.h>).
//
// Each class's default interface, the settings object and each port
// interface is one Table of Members in its own file (members_<name>.cpp);
// type_library.cpp lists them. A Member says how it is called and how many
// arguments it takes; CallByName checks the name, the call type and the count
// before it calls, so a row only converts its arguments and calls:
//
//   {"IPort_Send", kMethod, 1, 0, [](Object& o, Args& a) {
//        Self<clsComm>(o).IPort_Send(a.String(0));
//        return Done();
//    }},
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <tessel/late_bound.h>
#include <tessel/object.h>
#include <tessel/variant.h>

namespace tessel::com {

inline constexpr CallType kMethod = CallType::Method;
inline constexpr CallType kGet = CallType::Get;
inline constexpr CallType kLet = CallType::Let;

// The caller's arguments, converted as each member's parameters need.
class Args {
public:
    explicit Args(std::vector<Variant>& values) : values_(values) {}

    std::size_t Count() const { return values_.size(); }
    int16_t Integer(std::size_t i) const { return At(i).ToInteger(); }
    int32_t Long(std::size_t i) const { return At(i).ToLong(); }
    float Single(std::size_t i) const { return At(i).ToSingle(); }
    double Double(std::size_t i) const { return At(i).ToDouble(); }
    std::string String(std::size_t i) const { return At(i).ToString(); }
    // Only -1 is True: another language's Boolean 1 is not.
    bool Boolean(std::size_t i) const { return At(i).RawBooleanValue() == -1; }
    // The argument as passed; Missing when it was left out.
    const Variant& Value(std::size_t i) const { return At(i); }
    // The caller's own Variant, for by-reference parameters; null when left
    // out or Missing.
    Variant* Reference(std::size_t i) const {
        return i < values_.size() && !values_[i].IsMissing() ? &values_[i] : nullptr;
    }

private:
    const Variant& At(std::size_t i) const {
        static const Variant missing = Variant::Missing();
        return i < values_.size() ? values_[i] : missing;
    }
    std::vector<Variant>& values_;
};

struct Member {
    std::string_view name;
    CallType type;
    uint8_t required;
    uint8_t optional;
    Variant (*call)(Object& self, Args& args);
};

struct Table {
    std::string_view name;          // "clsComm", "Parameter", "IPort"
    std::string_view progId;        // creatable classes only
    std::string_view classId;       // classes only
    std::string_view interfaceName; // "_clsComm"; the interface's own name for port interfaces
    std::string_view interfaceId;
    bool (*implementedBy)(const Object& object);
    std::span<const Member> members;
    // The port interfaces a class's objects implement besides, by name.
    std::span<const std::string_view> interfaces = {};
};

// The class or interface T of an object the table has accepted.
template <class T>
T& Self(Object& object) {
    return dynamic_cast<T&>(object);
}

template <class T>
bool IsA(const Object& object) {
    return dynamic_cast<const T*>(&object) != nullptr;
}

// The empty result of a member that returns nothing.
inline Variant Done() { return {}; }

// The tables, in the order ClassList() and InterfaceList() give them: the
// default interfaces of the creatable classes, then those of the objects
// hosts cannot create (the settings object), then the port interfaces.
std::span<const Table* const> ClassTables();
std::span<const Table* const> OtherDefaultTables();
std::span<const Table* const> PortInterfaceTables();

// The table of object's default interface (interfaceName empty), or of the
// interface named by name or identifier. Raises 438 for an object without a
// default interface, 13 when the object does not implement the one named.
const Table& InterfaceOf(const Object& object, std::string_view interfaceName);

extern const Table kClsCommTable;
extern const Table kClsEthernetTable;
extern const Table kClsGPIBTable;
extern const Table kClsGUITable;
extern const Table kClsTH03Table;
extern const Table kClsTimeoutTable;
extern const Table kParameterTable;
extern const Table kIPortTable;
extern const Table kIPortBTable;
extern const Table kIPortDirectTable;
extern const Table kIPortSetupTable;

}  // namespace tessel::com
