// clsTimeout's default interface.
#include <tessel/identifiers.h>
#include <tessel/timeout.h>

#include "com/dispatch.h"

namespace tessel::com {
namespace {

clsTimeout& T(Object& o) { return Self<clsTimeout>(o); }

const Member kMembers[] = {
    {"Interval", kGet, 0, 0, [](Object& o, Args&) { return Variant(T(o).Interval()); }},
    {"Interval", kLet, 1, 0,
     [](Object& o, Args& a) {
         T(o).Interval(a.Single(0));
         return Done();
     }},
    {"Start", kMethod, 0, 1,
     [](Object& o, Args& a) {
         T(o).Start(a.Value(0).IsMissing() ? 0.0f : a.Single(0));
         return Done();
     }},
    {"State", kGet, 0, 0, [](Object& o, Args&) { return Variant(static_cast<int32_t>(T(o).State())); }},
    {"Clear", kMethod, 0, 0,
     [](Object& o, Args&) {
         T(o).Clear();
         return Done();
     }},
};

}  // namespace

const Table kClsTimeoutTable = {"clsTimeout", "Tessel.clsTimeout", kClsidTimeout, "_clsTimeout", kIidClsTimeout,
                                IsA<clsTimeout>, kMembers};

}  // namespace tessel::com
