#include <tessel/host.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include <tessel/error.h>
#include <tessel/events.h>

namespace tessel {
namespace {

// Longest single sleep of Delay, so that a host control that changes its run
// state without waking the loops is still noticed promptly.
constexpr auto kMaxSleep = std::chrono::milliseconds(100);

// Detail of the error being raised, handed from RaiseError to the standard
// Raise, which has only the five classic arguments.
thread_local std::string t_pendingDetail;

thread_local std::shared_ptr<HostErrors> t_errors;
thread_local std::shared_ptr<HostControl> t_control;

std::string TextOf(const Variant& v) { return v.IsMissing() ? std::string() : v.ToString(); }

}  // namespace

void HostErrors::Raise(int32_t Number, const Variant& Source, const Variant& Description,
                       const Variant& HelpFile, const Variant& HelpContext) {
    std::string detail = std::exchange(t_pendingDetail, {});
    throw ComError(Number, TextOf(Source), TextOf(Description), TextOf(HelpFile),
                   HelpContext.IsMissing() ? 0 : HelpContext.ToLong(), std::move(detail));
}

void HostControl::Delay(float& sngSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(std::max(0.0f, sngSeconds)));
    DoEvents();
    while ((RunState() & kRunStateStopMask) == 0) {
        const auto now = Clock::now();
        if (now >= deadline) break;
        WaitForEvents(std::min<Clock::duration>(deadline - now, kMaxSleep));
    }
}

void StandardHostControl::SetRunState(int32_t state) noexcept {
    runState_.store(state, std::memory_order_release);
    WakeWaitingLoops();
}

void StandardHostControl::SetStopRequested(bool requested) noexcept {
    stopRequested_.store(requested, std::memory_order_release);
    WakeWaitingLoops();
}

void StandardHostControl::RequestStop() noexcept {
    stopRequested_.store(true, std::memory_order_release);
    runState_.fetch_or(8, std::memory_order_acq_rel);
    WakeWaitingLoops();
}

void StandardHostControl::Reset() noexcept {
    stopRequested_.store(false, std::memory_order_release);
    runState_.store(0, std::memory_order_release);
    WakeWaitingLoops();
}

StandardHostControl& DefaultHostControl() {
    static StandardHostControl control;
    return control;
}

HostErrors& CurrentHostErrors() {
    if (!t_errors) t_errors = std::make_shared<HostErrors>();
    return *t_errors;
}

HostControl& CurrentHostControl() {
    if (!t_control) t_control = std::shared_ptr<HostControl>(&DefaultHostControl(), [](HostControl*) {});
    return *t_control;
}

void SetHostErrors(std::shared_ptr<HostErrors> errors) { t_errors = std::move(errors); }
void SetHostControl(std::shared_ptr<HostControl> control) { t_control = std::move(control); }

void RaiseError(int32_t number, const std::string& source, const std::string& description,
                const std::string& helpFile, int32_t helpContext, const std::string& detail) {
    t_pendingDetail = detail;
    CurrentHostErrors().Raise(number, Variant(source), Variant(description), Variant(helpFile),
                              Variant(helpContext));
    // A host's Raise must not return; the member ends here all the same.
    throw ComError(number, source, description, helpFile, helpContext, std::exchange(t_pendingDetail, {}));
}

}  // namespace tessel
