// The call every transport makes where bytes leave it and where they arrive:
//
//   TraceTransfer(TraceDirection::Sent, [&] { return path_; }, data, n);
//
// The port's name is built only while a sink is installed, so with tracing
// off the call is one relaxed load and a branch.
#pragma once

#include <atomic>
#include <cstddef>
#include <string_view>

#include <tessel/export.h>
#include <tessel/trace.h>

namespace tessel {

TESSEL_INTERNAL extern std::atomic<bool> g_traceOn;

TESSEL_INTERNAL void DeliverTrace(TraceDirection direction, std::string_view port, std::string_view bytes);

template <class PortName>
inline void TraceTransfer(TraceDirection direction, PortName&& portName, const void* data, std::size_t n) {
    if (g_traceOn.load(std::memory_order_relaxed) && n != 0) [[unlikely]]
        DeliverTrace(direction, portName(), std::string_view(static_cast<const char*>(data), n));
}

}  // namespace tessel
