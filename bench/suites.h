// The benchmark suites. Each starts its own simulated instruments, runs our
// driver and a raw client of the same instrument alternately, and returns its
// table.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include <tessel/port.h>

#include "measure.h"

namespace tessel::bench {

struct Options {
    Plan queries{500, 5000, 50};     // *IDN? exchanges
    Plan blocks{50, 1000, 20};       // 32 KiB transfers
    Plan megabytes{8, 400, 8};       // 1 MiB transfers from the block server
    bool waits = true;               // the 2-second time-out waits
    // Leave one side out, so that a profiler attached to the process sees
    // the other alone.
    bool runOurs = true;
    bool runRaw = true;
};

Table SerialSuite(const Options& options);
Table TcpSuite(const Options& options);
Table GpibSuite(const Options& options);
Table TraceSuite(const Options& options);

// What the suites share.

// The receive time-out both sides wait out in the waiting comparison.
inline constexpr float kWaitSeconds = 2.0f;

double Micro(double seconds);
// "warm-up 500 + measured 5000 queries per side, alternating in blocks of 50"
std::string PlanNote(const std::string& what, const Plan& plan);
// Latency (median as a goal, p99) and CPU per exchange (block median as a
// goal, mean) of a query comparison.
void AddQueryRows(Table& t, const Pair& q, double latencyBound, double cpuBound);
// A 2-second receive time-out on `port` beside `rawWait` on the raw side, as
// CPU rows; the CPU row is a goal when `bound` (percent of a core) is given.
void AddWaitRows(Table& t, const Options& options, IPort& port, const Side& ours, const Side& raw,
                 const std::function<void()>& rawWait, const std::string& driver, std::optional<double> bound);

}  // namespace tessel::bench
