#include "measure.h"

#include <dirent.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace tessel::bench {
namespace {


struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

void RunBlock(Side& side, std::size_t n, Samples* into) {
    if (!side.exchange) return;
    const double cpu0 = side.cpu.Seconds();
    for (std::size_t i = 0; i < n; ++i) {
        const auto t0 = Clock::now();
        side.exchange();
        const auto t1 = Clock::now();
        if (into) into->seconds.push_back(std::chrono::duration<double>(t1 - t0).count());
    }
    const double cpu1 = side.cpu.Seconds();
    if (into && n > 0) {
        into->cpuSeconds += cpu1 - cpu0;
        into->blockCpuPerExchange.push_back((cpu1 - cpu0) / static_cast<double>(n));
        into->blockMedianSeconds.push_back(
            Samples::Percentile(std::vector<double>(into->seconds.end() - static_cast<std::ptrdiff_t>(n), into->seconds.end()), 0.5));
    }
}

std::string FirstLineOf(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string Figure(double v) {
    char text[32];
    const double a = std::fabs(v);
    if (a >= 1000.0) std::snprintf(text, sizeof text, "%.0f", v);
    else if (a >= 100.0) std::snprintf(text, sizeof text, "%.1f", v);
    else if (a >= 1.0) std::snprintf(text, sizeof text, "%.2f", v);
    else std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

std::string Multiple(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", v);
    return text;
}

}  // namespace

double ThreadCpuSeconds() {
    timespec t{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0)
        throw std::runtime_error("clock_gettime(CLOCK_THREAD_CPUTIME_ID) failed");
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Pair::MedianRatio(const std::vector<double>& ours, const std::vector<double>& raw) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(ours.size(), raw.size()); ++i)
        if (raw[i] > 0.0) ratios.push_back(ours[i] / raw[i]);
    return Samples::Percentile(std::move(ratios), 0.5);
}

std::set<pid_t> ThreadIds() {
    std::set<pid_t> ids;
    std::unique_ptr<DIR, DirCloser> dir(::opendir("/proc/self/task"));
    if (!dir) throw std::runtime_error("cannot list /proc/self/task");
    while (const dirent* e = ::readdir(dir.get())) {
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9') ids.insert(static_cast<pid_t>(std::stol(e->d_name)));
    }
    return ids;
}

std::set<pid_t> Minus(const std::set<pid_t>& a, const std::set<pid_t>& b) {
    std::set<pid_t> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.end()));
    return out;
}

double TaskCpuSeconds(pid_t tid) {
    // schedstat's first field is the nanoseconds the task has run; a thread
    // that has ended has run no more.
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    unsigned long long ns = 0;
    if (!(in >> ns)) return 0.0;
    return static_cast<double>(ns) * 1e-9;
}

double SideCpu::Seconds() const {
    double total = ThreadCpuSeconds();
    for (pid_t tid : helpers_) total += TaskCpuSeconds(tid);
    return total;
}

double Samples::Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

Pair Alternate(const Plan& plan, Side& ours, Side& raw) {
    for (std::size_t done = 0; done < plan.warmup;) {
        const std::size_t n = std::min(plan.block, plan.warmup - done);
        RunBlock(ours, n, nullptr);
        RunBlock(raw, n, nullptr);
        done += n;
    }
    Pair result;
    result.ours.seconds.reserve(plan.iterations);
    result.raw.seconds.reserve(plan.iterations);
    std::size_t round = 0;
    for (std::size_t done = 0; done < plan.iterations; ++round) {
        const std::size_t n = std::min(plan.block, plan.iterations - done);
        if (round % 2 == 0) {
            RunBlock(ours, n, &result.ours);
            RunBlock(raw, n, &result.raw);
        } else {
            RunBlock(raw, n, &result.raw);
            RunBlock(ours, n, &result.ours);
        }
        done += n;
    }
    return result;
}

