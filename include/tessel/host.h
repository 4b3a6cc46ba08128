// Host services: how drivers raise errors to the host and ask it whether to
// keep waiting.
//
// Every driver reaches two service objects, one of each kind per thread:
//
//   * HostErrors::Raise throws the error to the caller of the current member.
//     The default throws tessel::ComError; a host may install its own (to log,
//     or to translate numbers), but Raise must not return: if it does, the
//     library throws the ComError itself.
//
//   * HostControl tells a waiting driver whether the host wants it to stop.
//     RunState is tested against the mask 9: bit 1 or bit 8 set ends every wait
//     loop at once. StopRequested asks the reading members and the checked send
//     to return quietly with an empty result. Delay waits a number of seconds
//     while the thread's events keep running.
//
// A thread that never installs its own services uses the process-wide
// StandardHostControl (DefaultHostControl()) and the standard HostErrors.
//
// Threads: HostErrors and HostControl objects are called only on the thread
// they are installed for. StandardHostControl's setters are the exception:
// they may be called from any thread and from a signal handler, and they wake
// every waiting loop at once (see WakeWaitingLoops in <tessel/events.h>).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <tessel/export.h>
#include <tessel/variant.h>

namespace tessel {

class TESSEL_API HostErrors {
public:
    virtual ~HostErrors() = default;
    // Raises the described error; never returns normally.
    virtual void Raise(int32_t Number, const Variant& Source, const Variant& Description,
                       const Variant& HelpFile = Variant::Missing(),
                       const Variant& HelpContext = Variant::Missing());
};

// The run-state bits that end a wait loop (bit 1 or bit 8).
inline constexpr int32_t kRunStateStopMask = 9;

class TESSEL_API HostControl {
public:
    virtual ~HostControl() = default;
    virtual int32_t RunState() = 0;
    virtual bool StopRequested() = 0;
    // Waits sngSeconds seconds, running the thread's events meanwhile; a
    // run state in kRunStateStopMask ends the wait early.
    virtual void Delay(float& sngSeconds);
};

// The host control a thread gets unless it installs its own. Its state is
// shared by all threads of the process, so one Ctrl+C handler stops them all.
class TESSEL_API StandardHostControl final : public HostControl {
public:
    int32_t RunState() override { return runState_.load(std::memory_order_acquire); }
    bool StopRequested() override { return stopRequested_.load(std::memory_order_acquire); }

    // Any thread, or a signal handler. Wakes every waiting loop.
    void SetRunState(int32_t state) noexcept;
    // Any thread, or a signal handler. Wakes every waiting loop.
    void SetStopRequested(bool requested) noexcept;
    // Asks every wait to end quietly: sets run-state bit 8 and the stop
    // request. Any thread, or a signal handler.
    void RequestStop() noexcept;
    // Clears the run state and the stop request. Any thread, or a signal handler.
    void Reset() noexcept;

private:
    std::atomic<int32_t> runState_{0};
    std::atomic<bool> stopRequested_{false};
};

// The process-wide StandardHostControl.
TESSEL_API StandardHostControl& DefaultHostControl();

// The calling thread's services; created on first use.
TESSEL_API HostErrors& CurrentHostErrors();
TESSEL_API HostControl& CurrentHostControl();

// Installs the calling thread's services; null restores the default.
// Install before the thread's drivers start waiting.
TESSEL_API void SetHostErrors(std::shared_ptr<HostErrors> errors);
TESSEL_API void SetHostControl(std::shared_ptr<HostControl> control);

// Raises through the calling thread's HostErrors; throws the ComError itself if
// a replacement Raise returns.
[[noreturn]] TESSEL_API void RaiseError(int32_t number, const std::string& source, const std::string& description,
                             const std::string& helpFile = {}, int32_t helpContext = 0,
                             const std::string& detail = {});

}  // namespace tessel
