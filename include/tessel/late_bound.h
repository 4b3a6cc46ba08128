// Late-bound calls: reaching an object's members by name at run time, as a
// scripting host, a command line or another language does (examples/late_bound.cpp):
//
//   auto comm = tessel::CreateObject("Tessel.clsComm");
//   std::vector<tessel::Variant> args = {2.5};
//   tessel::CallByName(*comm, "IPort_TimeOut", tessel::CallType::Let, args);
//   std::vector<tessel::Variant> none;
//   float seconds = tessel::CallByName(*comm, "iport_timeout", tessel::CallType::Get, none).ToSingle();
//
// Each class has a default interface that lists the members reachable this
// way; ClassList() and InterfaceList() say which. Some members of a class are
// kept off its default interface (clsComm's IPort_SendE and
// IPortSetup_Settings, for instance): they are reached by naming the
// interface that has them, e.g. "SendE" through "IPort".
//
// Calls follow the run time's rules for late binding:
//   * member and interface names match without regard to case;
//   * arguments convert to the member's parameter types by the Variant rules
//     (<tessel/variant.h>): text that is no number raises 13 "Type mismatch",
//     a number out of range 6 "Overflow";
//   * a Boolean argument is True only when it holds -1 (a Boolean of raw value
//     1 from another language is False); other types convert as CBool does.
//     Booleans come back as -1 and 0;
//   * an unknown member raises 438 "Object doesn't support this property or
//     method"; a required argument left out or passed as Variant::Missing()
//     raises 449 "Argument not optional"; more arguments than the member
//     takes, or a call type it does not have (a Let of a read-only property),
//     raise 450 "Wrong number of arguments or invalid property assignment".
//     These carry the source "Tessel";
//   * a Let passes the new value as the last argument;
//   * an optional by-reference argument (IPort's SendE vntReturn) is written
//     back into args;
//   * errors the member raises reach the caller unchanged.
// Method and Get are interchangeable for members that return a value, as a
// caller that reads a property with a method call expects.
//
// Threads: call an object's members only on the thread that created it. The
// lists may be read from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tessel/export.h>
#include <tessel/object.h>
#include <tessel/variant.h>

namespace tessel {

// The values of the run time's call types (vbMethod, vbGet, vbLet).
enum class CallType : int16_t { Method = 1, Get = 2, Let = 4 };

struct TESSEL_API MemberInfo {
    std::string name;
    CallType type;
    // Arguments the member takes: `required` of them first, then up to
    // `optional` more. A Let counts its new value among the required ones.
    int16_t required;
    int16_t optional;
};

struct TESSEL_API InterfaceInfo {
    std::string name;  // "IPort", or "_clsComm" for clsComm's default interface
    std::string id;    // its identifier (<tessel/identifiers.h>)
    // A member with Get and Let appears twice, once per call type.
    std::vector<MemberInfo> members;
};

struct TESSEL_API ClassInfo {
    std::string name;    // "clsComm"
    std::string progId;  // "Tessel.clsComm"
    std::string id;      // the class identifier
    InterfaceInfo defaultInterface;
    // Names of the further interfaces its objects implement ("IPort", ...).
    std::vector<std::string> interfaces;
};

struct TESSEL_API EnumerationInfo {
    std::string name;  // "tmoStates"
    std::vector<std::pair<std::string, int32_t>> members;  // in declaration order
};

// Calls `member` of object's default interface, or of the interface named by
// interfaceName (its name or identifier; empty for the default). Raises what
// is said above, 13 "Type mismatch" when the object does not implement that
// interface, or what the member raises. Blocks as long as the member does.
TESSEL_API Variant CallByName(Object& object, std::string_view member, CallType type, std::vector<Variant>& args,
                              std::string_view interfaceName = {});

// Whether object implements the interface named by name or identifier (the
// default interface of its class included).
TESSEL_API bool Implements(const Object& object, std::string_view interfaceName) noexcept;

// Creates an object by class identifier (any case, braces allowed) or program
// identifier. Raises 429, as CreateObject does, when neither is known.
TESSEL_API std::shared_ptr<Object> CreateObjectById(std::string_view identifier);

// The creatable classes, in a fixed order.
TESSEL_API std::vector<ClassInfo> ClassList();
// Every interface a late-bound call can name: the default interfaces of the
// classes and of the settings object ("Parameter"), then the port interfaces.
TESSEL_API std::vector<InterfaceInfo> InterfaceList();
// The default interface of object's class; raises 438 for an object that has none.
TESSEL_API InterfaceInfo DefaultInterfaceOf(const Object& object);
// The public enumerations: tmoStates, tibErrorConstants, ErrorConstants, TH03Sensors.
TESSEL_API std::vector<EnumerationInfo> Enumerations();

}  // namespace tessel
