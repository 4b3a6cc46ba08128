// What tracing costs: the driver with tracing off against a raw client, and
// with tracing on (a sink that keeps nothing) against tracing off. Off, every
// transfer pays one relaxed load and a branch; the on/off rows bound that
// from above, since on does all of it and a clock read, a lock and a call.
#include <memory>
#include <stdexcept>
#include <string>

#include <tessel/ethernet.h>
#include <tessel/sim.h>
#include <tessel/trace.h>

#include "raw_clients.h"
#include "suites.h"

namespace tessel::bench {

Table TraceSuite(const Options& options) {
    sim::TcpServer instruments;
    const std::string identity = sim::Config{}.identity;
    auto eth = std::make_shared<clsEthernet>();
    IPortSetup& setup = *eth;
    IPort& io = *eth;
    setup.Settings()->Item("Remote Host")->Value(-1, -1, Variant("127.0.0.1"));
    setup.Settings()->Item("Remote Port")->Value(-1, -1, Variant(static_cast<int32_t>(instruments.Port())));
    setup.OnLine(true);
    RawTcpClient raw(instruments.Port(), std::chrono::milliseconds(static_cast<int>(kWaitSeconds * 1000)));

    auto query = [&] {
        if (io.Receive("*IDN?") != identity) throw std::runtime_error("TCP driver: wrong *IDN? reply");
    };
    Side plain{query, SideCpu()};
    // Both sides of on/off set the trace before each query, so that the
    // setting itself costs both alike.
    const TraceSink keepNothing = [](const TraceRecord&) {};
    Side off{[&] {
                 SetTrace(nullptr);
                 query();
             },
             SideCpu()};
    Side on{[&] {
                SetTrace(keepNothing);
                query();
            },
            SideCpu()};
    Side rawSide{[&] {
                     if (raw.Query("*IDN?") != identity + "\r\n")
                         throw std::runtime_error("raw TCP client: wrong *IDN? reply");
                 },
                 SideCpu()};
    if (!options.runOurs) plain.exchange = off.exchange = on.exchange = nullptr;
    if (!options.runRaw) rawSide.exchange = nullptr;

    SetTrace(nullptr);
    const Pair offRaw = Alternate(options.queries, plain, rawSide);
    const Pair onOff = Alternate(options.queries, on, off);
    SetTrace(nullptr);
    setup.OnLine(false);

    Table t;
    t.title = "trace   the transfer hook, *IDN? over loopback TCP";
    t.notes.push_back(PlanNote("queries", options.queries));
    t.notes.push_back("off: clsEthernet::Receive(\"*IDN?\") with no sink; raw: the raw TCP client");
    t.notes.push_back("on: the same with a sink that keeps nothing, against off (the ratio bounds what off costs)");
    t.rows.push_back(Row::Info("trace off vs raw, latency median", "us", Micro(offRaw.ours.Median()),
                               Micro(offRaw.raw.Median())));
    t.rows.push_back(Row::Info("trace off vs raw, CPU per query", "us", Micro(offRaw.ours.CpuPerExchange()),
                               Micro(offRaw.raw.CpuPerExchange())));
    t.rows.push_back(Row::Goal("trace on vs off, latency median", "us", Micro(onOff.ours.Median()),
                               Micro(onOff.raw.Median()), Target::RatioAtMost, 1.05));
    t.rows.push_back(Row::Goal("trace on vs off, CPU per query", "us", Micro(onOff.ours.CpuPerExchange()),
                               Micro(onOff.raw.CpuPerExchange()), Target::RatioAtMost, 1.05));
    return t;
}

}  // namespace tessel::bench
