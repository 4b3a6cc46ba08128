// The yield of a driver's wait loop.
//
// A wait loop yields, tests its condition, then reads its timer and the host's
// run state, pass after pass. The first pass only runs the events that are
// ready, so a condition that already holds costs no sleep; every later pass
// sleeps in the loop until an event arrives (input, output drained, a socket
// event, a wake from the host), the timer's deadline, or `hint` seconds for
// progress that raises no event (a UART's own queue draining). Nothing spins.
#pragma once

#include <algorithm>
#include <chrono>
#include <limits>

#include <tessel/host.h>
#include <tessel/timeout.h>

#include "ports/event_loop.h"

namespace tessel {

class WaitYield {
public:
    // Longest sleep of one pass: a host control that changes its run state
    // without waking the loops is still noticed this soon.
    static constexpr double kMaxSleepSeconds = 0.1;
    static constexpr double kNoHint = std::numeric_limits<double>::infinity();

    WaitYield(EventLoop& loop, const clsTimeout& timer) : loop_(loop), timer_(timer) {}

    void operator()(double hint = kNoHint) {
        if (first_) {
            first_ = false;
            loop_.Yield();
            return;
        }
        double bound = std::min(hint, kMaxSleepSeconds);
        const double untilExpiry = timer_.SecondsUntilExpiry();
        if (untilExpiry >= 0.0) bound = std::min(bound, untilExpiry);
        loop_.WaitFor(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(bound)));
    }

private:
    EventLoop& loop_;
    const clsTimeout& timer_;
    bool first_ = true;
};

// True when the host's run state asks every wait to end.
inline bool RunStateStops(int32_t runState) { return (runState & kRunStateStopMask) != 0; }

}  // namespace tessel
