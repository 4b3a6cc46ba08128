// The trace as a host installs it, kept for tests to read.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <tessel/trace.h>

namespace tessel::test {

struct Seen {
    TraceDirection direction;
    std::string port;
    std::string bytes;
    std::chrono::steady_clock::time_point time;
};

// Collects records; turns tracing off when it goes.
class Recorder {
public:
    Recorder() {
        SetTrace([this](const TraceRecord& r) {
            std::lock_guard lock(mutex_);
            seen_.push_back({r.direction, std::string(r.port), std::string(r.bytes), r.time});
        });
    }
    ~Recorder() { SetTrace(nullptr); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<Seen> Records() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    std::string Joined(TraceDirection d) {
        std::string all;
        for (const auto& s : Records())
            if (s.direction == d) all += s.bytes;
        return all;
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

}  // namespace tessel::test
