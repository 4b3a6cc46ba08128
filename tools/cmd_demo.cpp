// tessel demo: each driver against a simulated instrument, showing what a
// host sees: replies, status words, counts and errors with their sources.
#include <iomanip>
#include <iostream>
#include <numeric>
#include <sstream>

#include <tessel/gpib_sim.h>
#include <tessel/sim.h>
#include <tessel/th03_sim.h>

#include "cli.h"

namespace tessel::cli {
namespace {

// Prints one call and what came of it: its result, or its error.
class Show {
public:
    explicit Show(std::string call) : call_(std::move(call)) {}

    template <class F>
    void operator()(F&& fn) {
        std::cout << "  " << std::left << std::setw(44) << call_ << "-> ";
        try {
            std::cout << fn() << "\n";
        } catch (const ComError& e) {
            std::cout << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
            if (!e.Detail.empty()) std::cout << std::string(49, ' ') << e.Detail << "\n";
        }
    }

private:
    std::string call_;
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// A checked send, and what came of it.
void ShowChecked(IPort& port, const std::string& command, const std::string& note = {}) {
    Show("SendE(" + Quoted(command) + ")" + note)([&] {
        port.SendE(command);
        return std::string("passed");
    });
}

void ShowCheckedQuery(IPort& port, const std::string& query) {
    Show("SendE(" + Quoted(query) + ", reply)")([&] {
        Variant reply;
        port.SendE(query, &reply);
        return Quoted(reply.ToString());
    });
}

// A further clsComm brought on-line on `commPort`, and what came of it.
void ShowAnotherOnLine(const std::string& label, const Variant& commPort) {
    Show{label}([&] {
        auto other = QueryInterface<IPortSetup>(CreateObject("Tessel.clsComm"));
        other->Settings()->Item("Comm Port")->Value(-1, -1, commPort);
        other->OnLine(true);
        return std::string("on-line");
    });
}

std::string Fields(IPort& port) {
    std::ostringstream out;
    out << "   (Status " << port.Status() << ", Count " << port.Count() << ", Error " << port.Error() << ")";
    return out.str();
}

void SerialDemo() {
    std::cout << "\nSerial: clsComm and a simulated instrument on a pseudo-terminal\n";
    sim::PtyServer instrument;
    constexpr int16_t kPort = 1;
    AssignSerialPort(kPort, instrument.SlavePath());
    std::cout << "  instrument on " << instrument.SlavePath() << ", assigned to COM" << kPort << "\n\n";

    auto object = CreateObject("Tessel.clsComm");
    auto setup = QueryInterface<IPortSetup>(object);
    auto port = QueryInterface<IPort>(object);
    auto block = QueryInterface<IPortB>(object);
    auto settings = setup->Settings();
    settings->Item("Comm Port")->Value(-1, -1, Variant(kPort));
    settings->Item("Baud Rate")->Value(-1, -1, "115200");

    Show("OnLine = True")([&] {
        setup->OnLine(true);
        return std::string(setup->OnLine() ? "on-line" : "off-line") + ", 115200,N,8,1, RTS/CTS";
    });
    Show("Receive(\"*IDN?\")")([&] {
        const std::string reply = port->Receive("*IDN?");
        return Quoted(reply) + Fields(*port);
    });
    Show("Send(\"SOUR:VOLT 2.5\")")([&] {
        port->Send("SOUR:VOLT 2.5");
        return "sent" + Fields(*port);
    });
    Show("Receive(\"MEAS:VOLT?\")")([&] { return Quoted(port->Receive("MEAS:VOLT?")); });

    std::cout << "\n  checked sends: *CLS, *SRE 0, *ESE 61, the command with ; *OPC, *STB? polls, *ESR?\n";
    ShowChecked(*port, "INIT", "   (takes 100 ms)");
    ShowCheckedQuery(*port, "MEAS:VOLT?");
    ShowChecked(*port, "SOUR:VOLT 99", "   (out of range)");
    ShowChecked(*port, "SOUR:CURR 1", "   (no such command)");

    std::cout << "\n  blocks\n";
    std::vector<uint8_t> data(1000);
    std::iota(data.begin(), data.end(), uint8_t{0});
    Show("SendB(True, 1000 bytes, \"DATA #41000\")")([&] {
        block->SendB(true, Variant::Bytes(data), "DATA #41000");
        const std::string count = std::to_string(port->Count());
        return "Count " + count + "; instrument stored " + port->Receive("DATA:LENGth?") + " bytes";
    });
    Show("ReceiveB(1006, \"DATA? 1000\")")([&] {
        const auto bytes = block->ReceiveB(1006, "DATA? 1000").AsBytes().bytes;
        port->Receive();  // the reply's own CR LF
        const bool pattern = std::equal(bytes.begin() + 6, bytes.end(), data.begin());
        return std::to_string(bytes.size()) + " bytes: header " + Quoted(std::string(bytes.begin(), bytes.begin() + 6)) +
               (pattern ? ", then bytes 0, 1, 2, ... as sent by the instrument" : ", then unexpected data");
    });

    std::cout << "\n  time-outs and refusals\n";
    port->TimeOut(0.5f);
    Show("TimeOut = 0.5: Receive() with no reply")([&] {
        const std::string reply = port->Receive();
        return Quoted(reply) + Fields(*port);
    });
    std::cout << "  " << std::string(47, ' ') << Fields(*port) << "\n";
    ShowAnotherOnLine("a second clsComm on COM1", Variant(kPort));
    ShowAnotherOnLine("\"Comm Port\" = \"COM9\"", Variant("COM9"));
    ShowAnotherOnLine("\"Comm Port\" = 40  (/dev/ttyS39)", Variant(int16_t{40}));
    Show("OnLine = False")([&] {
        setup->OnLine(false);
        return std::string(setup->OnLine() ? "on-line" : "off-line");
    });
    Show("Send(\"*CLS\") while off-line")([&] {
        port->Send("*CLS");
        return std::string("sent");
    });
    AssignSerialPort(kPort, "");
}

void TcpDemo() {
    std::cout << "\nTCP/IP: clsEthernet and a simulated instrument on a loopback port\n";
    sim::TcpServer instrument;
    std::cout << "  instrument listening on 127.0.0.1:" << instrument.Port() << "\n\n";

    auto object = CreateObject("Tessel.clsEthernet");
    auto setup = QueryInterface<IPortSetup>(object);
    auto port = QueryInterface<IPort>(object);
    auto block = QueryInterface<IPortB>(object);
    auto ethernet = std::dynamic_pointer_cast<clsEthernet>(object);
    auto settings = setup->Settings();
    settings->Item("Remote Host")->Value(-1, -1, "127.0.0.1");
    settings->Item("Remote Port")->Value(-1, -1, Variant(int32_t{instrument.Port()}));

    Show("OnLine = True")([&] {
        setup->OnLine(true);
        return ethernet->StateString();
    });
    Show("Receive(\"*IDN?\")")([&] {
        const std::string reply = port->Receive("*IDN?");
        return Quoted(reply) + Fields(*port);
    });
    ShowChecked(*port, "SOUR:VOLT 4.5");
    ShowCheckedQuery(*port, "MEAS:VOLT?");
    ShowChecked(*port, "SIM:ERR -300", "   (device error)");
    // The block reply's own CR LF is read with it: bytes left with the socket
    // wait for the next arrival before a text Receive sees them.
    Show("ReceiveB(30009, \"DATA? 30000\")")([&] {
        const auto bytes = block->ReceiveB(30009, "DATA? 30000").AsBytes().bytes;
        const bool terminated = bytes[30007] == '\r' && bytes[30008] == '\n';
        return std::to_string(bytes.size()) + " bytes: header " + Quoted(std::string(bytes.begin(), bytes.begin() + 7)) +
               ", 30000 data bytes" + (terminated ? ", CR LF" : ", no CR LF!");
    });
    Show("TimeOut = 2.5")([&] {
        port->TimeOut(2.5f);
        return "reads back " + FormatValue(Variant(port->TimeOut())) + " (whole seconds, half to even)";
    });
    port->TimeOut(1.0f);
    Show("TimeOut = 1: Receive() with no reply")([&] {
        const std::string reply = port->Receive();
        return Quoted(reply);
    });
    std::cout << "  " << std::string(47, ' ') << Fields(*port) << "\n";
    Show("OnLine = False")([&] {
        setup->OnLine(false);
        return ethernet->StateString();
    });
    instrument.Stop();
    Show("OnLine = True, nothing listening")([&] {
        setup->OnLine(true);
        return ethernet->StateString();
    });
}

void TH03Demo() {
    std::cout << "\nTH-03: clsTH03 and the simulated loggers (COM1, COM2) of " << TH03LibraryPath() << "\n\n";
    th03sim_reset();
    auto channel = [](const char* port, const char* number) {
        auto th03 = std::make_shared<clsTH03>();
        th03->Settings()->Item("Comm Port")->Value(-1, -1, port);
        th03->Settings()->Item("Channel")->Value(-1, -1, number);
        return th03;
    };
    auto first = channel("COM1", "1");
    auto second = channel("COM1", "2");
    Show("OnLine = True (COM1, channels 1 and 2)")([&] {
        first->OnLine(true);
        second->OnLine(true);
        return std::to_string(th03sim_calls("th03_open_unit")) + " open of the logger, " +
               std::to_string(TH03ThreadUnits().Units.at(0).Users) + " users";
    });
    Show("value (channel 1)")([&] { return FormatValue(Variant(first->value())); });
    th03sim_set_next_reading(1, 2, -512);
    Show("value (channel 2, logger reads -512)")([&] { return FormatValue(Variant(second->value())); });
    Show("Cycle, Version")([&] { return std::to_string(first->Cycle()) + ", " + std::to_string(first->Version()); });
    Show("FilterFactor = 101")([&] {
        first->FilterFactor(101);
        return std::string("accepted");
    });
    th03sim_fail_next_read(1);
    Show("value, the logger fails the read")([&] { return FormatValue(Variant(first->value())); });
    Show("OnLine = False (both)")([&] {
        first->OnLine(false);
        second->OnLine(false);
        return std::to_string(th03sim_calls("th03_close_unit")) + " close of the logger";
    });
    auto absent = channel("COM3", "1");
    Show("OnLine = True, no logger on COM3")([&] {
        absent->OnLine(true);
        return std::string("on-line");
    });
}

void GpibDemo() {
    std::cout << "\nGPIB: clsGPIB and a simulated instrument at GPIB0, address 12\n";
    TesselGpibSimReset();
    TesselGpibSimPlace(0, 12, 0, 300);
    std::cout << "  library: " << GpibLibraryInUse() << "\n\n";

    auto object = CreateObject("Tessel.clsGPIB");
    auto setup = QueryInterface<IPortSetup>(object);
    auto port = QueryInterface<IPort>(object);
    setup->Settings()->Item("Primary Address")->Value(-1, -1, Variant(int16_t{12}));

    Show("OnLine = True")([&] {
        setup->OnLine(true);
        return std::string("on-line") + Fields(*port);
    });
    Show("Receive(\"*IDN?\")")([&] {
        const std::string reply = port->Receive("*IDN?");
        return Quoted(reply) + Fields(*port);
    });
    ShowChecked(*port, "INIT", "   (300 ms, then SRQ)");
    ShowCheckedQuery(*port, "MEAS:VOLT?");
    ShowChecked(*port, "SIM:ERR -300", "   (device error)");
    Show("TimeOut = 0.31")([&] {
        port->TimeOut(0.31f);
        return "reads back " + FormatValue(Variant(port->TimeOut())) + " (the next time-out code)";
    });
    port->TimeOut(0.3f);
    Show("TimeOut = 0.3: Receive() with no reply")([&] { return Quoted(port->Receive()); });
    std::cout << "  " << std::string(47, ' ') << Fields(*port) << "\n";
    Show("OnLine = False")([&] {
        setup->OnLine(false);
        return std::string("off-line");
    });
    setup->Settings()->Item("Primary Address")->Value(-1, -1, Variant(int16_t{13}));
    Show("OnLine = True, nobody at address 13")([&] {
        setup->OnLine(true);
        return std::string("on-line");
    });
}

}  // namespace

// A short exchange with the person at the console, through clsGUI.
int OperatorDemo(bool terminal) {
    if (terminal) SetOperatorConsole(OperatorConsole::Terminal);
    std::cout << "Operator console: clsGUI shows what a test sends and asks for what it reads\n";
    auto gui = std::make_shared<clsGUI>();
    IPortSetup* setup = gui.get();
    IPort* port = gui.get();
    setup->Name("Tessel demo");
    setup->Settings()->Item("X Position")->Value(-1, -1, Variant(int16_t{50}));
    setup->Settings()->Item("Y Position")->Value(-1, -1, Variant(int16_t{50}));
    setup->OnLine(true);
    const std::string command = "Connect the probe to TP4, then press OK";
    Show("Send(" + Quoted(command) + ")")([&] {
        port->Send(command);
        return std::string("OK") + Fields(*port);
    });
    Show("Receive(\"Voltage at TP4?\")")([&] {
        const std::string answer = port->Receive("Voltage at TP4?");
        return Quoted(answer) + Fields(*port);
    });
    setup->OnLine(false);
    return 0;
}

void OperatorNote() {
    std::cout << "\nOperator console: clsGUI puts a person where an instrument would be;\n"
                 "  it waits for answers, so this demo leaves it out. Try it:\n"
                 "    tessel demo --operator              (a window on the display, else the terminal)\n"
                 "    tessel demo --operator --terminal   (the terminal)\n";
}

int Demo(const DemoOptions& options) {
    if (options.operatorConsole) return OperatorDemo(options.terminal);
    std::cout << "Tessel demo: the drivers against simulated IEEE 488.2 instruments\n";
    SerialDemo();
    TcpDemo();
    TH03Demo();
    GpibDemo();
    OperatorNote();
    std::cout << "\nlive objects left: " << LiveObjectCount() << "\n";
    return 0;
}

}  // namespace tessel::cli
