// The per-thread message loop behind <tessel/events.h>, for the drivers.
//
// Each thread's loop is an asio::io_context. Drivers register their
// descriptors and timers on it and keep a shared_ptr to the loop, so the loop
// outlives every object that uses it, whatever order a program's objects are
// destroyed in at exit.
//
// Threads: a loop is used only by its own thread; Wake() is the exception (any
// thread, async-signal-safe, through WakeWaitingLoops).
#pragma once

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tessel {

class EventLoop {
public:
    // The calling thread's loop, created on first use. A reference, so that
    // a yield of DoEvents costs no count of owners; copy it to keep it.
    static const std::shared_ptr<EventLoop>& Current();

    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    asio::io_context& Context() { return io_; }

    // Runs every ready handler without blocking. A yield that follows the
    // loop's last look for events within kCoalesceWindow runs what was posted
    // but skips the system call: a chain of yields (the end of one member,
    // the start of the next) costs one look. Events that became ready within
    // that window run at the next look, at the latest in the next wait. Code
    // that decides something from what the yield delivered (a wait about to
    // end on its timer or the run state) uses Look.
    std::size_t Yield();
    // Runs every ready handler without blocking; always looks for events.
    std::size_t Look();
    // Runs a ready handler; when none is ready, sleeps until one is, the bound
    // passes, or a wake arrives. Always looks for events. Returns the number
    // of handlers run.
    std::size_t WaitFor(std::chrono::nanoseconds bound);
    // Queues fn for the loop's next yield or wait, which runs it before it
    // looks for events (a shared look included): an event a control raises
    // without any I/O (SendComplete for bytes the system took at once) costs
    // no system call to deliver.
    void Post(std::function<void()> fn);

    // Calls `hook` just before every look for events (a Look, a WaitFor, a
    // Yield that looks), so that a control can arm its reads there rather
    // than after every arrival: a read armed at once after data came finds
    // nothing and costs a system call on the way to the caller. At most one
    // hook per owner; the owner removes it before it goes. A hook must not
    // add or remove hooks, nor run handlers.
    void AddLookHook(const void* owner, std::function<void()> hook);
    void RemoveLookHook(const void* owner) noexcept;

    static constexpr std::chrono::microseconds kCoalesceWindow{100};

private:
    void ArmWake();
    std::size_t RunPosted();
    void Looked() { lastLook_ = std::chrono::steady_clock::now(); }
    void BeforeLook();

    // One thread runs the loop, so the reactor needs no locks of its own; the
    // scheduler keeps its lock for completions that Asio's name resolver
    // posts from its private thread.
    asio::io_context io_{ASIO_CONCURRENCY_HINT_UNSAFE_IO};
    asio::posix::stream_descriptor wake_;
    int slot_ = -1;
    std::chrono::steady_clock::time_point lastLook_{};
    std::vector<std::function<void()>> posted_;
    std::vector<std::function<void()>> spare_;  // storage for posted_, kept empty
    std::vector<std::pair<const void*, std::function<void()>>> lookHooks_;
};

}  // namespace tessel
