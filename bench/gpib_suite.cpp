#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <tessel/error.h>
#include <tessel/gpib.h>
#include <tessel/gpib_sim.h>
#include <tessel/host.h>
#include <tessel/sim.h>

#include "gpib/gpib_functions.h"
#include "suites.h"


namespace tessel::bench {
namespace {

using namespace gpib;

constexpr int kPad = 12;
constexpr int kRequestingPad = 13;
constexpr float kServiceWaitSeconds = 10.0f;
constexpr int kLatencyRounds = 21;

void RawSend(int pad, std::string_view text) {
    ::Send(0, static_cast<Addr4882>(pad), text.data(), static_cast<long>(text.size()), kNLEnd);
    if (ThreadIbsta() & kERR) throw std::runtime_error("raw GPIB: Send failed");
}

// The library calls the driver's Receive makes: the time-out code on the
// device descriptor, then the board-level read.
std::string RawReceive(int descriptor, int pad) {
    ::ibtmo(descriptor, 11);
    char buffer[1023];
    ::Receive(0, static_cast<Addr4882>(pad), buffer, sizeof buffer, kStopEnd);
    if (ThreadIbsta() & kERR) throw std::runtime_error("raw GPIB: Receive failed");
    return std::string(buffer, static_cast<std::size_t>(ThreadIbcntl()));
}

// Seconds from the moment another thread makes the instrument at
// kRequestingPad request service to the serial poll that `wait` makes after
// noticing it, median over rounds. The instrument is kept from completing on
// its own (INIT never ends) and an injected command error raises the request.
double RequestToPoll(const std::function<void()>& arm, const std::function<void()>& wait) {
    std::vector<double> latencies;
    for (int round = 0; round < kLatencyRounds; ++round) {
        TesselGpibSimPlace(0, kRequestingPad, 0, -1);
        arm();
        double latency = -1.0;
        const std::size_t waits = TesselGpibSimCallCount("ibwait");
        std::thread requester([&] {
            // Once the wait has begun (after the driver's sends and pauses),
            // and a little later, so that it sleeps.
            for (int i = 0; i < 2000 && TesselGpibSimCallCount("ibwait") == waits; ++i)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const std::size_t polls = TesselGpibSimCallCount("ReadStatusByte");
            const auto t0 = Clock::now();
            TesselGpibSimInjectError(0, kRequestingPad, -113);
            // Bounded: a wait that never polls leaves the round without a figure.
            for (int i = 0; i < 20000; ++i) {
                if (TesselGpibSimCallCount("ReadStatusByte") > polls) {
                    latency = std::chrono::duration<double>(Clock::now() - t0).count();
                    return;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        });
        wait();
        requester.join();
        if (latency >= 0.0) latencies.push_back(latency);
    }
    return latencies.empty() ? 0.0 : Samples::Percentile(latencies, 0.5);
}

}  // namespace

Table GpibSuite(const Options& options) {
    UseGpibLibrary(GPIB_SIM_LIBRARY);
    TesselGpibSimReset();
    TesselGpibSimPlace(0, kPad, 0, 100);
    const std::string identity = sim::Config{}.identity;

    auto gpib = std::make_shared<clsGPIB>();
    IPortSetup& setup = *gpib;
    IPort& io = *gpib;
    setup.Settings()->Item("Primary Address")->Value(-1, -1, Variant(int16_t{kPad}));
    setup.OnLine(true);

    const int rawDescriptor = ::ibdev(0, kPad, 0, 11, 1, 0);
    // The query goes out raw on both sides, so that the driver's 10 ms pause
    // after a write stays out of the comparison: what differs is the read.
    Side ours{[&] {
                  RawSend(kPad, "*IDN?");
                  if (io.Receive() != identity) throw std::runtime_error("GPIB driver: wrong *IDN? reply");
              },
              SideCpu()};
    Side raw{[&] {
                 RawSend(kPad, "*IDN?");
                 if (RawReceive(rawDescriptor, kPad) != identity + "\n") throw std::runtime_error("raw GPIB: wrong *IDN? reply");
             },
             SideCpu()};
    if (!options.runOurs) ours.exchange = nullptr;
    if (!options.runRaw) raw.exchange = nullptr;
    const Pair q = Alternate(options.queries, ours, raw);

    Table t;
    t.title = "gpib    *IDN? and service requests on the simulated bus";
    t.notes.push_back(PlanNote("queries", options.queries));
    t.notes.push_back("both: Send(\"*IDN?\") called raw; ours: clsGPIB::Receive(); raw: the library calls it makes,");
    t.notes.push_back("  ibtmo(device, 11) and Receive(0, 12, buffer, 1023, STOPend), straight");
    t.notes.push_back("a whole driver query, Receive(\"*IDN?\"), also pauses 10 ms after its write");
    AddQueryRows(t, q, 1.10, 1.5);

    if (options.waits && options.runOurs) {
        // An instrument that never requests service: the whole time-out.
        TesselGpibSimSetServiceDelay(0, kPad, -1);
        io.TimeOut(kServiceWaitSeconds);
        const WaitCost w = MeasureWait(SideCpu(), [&] {
            try {
                io.SendE("*RST");
            } catch (const ComError& e) {
                if (e.Number == kObjectErrorBase + kErrTimedOut) return;
                throw;
            }
            throw std::runtime_error("GPIB driver: a service request that never comes did not time out");
        });
        TesselGpibSimPlace(0, kPad, 0, 100);  // its request would hold the line
        t.rows.push_back(Row::Goal("CPU while waiting 10 s for SRQ", "% core", w.CorePercent(), 0.0,
                                   Target::OursAtMost, 1.0));
        t.rows.push_back(Row::Info("wall time of that wait", "s", w.wallSeconds, 0.0));
    }
    if (options.waits) {
        auto requester = std::make_shared<clsGPIB>();
        requester->Settings()->Item("Primary Address")->Value(-1, -1, Variant(int16_t{kRequestingPad}));
        const double oursLatency =
            !options.runOurs ? 0.0
                             : RequestToPoll([&] { requester->OnLine(true); },
                                             [&] {
                                                 try {
                                                     requester->SendE("INIT");
                                                 } catch (const ComError& e) {
                                                     // the injected command error
                                                     if (e.Number != kObjectErrorBase + kErrCommandError) throw;
                                                 }
                                                 requester->OnLine(false);
                                             });
        const double rawLatency = !options.runRaw ? 0.0
                                                  : RequestToPoll(
                                                        [] {
                                                            RawSend(kRequestingPad, "*CLS;*SRE 32;*ESE 61;INIT;*OPC");
                                                        },
                                                        [] {
                                                            ibwait(0, kSRQI);
                                                            short status = 0;
                                                            ReadStatusByte(0, kRequestingPad, &status);
                                                        });
        t.rows.push_back(Row::Goal("service request to serial poll, median", "ms", oursLatency * 1e3,
                                   rawLatency * 1e3, Target::OursAtMost, 2.0));
    }
    setup.OnLine(false);
    ::ibonl(rawDescriptor, 0);
    return t;
}

}  // namespace tessel::bench
