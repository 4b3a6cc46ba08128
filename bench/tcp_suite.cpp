#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <tessel/error.h>
#include <tessel/ethernet.h>
#include <tessel/sim.h>

#include "block_server.h"
#include "raw_clients.h"
#include "suites.h"

namespace tessel::bench {
namespace {

using namespace std::chrono_literals;


// DATA? answers "#5" + "32768" + the bytes + CR LF. ReceiveB counts in 16
// bits, so one call takes at most 32767 bytes: the reply comes in two calls,
// the header with all but the last 8 data bytes, then those 8 and the CR LF.
constexpr std::size_t kPayload = 32768;
constexpr const char* kBlockCommand = "DATA? 32768";
constexpr int16_t kFirstCall = 32767;

std::vector<uint8_t> ExpectedBlockReply() {
    const std::string header = "#5" + std::to_string(kPayload);
    std::vector<uint8_t> reply(header.begin(), header.end());
    for (std::size_t i = 0; i < kPayload; ++i) reply.push_back(static_cast<uint8_t>(i % 256));
    reply.push_back('\r');
    reply.push_back('\n');
    return reply;
}

bool Same(const std::vector<uint8_t>& got, const uint8_t* expected, std::size_t count) {
    return got.size() == count && std::memcmp(got.data(), expected, count) == 0;
}

double MegabytesPerSecond(double seconds, std::size_t bytes = kPayload) {
    return seconds > 0.0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
}

// 32 ReceiveB calls of the most one call takes: 1 MiB less 32 bytes.
constexpr int kMegabyteCalls = 32;
constexpr std::size_t kMegabyte = std::size_t{kMegabyteCalls} * kFirstCall;

std::vector<uint8_t> PreparedMegabyte() {
    std::vector<uint8_t> bytes(kMegabyte);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 % 251);
    return bytes;
}

}  // namespace

