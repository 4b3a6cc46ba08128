// clsGUI's default interface: the stored time-out and the name. Send,
// Receive and on-line are reached through IPort and IPortSetup.
#include <tessel/gui.h>
#include <tessel/identifiers.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

clsGUI& U(Object& o) { return Self<clsGUI>(o); }

const Member kMembers[] = {
    {"IPort_TimeOut", kGet, 0, 0, [](Object& o, Args&) { return Variant(U(o).IPort_TimeOut()); }},
    {"IPort_TimeOut", kLet, 1, 0,
     [](Object& o, Args& a) {
         U(o).IPort_TimeOut(a.Single(0));
         return Done();
     }},
    {"IPortSetup_Name", kGet, 0, 0, [](Object& o, Args&) { return Variant(U(o).IPortSetup_Name()); }},
    {"IPortSetup_Name", kLet, 1, 0,
     [](Object& o, Args& a) {
         U(o).IPortSetup_Name(a.String(0));
         return Done();
     }},
};

const std::string_view kInterfaces[] = {"IPort", "IPortSetup"};

}  // namespace

const Table kClsGUITable = {"clsGUI", "Tessel.clsGUI", kClsidGUI, "_clsGUI", kIidClsGUI, IsA<clsGUI>,
                            kMembers, kInterfaces};

}  // namespace tessel::com
