// The yield of a driver's wait loop.
//
// A wait loop yields, tests its condition, then reads its timer and the host's
// run state, pass after pass. The first pass only runs the events that are
// ready, so a condition that already holds costs no sleep; every later pass
// sleeps in the loop until an event arrives (input, output drained, a socket
// event, a wake from the host), the timer's deadline, or `hint` seconds for
// progress that raises no event (a UART's own queue draining). Nothing spins.
//
// The first pass may share the loop's last look for events (see
// EventLoop::Yield) only while its end cannot be decided by the timer or the
// run state: when the run state already asks to stop, or the timer is about
// to expire, it looks afresh, so a wait never ends without having seen what
// had arrived.
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

    WaitYield(EventLoop& loop, const clsTimeout& timer, HostControl& host)
        : loop_(loop), timer_(timer), host_(host) {}

    void operator()(double hint = kNoHint) {
        const double untilExpiry = timer_.SecondsUntilExpiry();
        if (first_) {
            first_ = false;
            const bool mayEndNow = (host_.RunState() & kRunStateStopMask) != 0 ||
                                   (untilExpiry >= 0.0 && untilExpiry < kFreshLookMargin);
            if (mayEndNow) loop_.Look();
            else loop_.Yield();
            return;
        }
        double bound = std::min(hint, kMaxSleepSeconds);
        if (untilExpiry >= 0.0) bound = std::min(bound, untilExpiry);
        loop_.WaitFor(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(bound)));
    }

private:
    // A timer this close to its end may expire before the pass reads it.
    static constexpr double kFreshLookMargin = 0.001;

    EventLoop& loop_;
    const clsTimeout& timer_;
    HostControl& host_;
    bool first_ = true;
};

// True when the host's run state asks every wait to end.
inline bool RunStateStops(int32_t runState) { return (runState & kRunStateStopMask) != 0; }

}  // namespace tessel
