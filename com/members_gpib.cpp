// clsGPIB's default interface: its name only. Transfers, the time-out and
// on-line are reached through IPort, IPortB and IPortSetup.
#include <tessel/gpib.h>
#include <tessel/identifiers.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

clsGPIB& G(Object& o) { return Self<clsGPIB>(o); }

const Member kMembers[] = {
    {"IPortSetup_Name", kGet, 0, 0, [](Object& o, Args&) { return Variant(G(o).IPortSetup_Name()); }},
    {"IPortSetup_Name", kLet, 1, 0,
     [](Object& o, Args& a) {
         G(o).IPortSetup_Name(a.String(0));
         return Done();
     }},
};

const std::string_view kInterfaces[] = {"IPort", "IPortB", "IPortSetup"};

}  // namespace

const Table kClsGPIBTable = {"clsGPIB", "Tessel.clsGPIB", kClsidGPIB, "_clsGPIB", kIidClsGPIB, IsA<clsGPIB>,
                             kMembers,  kInterfaces};

}  // namespace tessel::com
