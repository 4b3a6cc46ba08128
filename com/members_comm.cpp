// clsComm's default interface.
#include <tessel/comm.h>
#include <tessel/identifiers.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

clsComm& C(Object& o) { return Self<clsComm>(o); }

const Member kMembers[] = {
    {"GetMsCommErrorDescription", kMethod, 1, 0,
     [](Object& o, Args& a) { return Variant(C(o).GetMsCommErrorDescription(a.Integer(0))); }},
    {"SendDirect", kMethod, 1, 0,
     [](Object& o, Args& a) {
         C(o).SendDirect(a.String(0));
         return Done();
     }},
    {"ReceiveDirect", kMethod, 0, 0, [](Object& o, Args&) { return Variant(C(o).ReceiveDirect()); }},
    {"ReceiveDirectV", kMethod, 0, 0, [](Object& o, Args&) { return C(o).ReceiveDirectV(); }},
    {"IPort_TimeOut", kGet, 0, 0, [](Object& o, Args&) { return Variant(C(o).IPort_TimeOut()); }},
    {"IPort_TimeOut", kLet, 1, 0,
     [](Object& o, Args& a) {
         C(o).IPort_TimeOut(a.Single(0));
         return Done();
     }},
    {"IPort_Status", kGet, 0, 0,
     [](Object& o, Args&) { return Variant(static_cast<int32_t>(C(o).IPort_Status())); }},
    {"IPort_Send", kMethod, 1, 0,
     [](Object& o, Args& a) {
         C(o).IPort_Send(a.String(0));
         return Done();
     }},
    {"IPort_Receive", kMethod, 0, 1, [](Object& o, Args& a) { return Variant(C(o).IPort_Receive(a.Value(0))); }},
    {"IPort_Error", kGet, 0, 0, [](Object& o, Args&) { return Variant(C(o).IPort_Error()); }},
    {"IPort_Count", kGet, 0, 0, [](Object& o, Args&) { return Variant(C(o).IPort_Count()); }},
    {"IPortSetup_OnLine", kGet, 0, 0, [](Object& o, Args&) { return Variant(C(o).IPortSetup_OnLine()); }},
    {"IPortSetup_OnLine", kLet, 1, 0,
     [](Object& o, Args& a) {
         C(o).IPortSetup_OnLine(a.Boolean(0));
         return Done();
     }},
    {"IPortSetup_Name", kGet, 0, 0, [](Object& o, Args&) { return Variant(C(o).IPortSetup_Name()); }},
    {"IPortSetup_Name", kLet, 1, 0,
     [](Object& o, Args& a) {
         C(o).IPortSetup_Name(a.String(0));
         return Done();
     }},
};

const std::string_view kInterfaces[] = {"IPort", "IPortB", "IPortDirect", "IPortSetup"};

}  // namespace

const Table kClsCommTable = {"clsComm",   "Tessel.clsComm", kClsidComm, "_clsComm", kIidClsComm,
                             IsA<clsComm>, kMembers,         kInterfaces};

}  // namespace tessel::com