WaitCost MeasureWait(const SideCpu& cpu, const std::function<void()>& wait) {
    const double cpu0 = cpu.Seconds();
    const auto t0 = Clock::now();
    wait();
    const auto t1 = Clock::now();
    const double cpu1 = cpu.Seconds();
    return {std::chrono::duration<double>(t1 - t0).count(), cpu1 - cpu0};
}

Row Row::Info(std::string what, std::string unit, double ours, double raw) {
    Row r;
    r.what = std::move(what);
    r.unit = std::move(unit);
    r.ours = ours;
    r.raw = raw;
    return r;
}

Row Row::Goal(std::string what, std::string unit, double ours, double raw, Target target, double bound) {
    Row r = Info(std::move(what), std::move(unit), ours, raw);
    r.target = target;
    r.bound = bound;
    return r;
}

bool Row::Met() const {
    switch (target) {
    case Target::None: return true;
    case Target::RatioAtMost: return Ratio() <= bound;
    case Target::RatioAtLeast: return Ratio() >= bound;
    case Target::OursAtMost: return ours <= bound;
    }
    return true;
}

std::string Row::TargetText() const {
    switch (target) {
    case Target::None: return "";
    case Target::RatioAtMost: return "<= " + Multiple(bound);
    case Target::RatioAtLeast: return ">= " + Multiple(bound);
    case Target::OursAtMost: return "<= " + Figure(bound) + " " + unit;
    }
    return "";
}

void PrintTable(const Table& table) {
    std::printf("\n%s\n", table.title.c_str());
    for (const auto& note : table.notes) std::printf("  %s\n", note.c_str());
    std::printf("  %-42s %10s %10s %9s  %-14s %s\n", "", "ours", "raw", "ours/raw", "target", "");
    for (const Row& r : table.rows) {
        const std::string label = r.what + " (" + r.unit + ")";
        const std::string rawText = r.raw > 0.0 || r.target != Target::OursAtMost ? Figure(r.raw) : "-";
        const std::string ratio = r.raw > 0.0 ? Multiple(r.Ratio()) : "-";
        const std::string verdict = !r.HasTarget() ? "" : !r.Judged() ? "n/a" : r.Met() ? "met" : "NOT met";
        std::printf("  %-42s %10s %10s %9s  %-14s %s\n", label.c_str(), Figure(r.ours).c_str(), rawText.c_str(),
                    ratio.c_str(), r.TargetText().c_str(), verdict.c_str());
    }
}

void PrintTargetSummary(const std::vector<Table>& tables) {
    std::printf("\ntargets\n");
    for (const Table& t : tables) {
        for (const Row& r : t.rows) {
            if (!r.HasTarget()) continue;
            const std::string figure = r.target == Target::OursAtMost ? Figure(r.ours) + " " + r.unit
                                                                       : Multiple(r.Ratio()) + " raw";
            std::printf("  %-7s %-28s %-16s %-14s %s\n", t.title.substr(0, t.title.find(' ')).c_str(),
                        r.what.c_str(), figure.c_str(), r.TargetText().c_str(), !r.Judged() ? "n/a" : r.Met() ? "met" : "NOT met");
        }
    }
}

std::string MachineLine() {
    utsname u{};
    ::uname(&u);
    std::string model;
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    char date[64] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M %Z", &local);
    return std::string(date) + ", nproc " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + ", " + u.sysname +
           " " + u.release + " " + u.machine + (model.empty() ? "" : ", " + model);
}

double SystemCallMicroseconds() {
    constexpr int kCalls = 20000;
    const double cpu0 = ThreadCpuSeconds();
    for (int i = 0; i < kCalls; ++i) (void)::getppid();
    const double cpu1 = ThreadCpuSeconds();
    return (cpu1 - cpu0) / kCalls * 1e6;
}

std::string LoadLine() { return "load average " + FirstLineOf("/proc/loadavg"); }

}  // namespace tessel::bench
