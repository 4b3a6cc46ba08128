// Simulated TH-03 loggers behind the logger library's six functions.
#include <tessel/th03_sim.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "th03/logger_api.h"

namespace {

constexpr int32_t kVersion = 3;
constexpr int32_t kFailedCellValue = 7777;
constexpr int kChannels = 3;

struct Channel {
    int16_t sensor = 0;
    std::optional<int32_t> next_reading;
};

struct Logger {
    bool present = true;
    int32_t opens = 0;
    int32_t cycle = 0;
    bool fail_next_read = false;
    Channel channels[kChannels];
};

struct Simulation {
    std::mutex lock;
    std::map<int16_t, Logger> loggers;
    std::string log;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    Simulation() { Reset(); }
    void Reset() {
        loggers.clear();
        loggers[1];
        loggers[2];
        log.clear();
    }
    // The open, present logger on `port`, or null.
    Logger* Open(int32_t port) {
        auto found = loggers.find(static_cast<int16_t>(port));
        if (found == loggers.end() || !found->second.present || found->second.opens == 0) return nullptr;
        return &found->second;
    }
    int16_t Logged(int16_t result, const char* function, const std::string& arguments) {
        log += std::string(function) + "(" + arguments + ") = " + std::to_string(result) + "\n";
        return result;
    }
    // A reading as the sensor type gives it, in hundredths.
    std::optional<int32_t> Reading(const Logger& logger, int channel) const {
        const double minutes =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 60.0;
        const double drift = std::sin(minutes / 3.0 + channel);
        switch (logger.channels[channel - 1].sensor) {
            case 0: return std::nullopt;                                             // Off
            case 4: return static_cast<int32_t>(std::lround(40000 + 5000 * drift));  // light, lux
            case 5: return drift > 0 ? 100 : 0;                                      // door switch
            case 6: return static_cast<int32_t>(std::lround(1000 + 10 * drift));     // Unicam
            default: return static_cast<int32_t>(std::lround(2100 + 25 * channel + 40 * drift));
        }
    }
};

Simulation& Sim() {
    static Simulation simulation;
    return simulation;
}

// Runs `step` on the simulation under its lock.
template <class F>
decltype(auto) Locked(F&& step) {
    Simulation& simulation = Sim();
    std::lock_guard guard(simulation.lock);
    return step(simulation);
}

std::string Join(std::initializer_list<int32_t> values) {
    std::string text;
    for (int32_t v : values) text += (text.empty() ? "" : ", ") + std::to_string(v);
    return text;
}

// A failed read writes something into the cell, as a real library may, so
// that callers are seen to trust only the result.
bool FailNow(Logger& logger, int32_t* cell) {
    if (!logger.fail_next_read) return false;
    logger.fail_next_read = false;
    *cell = kFailedCellValue;
    return true;
}

}  // namespace

