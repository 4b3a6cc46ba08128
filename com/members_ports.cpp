// The port interfaces, reached by naming them in a late-bound call: the way
// to the members a class keeps off its default interface (IPort's SendE,
// IPortSetup's Settings).
#include <tessel/identifiers.h>
#include <tessel/parameter.h>
#include <tessel/port.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

IPort& P(Object& o) { return Self<IPort>(o); }
IPortB& B(Object& o) { return Self<IPortB>(o); }
IPortDirect& D(Object& o) { return Self<IPortDirect>(o); }
IPortSetup& S(Object& o) { return Self<IPortSetup>(o); }

const Member kPortMembers[] = {
    {"TimeOut", kGet, 0, 0, [](Object& o, Args&) { return Variant(P(o).TimeOut()); }},
    {"TimeOut", kLet, 1, 0,
     [](Object& o, Args& a) {
         P(o).TimeOut(a.Single(0));
         return Done();
     }},
    {"Status", kGet, 0, 0, [](Object& o, Args&) { return Variant(static_cast<int32_t>(P(o).Status())); }},
    {"SendE", kMethod, 1, 1,
     [](Object& o, Args& a) {
         P(o).SendE(a.String(0), a.Reference(1));
         return Done();
     }},
    {"Send", kMethod, 1, 0,
     [](Object& o, Args& a) {
         P(o).Send(a.String(0));
         return Done();
     }},
    {"Receive", kMethod, 0, 1, [](Object& o, Args& a) { return Variant(P(o).Receive(a.Value(0))); }},
    {"Error", kGet, 0, 0, [](Object& o, Args&) { return Variant(P(o).Error()); }},
    {"Count", kGet, 0, 0, [](Object& o, Args&) { return Variant(P(o).Count()); }},
};

const Member kPortBMembers[] = {
    {"ReceiveB", kMethod, 1, 1, [](Object& o, Args& a) { return B(o).ReceiveB(a.Integer(0), a.Value(1)); }},
    {"SendB", kMethod, 2, 1,
     [](Object& o, Args& a) {
         B(o).SendB(a.Boolean(0), a.Value(1), a.Value(2).IsMissing() ? std::string() : a.String(2));
         return Done();
     }},
};

const Member kPortDirectMembers[] = {
    {"Receive", kMethod, 0, 0, [](Object& o, Args&) { return Variant(D(o).Receive()); }},
    {"ReceiveV", kMethod, 0, 0, [](Object& o, Args&) { return D(o).ReceiveV(); }},
    {"Send", kMethod, 1, 0,
     [](Object& o, Args& a) {
         D(o).Send(a.String(0));
         return Done();
     }},
};

const Member kPortSetupMembers[] = {
    {"OnLine", kGet, 0, 0, [](Object& o, Args&) { return Variant(S(o).OnLine()); }},
    {"OnLine", kLet, 1, 0,
     [](Object& o, Args& a) {
         S(o).OnLine(a.Boolean(0));
         return Done();
     }},
    {"Settings", kGet, 0, 0, [](Object& o, Args&) { return Variant(std::shared_ptr<Object>(S(o).Settings())); }},
    {"Name", kGet, 0, 0, [](Object& o, Args&) { return Variant(S(o).Name()); }},
    {"Name", kLet, 1, 0,
     [](Object& o, Args& a) {
         S(o).Name(a.String(0));
         return Done();
     }},
};

}  // namespace

const Table kIPortTable = {"IPort", "", "", "IPort", kIidIPort, IsA<IPort>, kPortMembers};
const Table kIPortBTable = {"IPortB", "", "", "IPortB", kIidIPortB, IsA<IPortB>, kPortBMembers};
const Table kIPortDirectTable = {"IPortDirect", "", "", "IPortDirect", kIidIPortDirect, IsA<IPortDirect>,
                                 kPortDirectMembers};
const Table kIPortSetupTable = {"IPortSetup", "", "", "IPortSetup", kIidIPortSetup, IsA<IPortSetup>,
                                kPortSetupMembers};

}  // namespace tessel::com
