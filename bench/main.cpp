// tessel-bench: our drivers against raw clients of the same simulated
// instruments, in the same run, reported as ratios. It reports; it does not
// judge: the exit status is 0 whatever the figures, and only a failed
// exchange or a bad option makes it fail.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include <tessel/error.h>

#include "measure.h"
#include "suites.h"

namespace {

using tessel::bench::Options;

constexpr const char* kUsage =
    "usage: tessel-bench [options]\n"
    "  --suite serial|tcp|gpib|trace|all  which comparison to run (default all)\n"
    "  --iterations N           measured *IDN? queries per side (default 5000)\n"
    "  --warmup N               unmeasured queries per side first (default 500)\n"
    "  --block N                queries per side before the sides switch (default 50)\n"
    "  --transfers N            measured 32 KiB transfers per side (default 1000)\n"
    "  --no-wait                skip the time-out waits and the service-request rounds\n"
    "  --side ours|raw|both     run one side alone, for a profiler (default both)\n"
    "  --help                   this text\n";

struct Arguments {
    Options options;
    bool serial = true;
    bool tcp = true;
    bool gpib = true;
    bool trace = true;
};

bool Count(std::string_view text, std::size_t& value, std::size_t least) {
    std::size_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || v < least) return false;
    value = v;
    return true;
}

// Returns false after printing why the arguments are unusable.
bool Parse(int argc, char** argv, Arguments& a, bool& help) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto next = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        auto bad = [&] {
            std::fprintf(stderr, "tessel-bench: bad or missing value for %.*s\n%s", static_cast<int>(arg.size()),
                         arg.data(), kUsage);
            return false;
        };
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--no-wait") {
            a.options.waits = false;
        } else if (arg == "--suite") {
            if (!next()) return bad();
            a.serial = value == "serial" || value == "all";
            a.tcp = value == "tcp" || value == "all";
            a.gpib = value == "gpib" || value == "all";
            a.trace = value == "trace" || value == "all";
            if (!a.serial && !a.tcp && !a.gpib && !a.trace) return bad();
        } else if (arg == "--side") {
            if (!next()) return bad();
            a.options.runOurs = value == "ours" || value == "both";
            a.options.runRaw = value == "raw" || value == "both";
            if (!a.options.runOurs && !a.options.runRaw) return bad();
        } else if (arg == "--iterations") {
            if (!next() || !Count(value, a.options.queries.iterations, 1)) return bad();
        } else if (arg == "--warmup") {
            if (!next() || !Count(value, a.options.queries.warmup, 0)) return bad();
        } else if (arg == "--block") {
            if (!next() || !Count(value, a.options.queries.block, 1)) return bad();
        } else if (arg == "--transfers") {
            if (!next() || !Count(value, a.options.blocks.iterations, 1)) return bad();
        } else {
            std::fprintf(stderr, "tessel-bench: unknown option %s\n%s", argv[i], kUsage);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments a;
    bool help = false;
    if (!Parse(argc, argv, a, help)) return 2;
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::printf("tessel-bench  %s\n", tessel::bench::MachineLine().c_str());
    std::printf("  at start: %s\n", tessel::bench::LoadLine().c_str());
    std::printf("  one system call (getppid) costs %.2f us of CPU here now\n", tessel::bench::SystemCallMicroseconds());
    std::fflush(stdout);

    std::vector<tessel::bench::Table> tables;
    try {
        if (a.serial) {
            tables.push_back(tessel::bench::SerialSuite(a.options));
            tessel::bench::PrintTable(tables.back());
            std::fflush(stdout);
        }
        if (a.tcp) {
            tables.push_back(tessel::bench::TcpSuite(a.options));
            tessel::bench::PrintTable(tables.back());
            std::fflush(stdout);
        }
        if (a.gpib) {
            tables.push_back(tessel::bench::GpibSuite(a.options));
            tessel::bench::PrintTable(tables.back());
        }
        if (a.trace) {
            tables.push_back(tessel::bench::TraceSuite(a.options));
            tessel::bench::PrintTable(tables.back());
        }
    } catch (const tessel::ComError& e) {
        std::fprintf(stderr, "tessel-bench: %s (error %d from %s)%s%s\n", e.Description.c_str(), e.Number,
                     e.Source.c_str(), e.Detail.empty() ? "" : ": ", e.Detail.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessel-bench: %s\n", e.what());
        return 1;
    }
    tessel::bench::PrintTargetSummary(tables);
    std::printf("  at end: %s\n", tessel::bench::LoadLine().c_str());
    return 0;
}