Table TcpSuite(const Options& options) {
    const std::set<pid_t> before = ThreadIds();
    sim::TcpServer instruments;  // a fresh instrument for each connection
    const std::set<pid_t> withInstruments = ThreadIds();
    const std::string identity = sim::Config{}.identity;

    auto eth = std::make_shared<clsEthernet>();
    IPortSetup& setup = *eth;
    IPort& io = *eth;
    IPortB& blocks = *eth;
    setup.Settings()->Item("Remote Host")->Value(-1, -1, Variant("127.0.0.1"));
    setup.Settings()->Item("Remote Port")->Value(-1, -1, Variant(static_cast<int32_t>(instruments.Port())));
    setup.OnLine(true);

    RawTcpClient raw(instruments.Port(), std::chrono::milliseconds(static_cast<int>(kWaitSeconds * 1000)));
    const std::string rawIdentity = identity + "\r\n";
    const std::set<pid_t> helpers = Minus(ThreadIds(), withInstruments);

    Side ours{[&] {
                  if (io.Receive("*IDN?") != identity) throw std::runtime_error("TCP driver: wrong *IDN? reply");
              },
              SideCpu(helpers)};
    Side rawSide{[&] {
                     if (raw.Query("*IDN?") != rawIdentity)
                         throw std::runtime_error("raw TCP client: wrong *IDN? reply");
                 },
                 SideCpu()};
    if (!options.runOurs) ours.exchange = nullptr;
    if (!options.runRaw) rawSide.exchange = nullptr;
    const Pair q = Alternate(options.queries, ours, rawSide);

    const std::vector<uint8_t> expected = ExpectedBlockReply();
    std::vector<uint8_t> rawBuffer(expected.size());
    Side oursBlock{[&] {
                       const auto restCount = static_cast<int16_t>(expected.size() - kFirstCall);
                       const Variant first = blocks.ReceiveB(kFirstCall, Variant(kBlockCommand));
                       const Variant rest = blocks.ReceiveB(restCount);
                       if (!Same(first.AsBytes().bytes, expected.data(), kFirstCall) ||
                           !Same(rest.AsBytes().bytes, expected.data() + kFirstCall, restCount))
                           throw std::runtime_error("TCP driver: wrong DATA? reply");
                   },
                   SideCpu(helpers)};
    Side rawBlock{[&] {
                      raw.Exchange(kBlockCommand, rawBuffer.data(), rawBuffer.size());
                      if (!Same(rawBuffer, expected.data(), expected.size()))
                          throw std::runtime_error("raw TCP client: wrong DATA? reply");
                  },
                  SideCpu()};
    if (!options.runOurs) oursBlock.exchange = nullptr;
    if (!options.runRaw) rawBlock.exchange = nullptr;
    const Pair b = Alternate(options.blocks, oursBlock, rawBlock);

    // 1 MiB from a server that sends a prepared buffer, so that only the
    // clients' costs differ.
    const std::vector<uint8_t> megabyte = PreparedMegabyte();
    BlockServer server(megabyte);
    auto bulk = std::make_shared<clsEthernet>();
    IPortSetup& bulkSetup = *bulk;
    IPortB& bulkBlocks = *bulk;
    bulkSetup.Settings()->Item("Remote Host")->Value(-1, -1, Variant("127.0.0.1"));
    bulkSetup.Settings()->Item("Remote Port")->Value(-1, -1, Variant(static_cast<int32_t>(server.Port())));
    bulkSetup.OnLine(true);
    RawTcpClient rawBulk(server.Port(), std::chrono::milliseconds(static_cast<int>(kWaitSeconds * 1000)));
    std::vector<uint8_t> rawMegabyte(megabyte.size());
    Side oursMegabyte{[&] {
                          for (int call = 0; call < kMegabyteCalls; ++call) {
                              const Variant part = call == 0 ? bulkBlocks.ReceiveB(kFirstCall, Variant("BLK"))
                                                             : bulkBlocks.ReceiveB(kFirstCall);
                              if (!Same(part.AsBytes().bytes, megabyte.data() + std::size_t(call) * kFirstCall,
                                        kFirstCall))
                                  throw std::runtime_error("TCP driver: wrong 1 MiB block");
                          }
                      },
                      SideCpu(helpers)};
    Side rawMegabyteSide{[&] {
                             rawBulk.Exchange("BLK", rawMegabyte.data(), rawMegabyte.size());
                             if (!Same(rawMegabyte, megabyte.data(), megabyte.size()))
                                 throw std::runtime_error("raw TCP client: wrong 1 MiB block");
                         },
                         SideCpu()};
    if (!options.runOurs) oursMegabyte.exchange = nullptr;
    if (!options.runRaw) rawMegabyteSide.exchange = nullptr;
    const Pair m = Alternate(options.megabytes, oursMegabyte, rawMegabyteSide);
    bulkSetup.OnLine(false);

    Table t;
    t.title = "tcp     *IDN? and 32 KiB blocks over loopback";
    t.notes.push_back(PlanNote("queries", options.queries));
    t.notes.push_back(PlanNote("32 KiB transfers", options.blocks));
    t.notes.push_back(PlanNote("1 MiB transfers", options.megabytes) +
                      "; from a server that sends one prepared buffer per command");
    t.notes.push_back("ours: clsEthernet::Receive(\"*IDN?\"); ReceiveB(32767, \"DATA? 32768\") + ReceiveB(10)");
    t.notes.push_back("raw: blocking socket, TCP_NODELAY, SO_RCVTIMEO; send, recv until CR LF / all 32777 bytes");
    t.notes.push_back("threads: " + std::to_string(Minus(withInstruments, before).size()) +
                      " instrument (not counted), " + std::to_string(helpers.size()) +
                      " started by the driver (counted on our side)");
    AddQueryRows(t, q, 1.08, 1.3);
    t.rows.push_back(Row::Goal("32 KiB block, median", "MB/s", MegabytesPerSecond(b.ours.Median()),
                               MegabytesPerSecond(b.raw.Median()), Target::RatioAtLeast, 0.85)
                         .ByBlocks(Pair::MedianRatio(b.raw.blockMedianSeconds, b.ours.blockMedianSeconds)));
    t.rows.push_back(Row::Goal("1 MiB block (32 calls), median", "MB/s",
                               MegabytesPerSecond(m.ours.Median(), kMegabyte),
                               MegabytesPerSecond(m.raw.Median(), kMegabyte), Target::RatioAtLeast, 0.85)
                         .ByBlocks(Pair::MedianRatio(m.raw.blockMedianSeconds, m.ours.blockMedianSeconds)));
    t.rows.push_back(Row::Info("32 KiB block, p99 time", "us", Micro(b.ours.Percentile(0.99)),
                               Micro(b.raw.Percentile(0.99))));
    t.rows.push_back(Row::Info("CPU per 32 KiB block, block median", "us", Micro(b.ours.CpuPerExchange()),
                               Micro(b.raw.CpuPerExchange())));

    AddWaitRows(
        t, options, io, ours, rawSide,
        [&] {
            if (raw.WaitForNothing() != 0) throw std::runtime_error("raw TCP client: unexpected input");
        },
        "TCP driver", std::nullopt);
    setup.OnLine(false);
    return t;
}

}  // namespace tessel::bench
