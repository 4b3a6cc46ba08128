// clsEthernet's default interface.
#include <tessel/ethernet.h>
#include <tessel/identifiers.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

clsEthernet& E(Object& o) { return Self<clsEthernet>(o); }

const Member kMembers[] = {
    {"StateString", kMethod, 0, 0, [](Object& o, Args&) { return Variant(E(o).StateString()); }},
    {"IPort_TimeOut", kGet, 0, 0, [](Object& o, Args&) { return Variant(E(o).IPort_TimeOut()); }},
    {"IPort_TimeOut", kLet, 1, 0,
     [](Object& o, Args& a) {
         E(o).IPort_TimeOut(a.Single(0));
         return Done();
     }},
    {"IPort_Send", kMethod, 1, 0,
     [](Object& o, Args& a) {
         E(o).IPort_Send(a.String(0));
         return Done();
     }},
    {"IPort_Receive", kMethod, 0, 1, [](Object& o, Args& a) { return Variant(E(o).IPort_Receive(a.Value(0))); }},
    {"IPort_Error", kGet, 0, 0, [](Object& o, Args&) { return Variant(E(o).IPort_Error()); }},
    {"IPort_Count", kGet, 0, 0, [](Object& o, Args&) { return Variant(E(o).IPort_Count()); }},
    {"IPortSetup_OnLine", kGet, 0, 0, [](Object& o, Args&) { return Variant(E(o).IPortSetup_OnLine()); }},
    {"IPortSetup_OnLine", kLet, 1, 0,
     [](Object& o, Args& a) {
         E(o).IPortSetup_OnLine(a.Boolean(0));
         return Done();
     }},
    {"IPortSetup_Name", kGet, 0, 0, [](Object& o, Args&) { return Variant(E(o).IPortSetup_Name()); }},
    {"IPortSetup_Name", kLet, 1, 0,
     [](Object& o, Args& a) {
         E(o).IPortSetup_Name(a.String(0));
         return Done();
     }},
};

const std::string_view kInterfaces[] = {"IPort", "IPortB", "IPortSetup"};

}  // namespace

const Table kClsEthernetTable = {"clsEthernet",    "Tessel.clsEthernet", kClsidEthernet, "_clsEthernet",
                                 kIidClsEthernet,  IsA<clsEthernet>,     kMembers,       kInterfaces};

}  // namespace tessel::com
