#include <tessel/timeout.h>

#include <time.h>

#include <algorithm>
#include <cmath>

#include <tessel/error.h>

namespace tessel {
namespace {

double SystemSecondsSinceMidnight() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // Every wait reads the clock several times a pass; the local time of day
    // changes its offset only between whole seconds, so one conversion per
    // second and thread serves them all.
    thread_local time_t convertedSecond = -1;
    thread_local double secondSinceMidnight = 0.0;
    if (ts.tv_sec != convertedSecond) {
        tm local{};
        localtime_r(&ts.tv_sec, &local);
        secondSinceMidnight = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
        convertedSecond = ts.tv_sec;
    }
    return secondSinceMidnight + ts.tv_nsec * 1e-9;
}

clsTimeout::Clock& ClockSlot() {
    static clsTimeout::Clock clock;
    return clock;
}

float Reading() { return static_cast<float>(clsTimeout::Now()); }

float CheckedSingle(float value) {
    if (std::isinf(value)) RaiseRuntimeError(kErrOverflow);
    return value;
}

}  // namespace

clsTimeout::clsTimeout() { Clear(); }

void clsTimeout::SetClock(Clock clock) { ClockSlot() = std::move(clock); }

double clsTimeout::Now() {
    const auto& clock = ClockSlot();
    return clock ? clock() : SystemSecondsSinceMidnight();
}

void clsTimeout::Start(float sngNewValue) {
    if (sngNewValue != 0.0f) Interval(sngNewValue);
    float start = Reading();
    float end = CheckedSingle(interval_ + start);
    // Shift one mark by a day so that a single test serves intervals with and
    // without midnight inside them (see State).
    if (end < kSecondsPerDay) start = CheckedSingle(start + kSecondsPerDay);
    else end = CheckedSingle(end - kSecondsPerDay);
    startMark_ = start;
    endMark_ = end;
    state_ = tmoRunning;
}

tmoStates clsTimeout::State() {
    if (state_ == tmoRunning) {
        // One reading for both tests: two could straddle midnight.
        const float now = Reading();
        const bool beforeEnd = now <= endMark_;
        const bool afterStart = now >= startMark_;
        if (!beforeEnd && !afterStart) state_ = tmoExpired;
    }
    return state_;
}

double clsTimeout::SecondsUntilExpiry() const {
    if (state_ != tmoRunning) return -1.0;
    const bool crossesMidnight = startMark_ < kSecondsPerDay;
    if (crossesMidnight && endMark_ >= startMark_) return -1.0;  // the two tests cover the whole day
    // The first clock reading that rounds to a single above the end mark.
    const double threshold =
        (static_cast<double>(endMark_) + static_cast<double>(std::nextafter(endMark_, INFINITY))) / 2.0;
    const double now = Now();
    if (crossesMidnight && static_cast<float>(now) >= startMark_)
        return (static_cast<double>(kSecondsPerDay) - now) + std::max(0.0, threshold);
    return std::max(0.0, threshold - now);
}

}  // namespace tessel