extern "C" {

TESSEL_API int16_t th03_open_unit(int16_t port) {
    return Locked([&](Simulation& sim) {
        auto found = sim.loggers.find(port);
        if (found == sim.loggers.end() || !found->second.present) return sim.Logged(0, "th03_open_unit", Join({port}));
        Logger& logger = found->second;
        if (logger.opens++ == 0) logger.cycle = 1;
        return sim.Logged(1, "th03_open_unit", Join({port}));
    });
}

TESSEL_API int16_t th03_set_channel(int16_t port, int16_t channel, int16_t sensor, int16_t filter_factor) {
    return Locked([&](Simulation& sim) {
        Logger* logger = sim.Open(port);
        const bool done = logger && channel >= 1 && channel <= kChannels;
        if (done) logger->channels[channel - 1].sensor = sensor;
        return sim.Logged(done ? 1 : 0, "th03_set_channel", Join({port, channel, sensor, filter_factor}));
    });
}

TESSEL_API int16_t th03_get_temp(int32_t* hundredths, int16_t port, int16_t channel, int16_t filter_factor) {
    return Locked([&](Simulation& sim) {
        const std::string arguments = Join({port, channel, filter_factor});
        Logger* logger = sim.Open(port);
        if (!logger || channel < 1 || channel > kChannels || FailNow(*logger, hundredths))
            return sim.Logged(0, "th03_get_temp", arguments);
        Channel& selected = logger->channels[channel - 1];
        std::optional<int32_t> reading = selected.next_reading ? selected.next_reading : sim.Reading(*logger, channel);
        selected.next_reading.reset();
        if (!reading) return sim.Logged(0, "th03_get_temp", arguments);
        *hundredths = *reading;
        ++logger->cycle;
        return sim.Logged(1, "th03_get_temp", arguments);
    });
}

TESSEL_API int16_t th03_get_cycle(int32_t* cycle, int32_t port) {
    return Locked([&](Simulation& sim) {
        Logger* logger = sim.Open(port);
        if (!logger || FailNow(*logger, cycle)) return sim.Logged(0, "th03_get_cycle", Join({port}));
        *cycle = logger->cycle;
        return sim.Logged(1, "th03_get_cycle", Join({port}));
    });
}

TESSEL_API int16_t th03_get_version(int32_t* version, int32_t port) {
    return Locked([&](Simulation& sim) {
        Logger* logger = sim.Open(port);
        if (!logger || FailNow(*logger, version)) return sim.Logged(0, "th03_get_version", Join({port}));
        *version = kVersion;
        return sim.Logged(1, "th03_get_version", Join({port}));
    });
}

TESSEL_API int16_t th03_close_unit(int16_t port) {
    return Locked([&](Simulation& sim) {
        auto found = sim.loggers.find(port);
        if (found == sim.loggers.end() || found->second.opens == 0) return sim.Logged(0, "th03_close_unit", Join({port}));
        --found->second.opens;
        return sim.Logged(1, "th03_close_unit", Join({port}));
    });
}

TESSEL_API void th03sim_reset(void) {
    Locked([&](Simulation& sim) {
        sim.Reset();
    });
}

TESSEL_API void th03sim_plug(int16_t port) {
    Locked([&](Simulation& sim) {
        sim.loggers[port].present = true;
    });
}

TESSEL_API void th03sim_unplug(int16_t port) {
    Locked([&](Simulation& sim) {
        auto found = sim.loggers.find(port);
        if (found != sim.loggers.end()) found->second.present = false;
    });
}

TESSEL_API void th03sim_set_next_reading(int16_t port, int16_t channel, int32_t hundredths) {
    Locked([&](Simulation& sim) {
        if (channel < 1 || channel > kChannels) return;
        sim.loggers[port].channels[channel - 1].next_reading = hundredths;
    });
}

TESSEL_API void th03sim_fail_next_read(int16_t port) {
    Locked([&](Simulation& sim) {
        sim.loggers[port].fail_next_read = true;
    });
}

TESSEL_API int32_t th03sim_open_count(int16_t port) {
    return Locked([&](Simulation& sim) {
        auto found = sim.loggers.find(port);
        return found == sim.loggers.end() ? 0 : found->second.opens;
    });
}

TESSEL_API int32_t th03sim_calls(const char* function) {
    return Locked([&](Simulation& sim) {
        const std::string lead = std::string("\n") + function + "(";
        const std::string log = "\n" + sim.log;
        int32_t count = 0;
        for (auto at = log.find(lead); at != std::string::npos; at = log.find(lead, at + 1)) ++count;
        return count;
    });
}

TESSEL_API size_t th03sim_call_log(char* buffer, size_t size) {
    return Locked([&](Simulation& sim) {
        if (size > 0) {
            const size_t copied = std::min(size - 1, sim.log.size());
            std::memcpy(buffer, sim.log.data(), copied);
            buffer[copied] = '\0';
        }
        return sim.log.size();
    });
}

TESSEL_API void th03sim_clear_log(void) {
    Locked([&](Simulation& sim) {
        sim.log.clear();
    });
}

}  // extern "C"
