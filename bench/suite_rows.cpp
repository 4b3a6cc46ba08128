#include <stdexcept>

#include <tessel/error.h>

#include "suites.h"

namespace tessel::bench {

double Micro(double seconds) { return seconds * 1e6; }

std::string PlanNote(const std::string& what, const Plan& plan) {
    return "warm-up " + std::to_string(plan.warmup) + " + measured " + std::to_string(plan.iterations) + " " + what +
           " per side, alternating in blocks of " + std::to_string(plan.block) +
           "; latency, CPU and throughput ratios are medians of the per-round block ratios";
}

void AddQueryRows(Table& t, const Pair& q, double latencyBound, double cpuBound) {
    t.rows.push_back(Row::Goal("latency median", "us", Micro(q.ours.Median()),
                               Micro(q.raw.Median()), Target::RatioAtMost, latencyBound)
                         .ByBlocks(q.LatencyRatio()));
    t.rows.push_back(Row::Info("latency p99", "us", Micro(q.ours.Percentile(0.99)), Micro(q.raw.Percentile(0.99))));
    t.rows.push_back(Row::Goal("CPU per query, block median", "us", Micro(q.ours.CpuPerExchange()),
                               Micro(q.raw.CpuPerExchange()), Target::RatioAtMost, cpuBound)
                         .ByBlocks(q.CpuRatio()));
    t.rows.push_back(Row::Info("CPU per query, mean", "us", Micro(q.ours.MeanCpuPerExchange()),
                               Micro(q.raw.MeanCpuPerExchange())));
}

void AddWaitRows(Table& t, const Options& options, IPort& port, const Side& ours, const Side& raw,
                 const std::function<void()>& rawWait, const std::string& driver, std::optional<double> bound) {
    if (!options.waits) return;
    port.TimeOut(kWaitSeconds);
    auto oursWait = [&] {
        try {
            (void)port.Receive();
        } catch (const ComError& e) {
            if (e.Number == kObjectErrorBase + kErrTimedOut) return;
            throw;
        }
        throw std::runtime_error(driver + ": a receive with nothing coming did not time out");
    };
    const WaitCost o = options.runOurs ? MeasureWait(ours.cpu, oursWait) : WaitCost{};
    const WaitCost r = options.runRaw ? MeasureWait(raw.cpu, rawWait) : WaitCost{};
    t.rows.push_back(bound ? Row::Goal("CPU while waiting 2 s", "% core", o.CorePercent(), r.CorePercent(),
                                       Target::OursAtMost, *bound)
                           : Row::Info("CPU while waiting 2 s", "% core", o.CorePercent(), r.CorePercent()));
    t.rows.push_back(Row::Info("wall time of that wait", "s", o.wallSeconds, r.wallSeconds));
}

}  // namespace tessel::bench
