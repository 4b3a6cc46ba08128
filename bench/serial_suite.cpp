#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include <tessel/comm.h>
#include <tessel/error.h>
#include <tessel/serial_ports.h>
#include <tessel/sim.h>

#include "raw_clients.h"
#include "suites.h"

namespace tessel::bench {
namespace {

using namespace std::chrono_literals;

// A port number no host of this process uses for anything else.
constexpr int16_t kBenchPort = 64;

// The assignment is process-wide: give the number back however the suite ends.
class PortAssignment {
public:
    PortAssignment(int16_t number, const std::string& path) : number_(number) { AssignSerialPort(number, path); }
    ~PortAssignment() {
        try {
            AssignSerialPort(number_, "");
        } catch (...) {
            // Only numbers below 1 are refused, and ours is not one.
        }
    }
    PortAssignment(const PortAssignment&) = delete;
    PortAssignment& operator=(const PortAssignment&) = delete;

private:
    int16_t number_;
};


}  // namespace

Table SerialSuite(const Options& options) {
    const std::set<pid_t> before = ThreadIds();
    sim::PtyServer oursInstrument;
    sim::PtyServer rawInstrument;
    const std::set<pid_t> withInstruments = ThreadIds();
    const std::string identity = sim::Config{}.identity;

    PortAssignment assignment(kBenchPort, oursInstrument.SlavePath());
    auto comm = std::make_shared<clsComm>();
    IPortSetup& setup = *comm;
    IPort& io = *comm;
    setup.Settings()->Item("Comm Port")->Value(-1, -1, Variant(kBenchPort));
    setup.Settings()->Item("Baud Rate")->Value(-1, -1, Variant("115200"));
    setup.Settings()->Item("Handshaking")->Value(-1, -1, Variant("None"));
    setup.OnLine(true);

    RawSerialClient raw(rawInstrument.SlavePath());
    const std::string rawIdentity = identity + "\r\n";
    const std::set<pid_t> helpers = Minus(ThreadIds(), withInstruments);

    Side ours{[&] {
                  if (io.Receive("*IDN?") != identity) throw std::runtime_error("serial driver: wrong *IDN? reply");
              },
              SideCpu(helpers)};
    Side rawSide{[&] {
                     if (raw.Query("*IDN?", 1000ms) != rawIdentity)
                         throw std::runtime_error("raw serial client: wrong *IDN? reply");
                 },
                 SideCpu()};
    if (!options.runOurs) ours.exchange = nullptr;
    if (!options.runRaw) rawSide.exchange = nullptr;
    const Pair q = Alternate(options.queries, ours, rawSide);

    Table t;
    t.title = "serial  *IDN? through a pseudo-terminal, 115200 baud, no handshaking";
    t.notes.push_back(PlanNote("queries", options.queries));
    t.notes.push_back("ours: clsComm::Receive(\"*IDN?\")");
    t.notes.push_back("raw: open + raw mode, write \"*IDN?\\r\\n\", poll + read until LF");
    t.notes.push_back("threads: " + std::to_string(Minus(withInstruments, before).size()) +
                      " instrument (not counted), " + std::to_string(helpers.size()) +
                      " started by the driver (counted on our side)");
    AddQueryRows(t, q, 1.08, 1.4);
    AddWaitRows(
        t, options, io, ours, rawSide,
        [&] {
            if (raw.WaitForNothing(std::chrono::milliseconds(static_cast<int>(kWaitSeconds * 1000))) != 0) throw std::runtime_error("raw serial client: unexpected input");
        },
        "serial driver", 1.0);
    setup.OnLine(false);
    return t;
}

}  // namespace tessel::bench
