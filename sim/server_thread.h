// The thread a simulated instrument's server runs its loop on.
//
// A server derives from it, registers its work on `io`, then calls StartThread;
// its own Stop calls StopThread, and once that returns the server thread is
// gone, so the server may close its descriptors without a lock.
#pragma once

#include <mutex>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

namespace tessel::sim {

class ServerThread {
protected:
    void StartThread() { thread_ = std::thread([this] { io.run(); }); }

    // Stops the loop and joins its thread; false when that was done already.
    // Any thread but the server's own.
    bool StopThread() {
        std::lock_guard lock(stopMu_);
        if (!thread_.joinable()) return false;
        io.stop();
        thread_.join();
        return true;
    }

    asio::io_context io{1};

private:
    asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io);
    std::mutex stopMu_;
    std::thread thread_;
};

}  // namespace tessel::sim
