// The benchmark suites. Each starts its own simulated instruments, runs our
// driver and a raw client of the same instrument alternately, and returns its
// table.
#pragma once

#include <cstddef>

#include "measure.h"

namespace tessel::bench {

struct Options {
    Plan queries{500, 5000, 50};     // *IDN? exchanges
    Plan blocks{50, 1000, 20};       // 32 KiB transfers
    bool waits = true;               // the 2-second time-out waits
    // Leave one side out, so that a profiler attached to the process sees
    // the other alone.
    bool runOurs = true;
    bool runRaw = true;
};

Table SerialSuite(const Options& options);
Table TcpSuite(const Options& options);

}  // namespace tessel::bench
