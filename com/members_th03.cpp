// clsTH03's default interface: the channel's readings, its filter factor,
// and the name and on-line state; its settings are IPortSetup's.
#include <tessel/identifiers.h>
#include <tessel/th03.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

clsTH03& L(Object& o) { return Self<clsTH03>(o); }

const Member kMembers[] = {
    {"value", kGet, 0, 0, [](Object& o, Args&) { return Variant(L(o).value()); }},
    {"Cycle", kGet, 0, 0, [](Object& o, Args&) { return Variant(L(o).Cycle()); }},
    {"Version", kGet, 0, 0, [](Object& o, Args&) { return Variant(L(o).Version()); }},
    {"Sensor", kGet, 0, 0, [](Object& o, Args&) { return Variant(static_cast<int32_t>(L(o).Sensor())); }},
    {"FilterFactor", kGet, 0, 0, [](Object& o, Args&) { return Variant(L(o).FilterFactor()); }},
    {"FilterFactor", kLet, 1, 0,
     [](Object& o, Args& a) {
         L(o).FilterFactor(a.Integer(0));
         return Done();
     }},
    {"IPortSetup_Name", kGet, 0, 0, [](Object& o, Args&) { return Variant(L(o).IPortSetup_Name()); }},
    {"IPortSetup_Name", kLet, 1, 0,
     [](Object& o, Args& a) {
         L(o).IPortSetup_Name(a.String(0));
         return Done();
     }},
    {"IPortSetup_OnLine", kGet, 0, 0, [](Object& o, Args&) { return Variant(L(o).IPortSetup_OnLine()); }},
    {"IPortSetup_OnLine", kLet, 1, 0,
     [](Object& o, Args& a) {
         L(o).IPortSetup_OnLine(a.Boolean(0));
         return Done();
     }},
};

const std::string_view kInterfaces[] = {"IPortSetup"};

}  // namespace

const Table kClsTH03Table = {"clsTH03", "Tessel.clsTH03", kClsidTH03, "_clsTH03", kIidClsTH03, IsA<clsTH03>,
                             kMembers,  kInterfaces};

}  // namespace tessel::com
