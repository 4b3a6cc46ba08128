// What late-bound callers can see: the classes, their default interfaces, the
// port interfaces and the public enumerations; and the call by name itself.
#include <algorithm>

#include <tessel/error.h>
#include <tessel/factory.h>
#include <tessel/gpib.h>
#include <tessel/host.h>
#include <tessel/late_bound.h>
#include <tessel/th03.h>
#include <tessel/timeout.h>

#include "com/dispatch.h"
#include "ports/text.h"

namespace tessel::com {

std::span<const Table* const> ClassTables() {
    static const Table* const kTables[] = {&kClsCommTable, &kClsEthernetTable, &kClsGPIBTable, &kClsGUITable,
                                            &kClsTH03Table, &kClsTimeoutTable};
    return kTables;
}

std::span<const Table* const> OtherDefaultTables() {
    static const Table* const kTables[] = {&kParameterTable};
    return kTables;
}

std::span<const Table* const> PortInterfaceTables() {
    static const Table* const kTables[] = {&kIPortTable, &kIPortBTable, &kIPortDirectTable, &kIPortSetupTable};
    return kTables;
}

namespace {

// An identifier as hosts may write it: "{e90daa7f-...}" is "E90DAA7F-...".
std::string_view WithoutBraces(std::string_view id) {
    if (id.size() >= 2 && id.front() == '{' && id.back() == '}') return id.substr(1, id.size() - 2);
    return id;
}

template <class Visit>
const Table* FirstTable(Visit&& matches) {
    for (auto list : {ClassTables(), OtherDefaultTables(), PortInterfaceTables()})
        for (const Table* table : list)
            if (matches(*table)) return table;
    return nullptr;
}

const Table* DefaultTableOf(const Object& object) {
    return FirstTable([&](const Table& t) { return !t.classId.empty() && t.implementedBy(object); });
}

const Table* InterfaceNamed(std::string_view name) {
    return FirstTable([&](const Table& t) {
        return SameText(t.interfaceName, name) || SameText(t.interfaceId, WithoutBraces(name));
    });
}

[[noreturn]] void RaiseCallError(int32_t number, std::string detail) {
    RaiseError(number, kRuntimeSource, RuntimeErrorText(number), {}, 0, detail);
}

// The row that serves this call, once name, call type and arguments suit it.
const Member& Checked(const Table& table, std::string_view name, CallType type, const std::vector<Variant>& args) {
    const std::string where = std::string(table.interfaceName) + "." + std::string(name);
    bool named = false;
    const Member* found = nullptr;
    for (const Member& m : table.members) {
        if (!SameText(m.name, name)) continue;
        named = true;
        // Reading a property and calling a function that returns a value are one thing to a caller.
        if ((type == CallType::Let) == (m.type == CallType::Let)) found = &m;
    }
    if (!named) RaiseCallError(kErrMemberNotFound, where + " does not exist");
    if (!found)
        RaiseCallError(kErrWrongArgumentCount,
                       where + (type == CallType::Let ? " cannot be assigned" : " can only be assigned"));
    const std::size_t most = found->required + found->optional;
    if (args.size() > most) RaiseCallError(kErrWrongArgumentCount, where + " takes " + std::to_string(most) + " at most");
    for (std::size_t i = 0; i < found->required; ++i)
        if (i >= args.size() || args[i].IsMissing())
            RaiseCallError(kErrArgumentNotOptional, where + " needs argument " + std::to_string(i + 1));
    return *found;
}

InterfaceInfo Describe(const Table& table) {
    InterfaceInfo info{std::string(table.interfaceName), std::string(table.interfaceId), {}};
    for (const Member& m : table.members) info.members.push_back({std::string(m.name), m.type, m.required, m.optional});
    return info;
}

}  // namespace

const Table& InterfaceOf(const Object& object, std::string_view interfaceName) {
    if (interfaceName.empty()) {
        const Table* table = DefaultTableOf(object);
        if (!table) RaiseCallError(kErrMemberNotFound, "this object has no members that can be called by name");
        return *table;
    }
    const Table* table = InterfaceNamed(interfaceName);
    if (!table || !table->implementedBy(object))
        RaiseCallError(kErrTypeMismatch, "the object does not implement " + std::string(interfaceName));
    return *table;
}

}  // namespace tessel::com

namespace tessel {

using com::Table;

Variant CallByName(Object& object, std::string_view member, CallType type, std::vector<Variant>& args,
                   std::string_view interfaceName) {
    const Table& table = com::InterfaceOf(object, interfaceName);
    const com::Member& called = com::Checked(table, member, type, args);
    com::Args converted(args);
    return called.call(object, converted);
}

bool Implements(const Object& object, std::string_view interfaceName) noexcept {
    const Table* table = com::InterfaceNamed(interfaceName);
    return table && table->implementedBy(object);
}

std::shared_ptr<Object> CreateObjectById(std::string_view identifier) {
    for (const Table* table : com::ClassTables())
        if (SameText(table->classId, com::WithoutBraces(identifier))) return CreateObject(table->progId);
    return CreateObject(identifier);
}

std::vector<ClassInfo> ClassList() {
    std::vector<ClassInfo> classes;
    for (const Table* table : com::ClassTables()) {
        ClassInfo info{std::string(table->name), std::string(table->progId), std::string(table->classId),
                       com::Describe(*table), {}};
        for (std::string_view name : table->interfaces) info.interfaces.emplace_back(name);
        classes.push_back(std::move(info));
    }
    return classes;
}

std::vector<InterfaceInfo> InterfaceList() {
    std::vector<InterfaceInfo> interfaces;
    for (auto list : {com::ClassTables(), com::OtherDefaultTables(), com::PortInterfaceTables()})
        for (const Table* table : list) interfaces.push_back(com::Describe(*table));
    return interfaces;
}

InterfaceInfo DefaultInterfaceOf(const Object& object) { return com::Describe(com::InterfaceOf(object, {})); }

std::vector<EnumerationInfo> Enumerations() {
    // The GPIB codes 9, 13 and 17 to 19 have no member.
    return {
        {"tmoStates", {{"tmoReady", tmoReady}, {"tmoRunning", tmoRunning}, {"tmoExpired", tmoExpired}}},
        {"tibErrorConstants",
         {{"tibEDVR", tibEDVR}, {"tibECIC", tibECIC}, {"tibENOL", tibENOL}, {"tibEADR", tibEADR},
          {"tibEARG", tibEARG}, {"tibESAC", tibESAC}, {"tibEABO", tibEABO}, {"tibENEB", tibENEB},
          {"tibEDMA", tibEDMA}, {"tibEOIP", tibEOIP}, {"tibECAP", tibECAP}, {"tibEFSO", tibEFSO},
          {"tibEBUS", tibEBUS}, {"tibESTB", tibESTB}, {"tibESRQ", tibESRQ}, {"tibETAB", tibETAB},
          {"tibELCK", tibELCK}}},
        {"ErrorConstants",
         {{"tthsInvalidPropertyValue", tthsInvalidPropertyValue},
          {"tthsQueryFailed", tthsQueryFailed},
          {"tthsCommandFailed", tthsCommandFailed}}},
        {"TH03Sensors",
         {{"thsOff", thsOff}, {"thsEL015", thsEL015}, {"ths100k", ths100k}, {"ths1M2", ths1M2},
          {"thsEL031", thsEL031}, {"thsEL29", thsEL29}, {"thsUnicam", thsUnicam}, {"thsEL039", thsEL039}}},
    };
}

}  // namespace tessel
