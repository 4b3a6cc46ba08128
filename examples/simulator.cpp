// The simulated instrument (<tessel/sim.h>, Tessel::sim): what a test of
// one's own program against an instrument looks like, the servers and their
// settings, and the instrument driven without any transport.
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include <tessel/sim.h>
#include <tessel/tessel.h>

namespace {

void ATest() {
    tessel::sim::PtyServer server;                                // serves at once
    tessel::AssignSerialPort(1, server.SlavePath());              // COM1 is the instrument
    auto port = tessel::CreateObject("Tessel.clsComm");
    tessel::QueryInterface<tessel::IPortSetup>(port)->OnLine(true);
    auto io = tessel::QueryInterface<tessel::IPort>(port);
    std::string volts = io->Receive("SOUR:VOLT 2;MEAS:VOLT?");    // "+2.000000E+00"
    std::vector<std::string> log = server.MessageLog();           // {"SOUR:VOLT 2;MEAS:VOLT?"}
    server.Access([](tessel::sim::Instrument& i) { i.InjectError(-300); });   // a fault on cue

    std::cout << volts << ", " << log.size() << " message, " << server.State().errors.size() << " error\n";
}

void Servers() {
    tessel::sim::PtyServer serial;                  // serves at once
    std::string path = serial.SlavePath();          // "/dev/pts/7": open it like a serial port

    tessel::sim::TcpServer lan;                     // 127.0.0.1, an ephemeral port
    uint16_t port = lan.Port();

    std::cout << path << " and 127.0.0.1:" << port << "\n";
}

void Settings() {
    tessel::sim::Config c;
    c.operationTime = std::chrono::seconds(2);
    c.fixedReplies["*STB?"] = "garbage";
    tessel::sim::PtyServer slow(c);

    tessel::sim::TcpOptions o;
    o.port = 0;             // an ephemeral port; 5025 for a fixed one
    o.shared = true;        // one instrument, connections served one after another
    o.instrument = c;
    tessel::sim::TcpServer lan(o);

    std::cout << slow.SlavePath() << " and 127.0.0.1:" << lan.Port() << " answer *STB? with garbage\n";
}

void WithoutATransport() {
    using namespace std::chrono_literals;
    tessel::sim::Instrument inst({.operationTime = 2s});
    auto t = tessel::sim::TimePoint{} + 1h;
    inst.Receive("INIT;*OPC?\n", false, t);
    inst.HasOutput();                 // false: *OPC? waits
    inst.NextDeadline();              // t + 2s
    inst.Update(t + 2s);
    inst.TakeOutput().bytes;          // "1\r\n"

    inst.Receive("*IDN?\n", false, t + 2s);
    std::cout << inst.TakeOutput().bytes;
}

}  // namespace

int main() {
    try {
        ATest();
        Servers();
        Settings();
        WithoutATransport();
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        return 1;
    }
}
