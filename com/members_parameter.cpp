// The settings object's default interface: the calls a driver makes on it.
#include <tessel/identifiers.h>
#include <tessel/parameter.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

Parameter& P(Object& o) { return Self<Parameter>(o); }

const Member kMembers[] = {
    {"Define", kMethod, 5, 0,
     [](Object& o, Args& a) {
         P(o).Define(a.String(0), a.Integer(1), a.Integer(2), a.String(3), a.String(4));
         return Done();
     }},
    {"Add", kMethod, 5, 0,
     [](Object& o, Args& a) {
         return Variant(std::shared_ptr<Object>(
             P(o).Add(a.String(0), a.Integer(1), a.Integer(2), a.String(3), a.String(4))));
     }},
    {"Item", kGet, 1, 0, [](Object& o, Args& a) { return Variant(std::shared_ptr<Object>(P(o).Item(a.Value(0)))); }},
    {"Value", kGet, 2, 0, [](Object& o, Args& a) { return P(o).Value(a.Long(0), a.Long(1)); }},
    {"Value", kLet, 3, 0,
     [](Object& o, Args& a) {
         P(o).Value(a.Long(0), a.Long(1), a.Value(2));
         return Done();
     }},
};

}  // namespace

const Table kParameterTable = {"Parameter", "", kClsidParameter, "Parameter", kIidParameter, IsA<Parameter>, kMembers};

}  // namespace tessel::com
