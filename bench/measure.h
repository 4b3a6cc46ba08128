// What the benchmarks measure and how: per-exchange wall times, the CPU the
// client side burns, and the two sides run alternately in blocks so that a
// burst of load from elsewhere on the machine lands on both alike.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tessel::bench {

using Clock = std::chrono::steady_clock;

// CPU seconds of the calling thread (CLOCK_THREAD_CPUTIME_ID, exact to the
// nanosecond; getrusage's figures lag behind by up to a tick): the simulated
// instruments run on threads of their own and never count.
double ThreadCpuSeconds();

// The thread ids of this process now.
std::set<pid_t> ThreadIds();
// The ids in a that are not in b.
std::set<pid_t> Minus(const std::set<pid_t>& a, const std::set<pid_t>& b);
// CPU seconds of one thread of this process, read from /proc (for threads
// other than the caller, where RUSAGE_THREAD cannot reach).
double TaskCpuSeconds(pid_t tid);

// The CPU of one side of a comparison: the calling thread, plus threads that
// the side's own code started (a driver that hands work to a helper thread
// must pay for it). Instrument threads are never among them.
class SideCpu {
public:
    SideCpu() = default;
    explicit SideCpu(std::set<pid_t> helpers) : helpers_(std::move(helpers)) {}
    double Seconds() const;

private:
    std::set<pid_t> helpers_;
};

struct Samples {
    std::vector<double> seconds;  // wall time of each measured exchange
    double cpuSeconds = 0.0;      // client CPU over all measured exchanges
    // Client CPU per exchange of each block. A block that another program's
    // burst of work slowed (cache and TLB refills, a preemption inside a
    // system call) is one value among many here, not a share of a sum.
    std::vector<double> blockCpuPerExchange;
    // The median wall time of each block's exchanges.
    std::vector<double> blockMedianSeconds;

    double Median() const { return Percentile(seconds, 0.5); }
    // Nearest rank.
    static double Percentile(std::vector<double> values, double p);
    double Percentile(double p) const { return Percentile(seconds, p); }
    // The median over blocks: the figure the targets use.
    double CpuPerExchange() const { return Percentile(blockCpuPerExchange, 0.5); }
    // All measured CPU over all measured exchanges.
    double MeanCpuPerExchange() const {
        return seconds.empty() ? 0.0 : cpuSeconds / static_cast<double>(seconds.size());
    }
};

struct Plan {
    std::size_t warmup = 0;      // exchanges per side, not recorded
    std::size_t iterations = 1;  // recorded exchanges per side
    std::size_t block = 1;       // exchanges per side between switches
};

struct Side {
    // One complete exchange; throws on failure. Empty: the side is left out
    // (to profile the other one alone).
    std::function<void()> exchange;
    SideCpu cpu;
};

struct Pair {
    Samples ours;
    Samples raw;

    // The median over rounds of ours/raw of the same round: each ratio
    // compares blocks run a few milliseconds apart, so a burst of load from
    // elsewhere shifts one ratio, not the whole figure.
    double LatencyRatio() const { return MedianRatio(ours.blockMedianSeconds, raw.blockMedianSeconds); }
    double CpuRatio() const { return MedianRatio(ours.blockCpuPerExchange, raw.blockCpuPerExchange); }
    static double MedianRatio(const std::vector<double>& ours, const std::vector<double>& raw);
};

// Warm-up, then blocks of `plan.block` exchanges, ours then raw in even
// rounds and raw then ours in odd ones.
Pair Alternate(const Plan& plan, Side& ours, Side& raw);

// One exchange that is expected to wait: its wall time and its CPU.
struct WaitCost {
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0;
    double CorePercent() const { return wallSeconds > 0.0 ? 100.0 * cpuSeconds / wallSeconds : 0.0; }
};
WaitCost MeasureWait(const SideCpu& cpu, const std::function<void()>& wait);

// ---- the report ----

enum class Target {
    None,
    RatioAtMost,   // ours/raw <= bound
    RatioAtLeast,  // ours/raw >= bound
    OursAtMost,    // ours <= bound, in the row's unit
};

struct Row {
    std::string what;
    std::string unit;
    double ours = 0.0;
    double raw = 0.0;
    Target target = Target::None;
    double bound = 0.0;
    // When set, the ratio the row reports and judges instead of ours/raw
    // (a median of per-block ratios, see Pair).
    double blockRatio = 0.0;

    // A figure with no target, and one with a target.
    static Row Info(std::string what, std::string unit, double ours, double raw);
    static Row Goal(std::string what, std::string unit, double ours, double raw, Target target, double bound);

    double Ratio() const { return blockRatio > 0.0 ? blockRatio : raw > 0.0 ? ours / raw : 0.0; }
    Row& ByBlocks(double ratio) {
        blockRatio = ratio;
        return *this;
    }
    bool HasTarget() const { return target != Target::None; }
    // False when a side the target needs was left out of the run.
    bool Judged() const { return HasTarget() && ours > 0.0 && (target == Target::OursAtMost || raw > 0.0); }
    bool Met() const;
    std::string TargetText() const;
};

struct Table {
    std::string title;
    std::vector<std::string> notes;  // printed under the title
    std::vector<Row> rows;
};

void PrintTable(const Table& table);
// Every row with a target, from every table, with its verdict.
void PrintTargetSummary(const std::vector<Table>& tables);

// nproc, kernel, CPU model, load averages, local date and time.
std::string MachineLine();
std::string LoadLine();
// CPU microseconds of one trivial system call, measured now: most of what a
// driver adds over a raw client is system calls, so this is the exchange rate
// between the two on this machine at this moment.
double SystemCallMicroseconds();

}  // namespace tessel::bench
