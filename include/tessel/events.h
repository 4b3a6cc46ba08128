// The thread's message loop.
//
// Each thread that uses Tessel has one message loop, created on first use.
// Transport events (serial input arriving, output drained, a socket connected,
// data arrived, an error) are delivered on the thread that created the driver,
// and only while that thread runs its loop: inside a driver's wait, or when the
// host calls DoEvents or WaitForEvents itself.
//
// Driver waits never spin: between checks they sleep in the loop until an
// event, their deadline, or a wake from WakeWaitingLoops.
//
// Threads: DoEvents, WaitForEvents and Post act on the calling thread's loop.
// WakeWaitingLoops may be called from any thread and from a signal handler.
#pragma once

#include <chrono>
#include <functional>

#include <tessel/export.h>

namespace tessel {

// Runs every event that is ready, without blocking. Returns the number run.
// A call within 20 microseconds of the loop's last look for events runs what
// was posted but does not look again: events that became ready in those
// microseconds run at the next call or wait.
TESSEL_API std::size_t DoEvents();

// Runs a ready event; when there is none, sleeps until one arrives, the bound
// passes, or WakeWaitingLoops is called. Returns the number of events run
// (a wake counts as one).
TESSEL_API std::size_t WaitForEvents(std::chrono::nanoseconds bound);

// Queues fn to run on the calling thread's loop at its next DoEvents/wait.
TESSEL_API void Post(std::function<void()> fn);

// Wakes every thread that is sleeping in its loop, so that it reads its host
// control again. Async-signal-safe. StandardHostControl calls it; a host's own
// HostControl should call it whenever its run state or stop request changes.
TESSEL_API void WakeWaitingLoops() noexcept;

}  // namespace tessel
