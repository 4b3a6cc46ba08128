// clsTimeout: a polling interval timer on the clock's seconds since midnight.
//
// Start it with an interval in seconds and read State: tmoRunning until the
// interval is over, then tmoExpired until the next Start or Clear. Expiry is
// noticed only when State is read; the timer raises no event.
//
// The marks are single-precision seconds since local midnight, as the drivers
// have always kept them, with these consequences:
//   * an interval that crosses midnight is handled by shifting the marks by a
//     day of 86400 seconds;
//   * an interval of 86400 seconds or more never expires;
//   * near the end of the day the marks have a resolution of about 8 ms;
//   * an interval whose end mark overflows a single makes Start raise 6
//     "Overflow" and leaves the timer as it was.
//
// Threads: use a timer on one thread. The clock may be replaced (for tests,
// or to run on another time base) with SetClock before any timer is started.
#pragma once

#include <cstdint>
#include <functional>

#include <tessel/export.h>
#include <tessel/object.h>

namespace tessel {

enum tmoStates : int32_t {
    tmoReady = 0,
    tmoRunning = 1,
    tmoExpired = 2,
};

inline constexpr float kSecondsPerDay = 86400.0f;

class TESSEL_API clsTimeout : public Object {
public:
    // Seconds since local midnight, 0 up to (not including) 86400.
    using Clock = std::function<double()>;

    clsTimeout();

    float Interval() const { return interval_; }
    void Interval(float sngNewValue) { interval_ = sngNewValue; }
    // Starts the interval; a value of 0 (or none) keeps the stored interval.
    void Start(float sngNewValue = 0.0f);
    // Brings the state up to date and returns it.
    tmoStates State();
    void Clear() { state_ = tmoReady; }

    // Seconds of real time until State would first report tmoExpired, judged
    // by the clock now: 0 when that moment has come, a negative number when
    // the timer is not running or can never expire. Waiting loops use it to
    // sleep exactly until the deadline instead of polling.
    double SecondsUntilExpiry() const;

    // Replaces the clock of every timer in the process (null restores the
    // system clock). Not thread-safe: call it before timers are in use.
    static void SetClock(Clock clock);
    // The clock's current reading.
    static double Now();

private:
    float interval_ = 0.0f;
    float startMark_ = 0.0f;
    float endMark_ = 0.0f;
    tmoStates state_ = tmoReady;
};

}  // namespace tessel
