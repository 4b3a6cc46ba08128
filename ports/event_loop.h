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
#include <asio/post.hpp>

#include <chrono>
#include <cstddef>
#include <memory>

namespace tessel {

class EventLoop {
public:
    // The calling thread's loop, created on first use.
    static std::shared_ptr<EventLoop> Current();

    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    asio::io_context& Context() { return io_; }

    // Runs every ready handler without blocking.
    std::size_t Yield();
    // Runs ready handlers; when none is ready, sleeps until one is, the bound
    // passes, or a wake arrives. Returns the number of handlers run.
    std::size_t WaitFor(std::chrono::nanoseconds bound);

private:
    void ArmWake();

    asio::io_context io_{1};
    asio::posix::stream_descriptor wake_;
    int slot_ = -1;
};

}  // namespace tessel
