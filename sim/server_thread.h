// The thread a simulated instrument's server runs its loop on.
//
// A server derives from it, registers its work on `io`, then calls StartThread;
// its own Stop calls StopThread, and once that returns the server thread is
// gone, so the server may close its descriptors without a lock.
//
// Nothing a client does may end the process that serves it: a handler that
// throws is abandoned and the loop runs on. Servers catch what they expect
// around their instruments themselves, so that their reads and writes go on.
#pragma once

#include <cstddef>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <tessel/sim.h>

namespace tessel::sim {

class ServerThread {
protected:
    void StartThread() {
        thread_ = std::thread([this] {
            for (;;) {
                try {
                    io.run();
                    return;
                } catch (...) {
                }
            }
        });
    }

    // Stops the loop and joins its thread; false when that was done already.
    // Any thread but the server's own.
    bool StopThread() {
        std::lock_guard lock(stopMu_);
        if (!thread_.joinable()) return false;
        io.stop();
        thread_.join();
        return true;
    }

    // Hands input (or, when empty, just the time) to an instrument. What
    // still throws (memory, in the end) drops the input as a device clear
    // does and is reported the way an instrument would.
    static void Feed(Instrument& instrument, std::string_view input) {
        try {
            if (input.empty())
                instrument.Update(Clock::now());
            else
                instrument.Receive(input, false, Clock::now());
        } catch (const std::exception&) {
            instrument.DeviceClear();
            instrument.InjectError(-225);
        }
    }

    asio::io_context io{1};

    // Replies a server takes from an instrument at a time, so that a client
    // that does not read leaves them with the instrument, which bounds them.
    static constexpr std::size_t kWriteChunk = 65536;

private:
    asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io);
    std::mutex stopMu_;
    std::thread thread_;
};

}  // namespace tessel::sim
